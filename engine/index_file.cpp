#include "index_file.h"

#include <algorithm>
#include <cstring>

#include "codec.h"
#include "data_file.h"
#include "errors.h"
#include "table_format.h"

namespace veltra {

// ------------------------------------------------------------ descriptors

std::string TIndexDescriptor::Name() const { return GetShortString(&Bytes[id::Name], 30); }
void TIndexDescriptor::SetName(const std::string& name) { PutShortString(&Bytes[id::Name], 30, name); }
uint16_t TIndexDescriptor::KeySize() const { return GetU16(&Bytes[id::KeySize]); }
uint16_t TIndexDescriptor::FieldNumber(int i) const { return GetU16(&Bytes[id::FieldNumbers + 2 * i]); }
int32_t TIndexDescriptor::Root() const { return GetI32(&Bytes[id::Root]); }
int32_t TIndexDescriptor::FreeHead() const { return GetI32(&Bytes[id::FreeHead]); }

// ------------------------------------------------------------ page refs

TPageRef::TPageRef(std::shared_ptr<TPage> page) : m_Page(std::move(page)) {
    if (!m_Page) return;
    ++m_Page->Pins;
    if (!m_Page->InPinLog && m_Page->PinLog) {
        m_Page->InPinLog = true;
        m_Page->PinLog->push_back(m_Page);
    }
}

TPageRef& TPageRef::operator=(TPageRef&& o) noexcept {
    if (this != &o) {
        Reset();
        m_Page = std::move(o.m_Page);
    }
    return *this;
}

TPageRef::~TPageRef() { Reset(); }

void TPageRef::Reset() {
    if (m_Page && m_Page->Pins > 0) --m_Page->Pins;
    m_Page.reset();
}

// ------------------------------------------------------------ change scopes

TIndexChange::TIndexChange(TIndexFile& index) : m_Index(index) { m_Index.BeginChange(); }

TIndexChange::~TIndexChange() {
    if (!m_Done) m_Index.EndChange(false);
}

void TIndexChange::Commit() {
    if (m_Done) return;
    m_Done = true;
    m_Index.EndChange(true);
}

void TIndexFile::BeginChange() {
    if (m_ChangeDepth++ == 0) {
        m_HeaderBefore = m_Header;
        m_PagesBefore.clear();
    }
}

// A failed inner scope makes the whole outer change fail: the exception that
// ended it passes through the outer scope too, which then rolls back.
void TIndexFile::EndChange(bool commit) {
    if (m_ChangeDepth == 0) return;
    if (--m_ChangeDepth > 0) return;
    if (!commit) Rollback();
    m_HeaderBefore.reset();
    m_PagesBefore.clear();
}

void TIndexFile::Rollback() {
    InvalidateView();
    if (m_HeaderBefore) m_Header = *m_HeaderBefore;
    for (auto& [where, before] : m_PagesBefore) {
        auto [slot, offset] = where;
        TSlotCache& cache = m_Caches[size_t(slot)];
        auto it = cache.ByOffset.find(offset);
        if (!before) {  // a page appended by the change
            if (it != cache.ByOffset.end()) {
                cache.Pages.erase(it->second);
                cache.ByOffset.erase(it);
            }
            continue;
        }
        if (it != cache.ByOffset.end()) {
            TPage& page = **it->second;
            uint16_t pins = page.Pins;
            bool inPinLog = page.InPinLog;
            page = *before;
            page.Pins = pins;
            page.InPinLog = inPinLog;
        } else {
            auto copy = std::make_shared<TPage>(*before);
            copy->Pins = 0;
            copy->InPinLog = false;
            Register(slot, copy);
        }
        // A page changed before the scope is changed again.
        if (before->Changed) m_ChangedPages.insert(where);
    }
    m_CursorStale = true;
}

void TIndexFile::Modify(TPage& page) {
    InvalidateView();  // logical positions may have moved
    if (m_ChangeDepth > 0) {
        auto key = std::make_pair(page.Slot, page.Offset);
        if (!m_PagesBefore.count(key)) m_PagesBefore.emplace(key, page);
    }
    page.Changed = true;
    m_ChangedPages.emplace(page.Slot, page.Offset);
}

// ------------------------------------------------------------ file and header

TIndexFile::TIndexFile(TDataFile& owner) : m_Owner(owner) {}
TIndexFile::~TIndexFile() = default;

std::string TIndexFile::ExpandFileName(const std::string& name) const {
    return TFileHandler::ExpandFileName(ForceExtension(name, "IDX"));
}

void TIndexFile::Open() {
    if (IsOpen()) return;
    m_Locks.Reset();
    TFileHandler::Open();
    try {
        ReadOpeningHeader();
        BuildLayouts();
        m_Slot = 0;
        m_RangeActive = false;
        m_BitmapsBuilt = false;
        ClearCursor();
        m_Bof = true;
        m_Eof = false;
        // Range positions and the cursor are worked out by the first cursor
        // operation, which may need the read lock.
        m_Memo = TCursorMemo{};
        m_CursorStale = true;
    } catch (...) {
        Close();
        throw;
    }
}

// Reads the header at open; see TReaderWriterLocks::ReadHeaderAtOpen for
// why a failed check is tried again under the read lock.
void TIndexFile::ReadOpeningHeader() {
    m_Locks.ReadHeaderAtOpen(m_Owner.LocksDisabled(), [&] {
        ReadHeader();
        if (m_Header[ih::Version] != kFileVersion) Raise(ecWrongVersion);
        ValidateHeader();
    });
}

void TIndexFile::Close() {
    InvalidateView();
    ClearCursor();
    for (auto& c : m_Caches) {
        c.Pages.clear();
        c.ByOffset.clear();
    }
    m_ChangedPages.clear();
    m_PinLog.clear();
    m_Filters.clear();
    m_Live = m_RangeBits = m_Visible = TRecordBitmap();
    m_BitmapsBuilt = false;
    m_RangeActive = false;
    m_ChangeDepth = 0;
    m_HeaderBefore.reset();
    m_PagesBefore.clear();
    TFileHandler::Close();
    m_Locks.Reset();
}

void TIndexFile::Corrupt() const { RaiseEngineError(ecIndexBuffersCorrupt, FileName()); }

// Everything later code uses as an offset, count or size must be possible for
// this table: a header that fails these checks is reported as corrupt before
// any page is read.
void TIndexFile::ValidateHeader() {
    int32_t end = EndOffset();
    bool bad = end < kIndexBlockSize || end % kIndexBlockSize != 0 ||
               end > kMaxIndexFileOffset + kIndexBlockSize || IndexCount() > kMaxSecondaryIndexes ||
               RecordCount() < 0 || GetSize() < end;
    auto badOffset = [&](int32_t o) {
        return o != 0 && (o < kIndexBlockSize || o % kIndexBlockSize != 0 || o >= end);
    };
    for (int slot = 0; slot < kIndexSlotCount && !bad; ++slot) {
        if (slot > IndexCount() && slot != kDeletedIndexSlot) continue;
        TIndexDescriptor d = ReadDescriptor(slot);
        if (slot == 0 && !HasPrimaryIndex()) {
            bad = d.Root() != 0;
            continue;
        }
        bad = d.KeySize() < 1 || d.KeySize() > kMaxKeySize || d.Compression() > 3 ||
              badOffset(d.Root()) || badOffset(d.FreeHead());
        if (slot == kDeletedIndexSlot) {
            bad = bad || d.KeySize() != 5 || d.FieldCount() != 0;
            continue;
        }
        bad = bad || d.FieldCount() < 1 || d.FieldCount() > kMaxIndexFields;
        int keySize = 0;
        for (int i = 0; i < d.FieldCount() && !bad; ++i) {
            int f = d.FieldNumber(i);
            bad = f < 1 || f > m_Owner.FieldCount();
            if (!bad) keySize += m_Owner.FieldDescriptor(f).PhysicalSize() + 1;
        }
        if (!bad) {
            bool suffix = slot != 0 && !d.Unique();
            bad = keySize + (suffix ? 4 : 0) != d.KeySize();
        }
    }
    if (bad) Raise(ecHeaderCorrupt);
}

void TIndexFile::BuildLayouts() {
    for (int slot = 0; slot < kIndexSlotCount; ++slot) {
        bool used = slot == kDeletedIndexSlot || slot <= IndexCount();
        if (slot == 0 && !HasPrimaryIndex()) used = false;
        m_Layouts[size_t(slot)] = used ? TKeyLayout(ReadDescriptor(slot), slot, m_Owner) : TKeyLayout();
    }
}

std::array<uint8_t, kIndexBlockSize> TIndexFile::NewHeaderImage() {
    std::array<uint8_t, kIndexBlockSize> h{};
    h[ih::Version] = kFileVersion;
    PutI32(&h[ih::EndOffset], kIndexBlockSize);
    TIndexDescriptor deleted;
    deleted.SetName(kDeletedIndexName);
    PutU16(&deleted.Bytes[id::KeySize], 5);
    std::memcpy(&h[ih::Descriptors + kDeletedIndexSlot * kIndexDescriptorSize], deleted.Bytes.data(),
                kIndexDescriptorSize);
    return h;
}

void TIndexFile::CreateHeader() {
    m_Header = NewHeaderImage();
    WriteHeader(true);
}

void TIndexFile::ReadHeader() {
    ReadAt(0, m_Header.data(), kIndexBlockSize);
    if (m_Owner.Encrypted()) Scramble(m_Header.data(), kIndexBlockSize, kTableKey);
    m_Header[ih::HeaderChanged] = 0;
}

void TIndexFile::WriteHeader(bool force) {
    if (!force && m_Header[ih::HeaderChanged] == 0) return;
    PutI32(&m_Header[ih::ChangeCount], ChangeCount() + 1);
    std::array<uint8_t, kIndexBlockSize> image = m_Header;
    if (m_Owner.Encrypted()) Scramble(image.data(), kIndexBlockSize, kTableKey);
    WriteAt(0, image.data(), kIndexBlockSize);
    m_Header[ih::HeaderChanged] = 0;
}

bool TIndexFile::HeaderChanged() {
    uint8_t counter[4];
    ReadAt(0, counter, 4);
    if (m_Owner.Encrypted()) Scramble(counter, 4, kTableKey);
    if (GetI32(counter) == ChangeCount()) return false;
    ReadHeader();
    if (m_Header[ih::Version] != kFileVersion) Raise(ecWrongVersion);
    ValidateHeader();
    return true;
}

TIndexDescriptor TIndexFile::ReadDescriptor(int slot) const {
    TIndexDescriptor d;
    if (slot < 0 || slot >= kIndexSlotCount) return d;
    std::memcpy(d.Bytes.data(), &m_Header[ih::Descriptors + slot * kIndexDescriptorSize],
                kIndexDescriptorSize);
    return d;
}

int32_t TIndexFile::ChangeCount() const { return GetI32(&m_Header[ih::ChangeCount]); }
int32_t TIndexFile::EndOffset() const { return GetI32(&m_Header[ih::EndOffset]); }
int32_t TIndexFile::RecordCount() const { return GetI32(&m_Header[ih::RecordCount]); }
void TIndexFile::IncrementRecordCount() { SetRecordCount(RecordCount() + 1); }
void TIndexFile::DecrementRecordCount() { SetRecordCount(RecordCount() - 1); }
void TIndexFile::SetRecordCount(int32_t count) {
    PutI32(&m_Header[ih::RecordCount], count);
    MarkHeaderChanged();
}

static int DescriptorOffset(int slot) { return ih::Descriptors + slot * kIndexDescriptorSize; }

int32_t TIndexFile::Root(int slot) const { return GetI32(&m_Header[size_t(DescriptorOffset(slot) + id::Root)]); }
void TIndexFile::SetRoot(int slot, int32_t offset) {
    PutI32(&m_Header[size_t(DescriptorOffset(slot) + id::Root)], offset);
    MarkHeaderChanged();
}
int32_t TIndexFile::FreeHead(int slot) const {
    return GetI32(&m_Header[size_t(DescriptorOffset(slot) + id::FreeHead)]);
}
void TIndexFile::SetFreeHead(int slot, int32_t offset) {
    PutI32(&m_Header[size_t(DescriptorOffset(slot) + id::FreeHead)], offset);
    MarkHeaderChanged();
}

TPageFormat TIndexFile::FormatOf(int slot) const {
    const TKeyLayout& l = m_Layouts[size_t(slot)];
    return TPageFormat{l.KeySize, l.Compression, l.HasRecordIdSuffix};
}

const TKeyLayout& TIndexFile::CurrentLayout() const {
    return m_Layouts[size_t(NaturalOrder() ? 0 : m_Slot)];
}

int TIndexFile::CompareKeys(const uint8_t* a, const uint8_t* b, int length) const {
    return CurrentLayout().Compare(a, b, length);
}

std::string TIndexFile::IndexName(int slot) const {
    if (slot == 0) return "Primary";
    return ReadDescriptor(slot).Name();
}

// ------------------------------------------------------------ page cache

void TIndexFile::EnsureReadLock() {
    if (m_Owner.LocksDisabled() || m_Owner.StrictChangeDetection() || m_Owner.InReadPhase() ||
        m_Owner.InWritePhase())
        return;
    if (m_OperationDepth > 0) m_OpenedReadPhase = true;
    if (m_Owner.BeginRead()) throw TTableChanged{};
}

void TIndexFile::Register(int slot, std::shared_ptr<TPage> page) {
    page->PinLog = &m_PinLog;
    TSlotCache& cache = m_Caches[size_t(slot)];
    cache.Pages.push_front(std::move(page));
    cache.ByOffset[cache.Pages.front()->Offset] = cache.Pages.begin();
}

// Evicts the least recently used clean, unpinned page; failing that, writes
// and evicts a changed one — but never during a change scope, whose pages must
// not reach the file before it commits: the cache grows instead.
void TIndexFile::MakeRoom(int slot) {
    TSlotCache& cache = m_Caches[size_t(slot)];
    if (cache.Pages.size() < size_t(kPageCacheSize)) return;
    for (auto it = cache.Pages.rbegin(); it != cache.Pages.rend(); ++it) {
        if (!(*it)->Changed && (*it)->Pins == 0) {
            cache.ByOffset.erase((*it)->Offset);
            cache.Pages.erase(std::next(it).base());
            return;
        }
    }
    if (m_ChangeDepth > 0) return;
    for (auto it = cache.Pages.rbegin(); it != cache.Pages.rend(); ++it) {
        if ((*it)->Pins == 0) {
            std::vector<TPage*> one{it->get()};
            WritePages(one);
            cache.ByOffset.erase((*it)->Offset);
            cache.Pages.erase(std::next(it).base());
            return;
        }
    }
    Corrupt();
}

TPageRef TIndexFile::FetchPage(int slot, int32_t offset) {
    if (offset < kIndexBlockSize || offset % kIndexBlockSize != 0 || offset >= EndOffset()) Corrupt();
    TSlotCache& cache = m_Caches[size_t(slot)];
    auto it = cache.ByOffset.find(offset);
    if (it != cache.ByOffset.end()) {
        if ((*it->second)->Pins >= 64) Corrupt();
        cache.Pages.splice(cache.Pages.begin(), cache.Pages, it->second);
        return TPageRef(cache.Pages.front());
    }
    EnsureReadLock();
    if (m_PinLog.size() > size_t(4 * kPageCacheSize)) CompactPinLog();
    std::array<uint8_t, kPageSize> image;
    ReadAt(offset, image.data(), kPageSize);
    ++m_PageReads;
    if (m_Owner.Encrypted()) Scramble(image.data(), kPageSize, kTableKey);
    auto page = std::make_shared<TPage>(slot, offset, FormatOf(slot));
    if (!page->Decode(image.data())) Corrupt();
    MakeRoom(slot);
    Register(slot, page);
    return TPageRef(page);
}

TPageRef TIndexFile::ReadPage(int slot, int32_t offset) {
    return CursorOperation([&] { return FetchPage(slot, offset); });
}

TPageRef TIndexFile::NewPage(int slot, uint8_t kind) {
    int32_t head = FreeHead(slot);
    TPageRef page;
    if (head != 0) {
        page = FetchPage(slot, head);
        if (page->Count() != 0) Corrupt();  // not a freed page: the list is damaged
        Modify(*page);
        SetFreeHead(slot, page->Next);
    } else {
        int32_t end = EndOffset();
        if (end > kMaxIndexFileOffset) RaiseEngineError(ecFileFull, FileName());
        if (m_ChangeDepth > 0) m_PagesBefore.emplace(std::make_pair(slot, end), std::nullopt);
        MakeRoom(slot);
        auto fresh = std::make_shared<TPage>(slot, end, FormatOf(slot));
        Register(slot, fresh);
        page = TPageRef(fresh);
        PutI32(&m_Header[ih::EndOffset], end + kIndexBlockSize);
        MarkHeaderChanged();
    }
    page->Clear();
    page->Freed = false;
    page->Kind = kind;
    page->Prev = page->Next = page->Parent = 0;
    page->Changed = true;
    m_ChangedPages.emplace(slot, page->Offset);
    return page;
}

void TIndexFile::FreePage(TPage& page) {
    Modify(page);
    page.Clear();
    page.Freed = true;
    page.Prev = 0;
    page.Next = FreeHead(page.Slot);
    SetFreeHead(page.Slot, page.Offset);
}

std::vector<int32_t> TIndexFile::FreeList(int slot) {
    return CursorOperation([&] {
        std::vector<int32_t> list;
        for (int32_t o = FreeHead(slot); o != 0;) {
            if (list.size() > size_t(EndOffset() / kIndexBlockSize)) Corrupt();  // a cycle
            list.push_back(o);
            o = FetchPage(slot, o)->Next;
        }
        return list;
    });
}

void TIndexFile::WritePages(std::vector<TPage*>& pages) {
    std::sort(pages.begin(), pages.end(), [](TPage* a, TPage* b) { return a->Offset < b->Offset; });
    std::vector<uint8_t> run;
    size_t i = 0;
    while (i < pages.size()) {
        size_t j = i + 1;
        while (j < pages.size() && pages[j]->Offset == pages[j - 1]->Offset + kPageSize) ++j;
        run.assign((j - i) * kPageSize, 0);
        for (size_t k = i; k < j; ++k) {
            uint8_t* image = &run[(k - i) * kPageSize];
            pages[k]->Encode(image);
            if (m_Owner.Encrypted()) Scramble(image, kPageSize, kTableKey);
        }
        WriteAt(pages[i]->Offset, run.data(), run.size());
        ++m_PageWrites;
        for (size_t k = i; k < j; ++k) pages[k]->Changed = false;
        i = j;
    }
}

// Only the pages listed as changed are looked at. A listed page that was
// written since, or is no longer cached, leaves the list; a pinned one stays
// for a later flush. The written pages leave it only once the write is done.
void TIndexFile::FlushPages() {
    if (m_ChangeDepth > 0) return;  // a change in progress is never written half-done
    std::vector<TPage*> changed;
    std::vector<std::pair<int, int32_t>> done;
    for (const auto& where : m_ChangedPages) {
        const TSlotCache& cache = m_Caches[size_t(where.first)];
        auto it = cache.ByOffset.find(where.second);
        TPage* p = it == cache.ByOffset.end() ? nullptr : it->second->get();
        if (p && p->Changed && p->Pins > 0) continue;
        if (p && p->Changed) changed.push_back(p);
        done.push_back(where);
    }
    if (!changed.empty()) WritePages(changed);
    for (const auto& where : done) m_ChangedPages.erase(where);
}

bool TIndexFile::OverCapacity() const {
    for (const auto& cache : m_Caches)
        if (cache.Pages.size() > size_t(kPageCacheSize)) return true;
    return false;
}

void TIndexFile::TrimPages() {
    for (auto& cache : m_Caches) {
        for (auto it = cache.Pages.end(); cache.Pages.size() > size_t(kPageCacheSize) && it != cache.Pages.begin();) {
            auto at = std::prev(it);
            if ((*at)->Changed || (*at)->Pins > 0) {
                it = at;
                continue;
            }
            cache.ByOffset.erase((*at)->Offset);
            cache.Pages.erase(at);
        }
    }
}

// The cursor keeps where it was (its key) and is found again, in the pages
// read anew, by the next cursor operation.
void TIndexFile::InvalidatePages() {
    InvalidateView();
    ClearCursor();
    m_CursorStale = true;
    for (auto& c : m_Caches) {
        c.Pages.clear();
        c.ByOffset.clear();
    }
    m_ChangedPages.clear();
    m_PagesBefore.clear();
    m_BitmapsBuilt = false;
}

// Every pin belongs to an operation that has ended, the cursor's included:
// the cursor's leaf must be flushable too. The cursor keeps its page alive by
// reference; if the page is evicted meanwhile it was clean, so the cursor's
// copy still equals the file.
// Only pages pinned since the last call can hold pins.
void TIndexFile::UnpinAllPages() {
    for (const auto& logged : m_PinLog) {
        if (std::shared_ptr<TPage> p = logged.lock()) {
            p->Pins = 0;
            p->InPinLog = false;
        }
    }
    m_PinLog.clear();
}

// Without changes nothing unpins every page, and the log would keep growing
// with every page read: it keeps only the pages still pinned.
void TIndexFile::CompactPinLog() {
    std::erase_if(m_PinLog, [](const std::weak_ptr<TPage>& logged) {
        std::shared_ptr<TPage> p = logged.lock();
        if (!p) return true;
        if (p->Pins > 0) return false;
        p->InPinLog = false;
        return true;
    });
}

// ------------------------------------------------------------ filters

TFilter* TIndexFile::FindFilter(TFilterHandle handle) {
    for (auto& f : m_Filters)
        if (f.get() == handle) return f.get();
    return nullptr;
}

std::vector<TFilter*> TIndexFile::Filters() const {
    std::vector<TFilter*> all;
    for (const auto& f : m_Filters) all.push_back(f.get());
    return all;
}

bool TIndexFile::AnyFilterActive() const {
    return std::any_of(m_Filters.begin(), m_Filters.end(), [](const auto& f) { return f->Active; });
}

int TIndexFile::AddFilter(std::unique_ptr<TFilterEvaluator> expression, TFilterCallback callback,
                          TFilterHandle& handle) {
    handle = nullptr;
    if (!expression && !callback) return ecInvalidFilter;
    if (m_Filters.size() >= size_t(kMaxFilters)) return ecTooManyFilters;
    m_Filters.push_back(std::make_unique<TFilter>(std::move(expression), std::move(callback)));
    handle = m_Filters.back().get();
    return ecOK;
}

int TIndexFile::RemoveFilter(TFilterHandle handle) {
    TFilter* f = FindFilter(handle);
    if (!f) return ecInvalidFilterHandle;
    bool wasActive = f->Active;
    m_Filters.erase(std::find_if(m_Filters.begin(), m_Filters.end(),
                                 [&](const auto& p) { return p.get() == f; }));
    if (wasActive) CursorOperation([&] { RecomputeVisible(); });
    return ecOK;
}

int TIndexFile::ActivateFilter(TFilterHandle handle) {
    TFilter* f = FindFilter(handle);
    if (!f) return ecInvalidFilterHandle;
    CursorOperation([&] {
        if (!m_BitmapsBuilt) RebuildBitmaps();
        BuildFilterBitmap(*f);
        f->Active = true;
        RecomputeVisible();
    });
    return ecOK;
}

int TIndexFile::DeactivateFilter(TFilterHandle handle) {
    TFilter* f = FindFilter(handle);
    if (!f) return ecInvalidFilterHandle;
    if (f->Active) {
        f->Active = false;
        CursorOperation([&] { RecomputeVisible(); });
    }
    return ecOK;
}

int TIndexFile::RefreshFilter(TFilterHandle handle) {
    TFilter* f = FindFilter(handle);
    if (!f) return ecInvalidFilterHandle;
    if (f->Active) CursorOperation([&] {
            BuildFilterBitmap(*f);
            RecomputeVisible();
        });
    return ecOK;
}

}  // namespace veltra
