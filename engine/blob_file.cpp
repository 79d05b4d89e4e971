#include "blob_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>

#include "codec.h"
#include "data_file.h"
#include "errors.h"
#include "session.h"
#include "table_format.h"

namespace veltra {

namespace {

// Block header offsets.
namespace bb {
constexpr int PrevBlock = 0, NextBlock = 4, UsedBytes = 8, OwnerRecord = 10, TotalSize = 14;
}  // namespace bb

constexpr int32_t kMaxBlobFileOffset = 2'000'000'000;
constexpr int64_t kMaxBlobSize = INT32_MAX;  // TotalSize is an int32
// Loading a BLOB starts over when another process changed the table under
// it; a table that keeps changing faster than one BLOB can be read is
// reported as a lock failure instead of being retried for ever.
constexpr int kMaxLoadRestarts = 1000;
constexpr int64_t kReserveLimit = 16 << 20;

// Leaves `code` in the session's error context (as a raised error would) for
// operations that report codes, so that CheckEngineResult can name the file.
int Report(int code, const std::string& fileName) {
    if (code != ecOK && EngineStarted()) {
        TErrorContext& ctx = CurrentSession().ErrorContext;
        uint16_t os = ctx.OsError;
        ctx = TErrorContext{};
        ctx.OsError = os;
        ctx.ErrorCode = uint16_t(code);
        ctx.FileName = ShortString(fileName);
    }
    return code;
}

}  // namespace

// ---------------------------------------------------------------- pin guard

void TBlobFile::TPinGuard::Reset() {
    if (m_Block && m_File.m_Generation == m_Generation) m_File.Unpin(m_Block);
    m_Block = nullptr;
}

TBlock* TBlobFile::TPinGuard::Release() {
    TBlock* b = m_Block;
    m_Block = nullptr;
    return b;
}

// ---------------------------------------------------------------- file and header

TBlobFile::TBlobFile(TDataFile& owner) : m_Owner(owner) {}
TBlobFile::~TBlobFile() = default;

std::string TBlobFile::ExpandFileName(const std::string& name) const {
    return TFileHandler::ExpandFileName(ForceExtension(name, "BLB"));
}

void TBlobFile::Open() {
    if (IsOpen()) return;
    m_Locks.Reset();
    ResetState();
    m_BlockSize = m_Owner.BlobBlockSize();
    TFileHandler::Open();
    try {
        ReadOpeningHeader();
    } catch (...) {
        Close();
        throw;
    }
    m_Capacity = size_t(std::clamp(262140 / m_BlockSize, 1, 4096));
    m_ReadAhead = std::max(1, 65535 / m_BlockSize);
}

// Reads the header at open; see TReaderWriterLocks::ReadHeaderAtOpen for
// why a failed check is tried again under the read lock.
void TBlobFile::ReadOpeningHeader() {
    m_Locks.ReadHeaderAtOpen(m_Owner.LocksDisabled(), [&] {
        ReadHeader();
        if (m_Header[bh::Version] != kFileVersion) Raise(ecWrongVersion);
        ValidateHeader();
    });
}

void TBlobFile::Close() {
    TFileHandler::Close();
    m_Locks.Reset();
    ResetState();
}

void TBlobFile::ResetState() {
    m_Blocks.clear();
    m_Parked.clear();
    m_ByOffset.clear();
    m_Position.clear();
    m_Marked.clear();
    ++m_Generation;
    for (auto& slot : m_Open) slot.reset();
    m_WrittenInScope.fill(false);
    m_ChangeDepth = 0;
    m_HeaderBefore.reset();
    m_BlocksBefore.clear();
}

void TBlobFile::Corrupt() const { Raise(ecBlobBuffersCorrupt); }

void TBlobFile::ValidateHeader() {
    const int64_t b = m_BlockSize;
    int64_t end = EndOffset();
    int64_t firstFree = FirstFreeBlock();
    bool bad = b <= kBlobBlockHeaderSize || end < kBlobHeaderSize || (end - kBlobHeaderSize) % b != 0 ||
               GetSize() < end || (firstFree != 0 && !IsBlockOffset(firstFree));
    if (bad) Raise(ecHeaderCorrupt);
}

bool TBlobFile::IsBlockOffset(int64_t offset) const {
    return offset >= kBlobHeaderSize && offset < EndOffset() &&
           (offset - kBlobHeaderSize) % m_BlockSize == 0;
}

std::array<uint8_t, kBlobHeaderSize> TBlobFile::NewHeaderImage() {
    std::array<uint8_t, kBlobHeaderSize> h{};
    h[bh::Version] = kFileVersion;
    PutI32(&h[bh::EndOffset], kBlobHeaderSize);
    return h;
}

void TBlobFile::CreateHeader() {
    m_Header = NewHeaderImage();
    WriteHeader(true);
}

void TBlobFile::ReadHeader() {
    ReadAt(0, m_Header.data(), kBlobHeaderSize);
    if (m_Owner.Encrypted()) Scramble(m_Header.data(), kBlobHeaderSize, kTableKey);
    m_Header[bh::HeaderDirty] = 0;
}

void TBlobFile::WriteHeader(bool force) {
    if (m_ChangeDepth > 0) return;
    if (!force && m_Header[bh::HeaderDirty] == 0) return;
    PutI32(&m_Header[bh::ChangeCount], ChangeCount() + 1);
    std::array<uint8_t, kBlobHeaderSize> image = m_Header;
    if (m_Owner.Encrypted()) Scramble(image.data(), kBlobHeaderSize, kTableKey);
    WriteAt(0, image.data(), kBlobHeaderSize);
    m_Header[bh::HeaderDirty] = 0;
}

bool TBlobFile::HeaderChanged() {
    uint8_t counter[4];
    ReadAt(0, counter, 4);
    if (m_Owner.Encrypted()) Scramble(counter, 4, kTableKey);
    if (GetI32(counter) == ChangeCount()) return false;
    std::array<uint8_t, kBlobHeaderSize> before = m_Header;
    try {
        ReadHeader();
        if (m_Header[bh::Version] != kFileVersion) Raise(ecWrongVersion);
        ValidateHeader();
    } catch (...) {
        m_Header = before;
        throw;
    }
    return true;
}

int32_t TBlobFile::ChangeCount() const { return GetI32(&m_Header[bh::ChangeCount]); }
int32_t TBlobFile::FirstFreeBlock() const { return GetI32(&m_Header[bh::FirstFreeBlock]); }
int32_t TBlobFile::EndOffset() const { return GetI32(&m_Header[bh::EndOffset]); }

void TBlobFile::SetHeaderI32(int offset, int32_t value) {
    PutI32(&m_Header[size_t(offset)], value);
    m_Header[bh::HeaderDirty] = 1;
}

void TBlobFile::CheckWritable() const {
    if (ReadOnly()) RaiseOsError(EACCES, FileName());
}

// ---------------------------------------------------------------- block cache

TBlock* TBlobFile::FindBlock(int32_t offset) const {
    auto it = m_ByOffset.find(offset);
    return it == m_ByOffset.end() ? nullptr : it->second;
}

void TBlobFile::Register(TBlockList::iterator it) { m_Position[it->get()] = TPlace{it, false}; }

void TBlobFile::Touch(TBlock* block) {
    TPlace& place = m_Position.at(block);
    if (place.Parked) {
        m_Blocks.splice(m_Blocks.begin(), m_Parked, place.It);
        place.Parked = false;
    } else if (place.It != m_Blocks.begin()) {
        m_Blocks.splice(m_Blocks.begin(), m_Blocks, place.It);
    }
}

void TBlobFile::Unpark() {
    for (auto& b : m_Parked) m_Position.at(b.get()).Parked = false;
    m_Blocks.splice(m_Blocks.end(), m_Parked);
}

TBlock* TBlobFile::TakeBuffer(bool needed) {
    auto fresh = [&]() {
        auto block = std::make_unique<TBlock>();
        block->Data.assign(size_t(DataSize()), 0);
        m_Blocks.push_front(std::move(block));
        Register(m_Blocks.begin());
        return m_Blocks.front().get();
    };
    if (CachedBlocks() < m_Capacity) return fresh();
    for (int pass = 0; pass < 2; ++pass) {
        // Least recently used first. Inside a change scope a changed block
        // stays changed until the scope ends: park it out of the way.
        for (auto it = m_Blocks.end(); it != m_Blocks.begin();) {
            auto at = std::prev(it);
            TBlock* b = at->get();
            if (b->Dirty && m_ChangeDepth > 0) {
                m_Parked.splice(m_Parked.end(), m_Blocks, at);
                m_Position.at(b).Parked = true;
                continue;
            }
            if (b->Dirty || b->Pins > 0 || b->Marked) {
                it = at;
                continue;
            }
            if (b->Offset != 0) m_ByOffset.erase(b->Offset);
            b->Offset = 0;
            b->PrevBlock = b->NextBlock = b->OwnerRecord = b->TotalSize = 0;
            b->UsedBytes = 0;
            std::fill(b->Data.begin(), b->Data.end(), 0);
            Touch(b);
            return b;
        }
        if (!needed) return nullptr;
        // A change in progress must not reach the file half-done.
        if (m_ChangeDepth > 0) return fresh();
        if (pass == 0) WriteDirtyBlocks();
    }
    return nullptr;
}

void TBlobFile::Assign(TBlock* block, int32_t offset) {
    if (block->Offset != 0) m_ByOffset.erase(block->Offset);
    block->Offset = offset;
    if (offset != 0) m_ByOffset[offset] = block;
}

void TBlobFile::Forget(TBlock* block) {
    TPlace place = m_Position.at(block);
    if (block->Offset != 0) m_ByOffset.erase(block->Offset);
    m_Position.erase(block);
    (place.Parked ? m_Parked : m_Blocks).erase(place.It);
}

void TBlobFile::Pin(TBlock& block) {
    if (block.Pins >= kMaxPins) Corrupt();
    ++block.Pins;
}

void TBlobFile::Unpin(TBlock* block) {
    if (block && block->Pins > 0) --block->Pins;
}

void TBlobFile::UnpinAllBlocks() {
    for (auto& b : m_Blocks) b->Pins = 0;
    for (auto& b : m_Parked) b->Pins = 0;
}

// Forgetting the cache inside a change scope (another process's change was
// found) leaves nothing to restore but the header, which was just re-read.
void TBlobFile::DiscardBlocks() {
    m_Blocks.clear();
    m_Parked.clear();
    m_ByOffset.clear();
    m_Position.clear();
    m_Marked.clear();
    ++m_Generation;
    m_BlocksBefore.clear();
    if (m_ChangeDepth > 0) m_HeaderBefore = m_Header;
}

void TBlobFile::LoadBlock(TBlock& block, const uint8_t* image) const {
    uint8_t header[kBlobBlockHeaderSize];
    std::memcpy(header, image, kBlobBlockHeaderSize);
    if (m_Owner.Encrypted()) Scramble(header, kBlobBlockHeaderSize, kTableKey);
    block.PrevBlock = GetI32(header + bb::PrevBlock);
    block.NextBlock = GetI32(header + bb::NextBlock);
    block.UsedBytes = GetU16(header + bb::UsedBytes);
    block.OwnerRecord = GetI32(header + bb::OwnerRecord);
    block.TotalSize = GetI32(header + bb::TotalSize);
    block.Data.assign(image + kBlobBlockHeaderSize, image + m_BlockSize);
    if (m_Owner.Encrypted()) Scramble(block.Data.data(), block.Data.size(), kTableKey);
    block.Dirty = false;
}

void TBlobFile::EncodeBlock(const TBlock& block, uint8_t* image) const {
    PutI32(image + bb::PrevBlock, block.PrevBlock);
    PutI32(image + bb::NextBlock, block.NextBlock);
    PutU16(image + bb::UsedBytes, block.UsedBytes);
    PutI32(image + bb::OwnerRecord, block.OwnerRecord);
    PutI32(image + bb::TotalSize, block.TotalSize);
    std::memcpy(image + kBlobBlockHeaderSize, block.Data.data(), size_t(DataSize()));
    if (m_Owner.Encrypted()) {
        Scramble(image, kBlobBlockHeaderSize, kTableKey);
        Scramble(image + kBlobBlockHeaderSize, size_t(DataSize()), kTableKey);
    }
}

TBlock* TBlobFile::AppendBlock() {
    CheckWritable();
    int32_t offset = EndOffset();
    if (offset > kMaxBlobFileOffset) Raise(ecFileFull);
    if (TBlock* stale = FindBlock(offset)) {
        if (stale->Pins > 0) Corrupt();
        Forget(stale);
    }
    TBlock* b = TakeBuffer(true);
    if (!b) Corrupt();
    Assign(b, offset);
    if (m_ChangeDepth > 0 && !m_BlocksBefore.count(offset)) m_BlocksBefore.emplace(offset, std::nullopt);
    b->Pins = 1;
    b->Dirty = true;  // the file must grow to the new end even if nothing is stored in it
    SetHeaderI32(bh::EndOffset, offset + m_BlockSize);
    return b;
}

TBlock* TBlobFile::FetchBlock(int32_t offset, int count, bool& tableChanged) {
    tableChanged = false;
    if (offset == 0) return nullptr;
    if (offset == EndOffset()) return AppendBlock();
    if (!IsBlockOffset(offset)) Corrupt();
    if (TBlock* b = FindBlock(offset)) {
        Pin(*b);
        Touch(b);
        return b;
    }

    // Going to disk: hold the read lock while reading, and learn first whether
    // another process changed the table (then what the caller walks is stale).
    bool openedPhase = false;
    if (!m_Owner.StrictChangeDetection() && !m_Owner.InReadPhase() && !m_Owner.InWritePhase() &&
        !m_Owner.LocksDisabled()) {
        openedPhase = true;
        if (m_Owner.BeginRead()) {
            m_Owner.EndRead();
            tableChanged = true;
            return nullptr;
        }
    }
    struct TEndRead {
        TDataFile& Owner;
        bool Active;
        // A failure to release must not hide the error that is unwinding.
        ~TEndRead() noexcept(false) {
            if (!Active) return;
            if (std::uncaught_exceptions() == 0) {
                Owner.EndRead();
                return;
            }
            try {
                Owner.EndRead();
            } catch (const EVeltraEngineError&) {
            }
        }
    } endRead{m_Owner, openedPhase};

    const int64_t b = m_BlockSize;
    int64_t n = std::min<int64_t>({int64_t(m_ReadAhead), int64_t(count), (int64_t(EndOffset()) - offset) / b});
    n = std::max<int64_t>(n, 1);
    std::vector<uint8_t> run(size_t(n * b));
    size_t got = ReadAt(offset, run.data(), run.size(), true);
    // Buffered appends of an exclusive table may not be on disk yet.
    if (got < run.size() && !Exclusive()) Raise(ecReadError);

    // The requested block first, so that it always gets a buffer; neighbours
    // are loaded only while free buffers remain.
    TBlock* target = TakeBuffer(true);
    if (!target) Corrupt();
    Assign(target, offset);
    LoadBlock(*target, run.data());
    target->Marked = true;
    m_Marked.push_back(target);
    for (int64_t i = 1; i < n; ++i) {
        int32_t o = int32_t(offset + i * b);
        const uint8_t* image = &run[size_t(i * b)];
        if (TBlock* cached = FindBlock(o)) {
            if (cached->Pins == 0 && !cached->Dirty) LoadBlock(*cached, image);
            continue;
        }
        TBlock* nb = TakeBuffer(false);
        if (!nb) break;
        Assign(nb, o);
        LoadBlock(*nb, image);
        nb->Marked = true;
        m_Marked.push_back(nb);
    }
    for (TBlock* m : m_Marked) m->Marked = false;
    m_Marked.clear();
    Touch(target);
    Pin(*target);
    return target;
}

TBlock* TBlobFile::FetchForChange(int32_t offset, int count) {
    bool changed = false;
    TBlock* b = FetchBlock(offset, count, changed);
    if (changed) Raise(ecLockFailure);
    return b;
}

void TBlobFile::WriteBlocks(std::vector<TBlock*>& blocks) {
    std::sort(blocks.begin(), blocks.end(), [](const TBlock* a, const TBlock* b) { return a->Offset < b->Offset; });
    const size_t bs = size_t(m_BlockSize);
    std::vector<uint8_t> run;
    size_t i = 0;
    while (i < blocks.size()) {
        size_t j = i + 1;
        while (j < blocks.size() && int64_t(blocks[j]->Offset) == int64_t(blocks[j - 1]->Offset) + m_BlockSize) ++j;
        run.assign((j - i) * bs, 0);
        for (size_t k = i; k < j; ++k) EncodeBlock(*blocks[k], &run[(k - i) * bs]);
        WriteAt(blocks[i]->Offset, run.data(), run.size());
        for (size_t k = i; k < j; ++k) blocks[k]->Dirty = false;
        i = j;
    }
}

void TBlobFile::WriteDirtyBlocks() {
    if (m_ChangeDepth > 0) return;
    std::vector<TBlock*> dirty;
    for (const TBlockList* list : {&m_Blocks, &m_Parked})
        for (auto& b : *list)
            if (b->Dirty && b->Pins == 0 && b->Offset != 0) dirty.push_back(b.get());
    if (!dirty.empty()) WriteBlocks(dirty);
}

// A change scope may have grown the cache past its size; give the clean,
// unpinned blocks beyond it back, least recently used first.
void TBlobFile::TrimCache() {
    for (auto it = m_Blocks.end(); CachedBlocks() > m_Capacity && it != m_Blocks.begin();) {
        auto at = std::prev(it);
        TBlock* b = at->get();
        if (b->Dirty || b->Pins > 0 || b->Marked) {
            it = at;
            continue;
        }
        Forget(b);
    }
}

void TBlobFile::FlushBlocks() {
    if (m_ChangeDepth > 0 || !IsOpen() || ReadOnly()) return;
    WriteDirtyBlocks();
    TrimCache();
}

// ---------------------------------------------------------------- allocation

TBlock* TBlobFile::AllocateBlock() {
    CheckWritable();
    int32_t offset = FirstFreeBlock();
    if (offset == 0 || offset == EndOffset()) {
        TBlock* b = AppendBlock();
        if (FirstFreeBlock() != 0) SetHeaderI32(bh::FirstFreeBlock, 0);
        return b;
    }
    TPinGuard b(*this, FetchForChange(offset, 1));
    int32_t next = b->NextBlock;
    // A free block in use by a walk of ours, or a free chain that points at
    // itself or outside the file, means the chain is damaged.
    if (b->Pins > 1 || (next != 0 && (!IsBlockOffset(next) || next == offset))) Corrupt();
    Modify(*b.Get());
    b->PrevBlock = b->NextBlock = b->OwnerRecord = b->TotalSize = 0;
    b->UsedBytes = 0;
    std::fill(b->Data.begin(), b->Data.end(), 0);
    SetHeaderI32(bh::FirstFreeBlock, next);
    return b.Release();
}

void TBlobFile::FreeBlock(TBlock* block) {
    if (!block || block->Offset == 0) return;
    CheckWritable();
    Modify(*block);
    block->NextBlock = FirstFreeBlock();
    SetHeaderI32(bh::FirstFreeBlock, block->Offset);
}

std::vector<int32_t> TBlobFile::WalkChain(int32_t firstBlock, int32_t ownerRecord, int blockCount,
                                          const std::unordered_set<int32_t>* exclude) {
    std::vector<int32_t> chain;
    std::unordered_set<int32_t> seen;
    auto usable = [&](int32_t o) { return IsBlockOffset(o) && !seen.count(o) && !(exclude && exclude->count(o)); };
    int remaining = std::max(1, blockCount);
    int32_t offset = firstBlock;
    if (!usable(offset)) Corrupt();
    for (;;) {
        TPinGuard b(*this, FetchForChange(offset, remaining));
        if (b->OwnerRecord != ownerRecord) Corrupt();
        chain.push_back(offset);
        seen.insert(offset);
        int32_t next = b->NextBlock;
        if (next == 0) break;
        if (!usable(next)) Corrupt();
        offset = next;
        remaining = std::max(1, remaining - 1);
    }
    return chain;
}

// The whole chain is checked before the first block is freed, so a broken
// chain leaves the file as it was.
void TBlobFile::FreeChainExcept(int32_t firstBlock, int32_t ownerRecord, int blockCount,
                                const std::unordered_set<int32_t>* exclude) {
    if (firstBlock == 0) return;
    CheckWritable();
    std::vector<int32_t> chain = WalkChain(firstBlock, ownerRecord, blockCount, exclude);
    BeginChange();
    try {
        int remaining = int(chain.size());
        for (int32_t o : chain) {
            TPinGuard b(*this, FetchForChange(o, remaining--));
            FreeBlock(b.Get());
        }
    } catch (...) {
        EndChange(false);
        throw;
    }
    EndChange(true);
}

void TBlobFile::FreeChain(int32_t firstBlock, int32_t ownerRecord, int blockCount) {
    FreeChainExcept(firstBlock, ownerRecord, blockCount, nullptr);
}

int TBlobFile::BlocksFor(int64_t bytes) const {
    if (bytes <= 0) return 1;
    int64_t blocks = (bytes + DataSize() - 1) / DataSize();
    return int(std::clamp<int64_t>(blocks, 1, INT32_MAX));
}

// ---------------------------------------------------------------- change scopes

void TBlobFile::BeginChange() {
    if (m_ChangeDepth++ > 0) return;
    m_HeaderBefore = m_Header;
    m_BlocksBefore.clear();
    m_WrittenInScope.fill(false);
    for (size_t i = 0; i < m_Open.size(); ++i) {
        const TBlobBuffer* blob = m_Open[i].get();
        m_OpenBefore[i] = blob ? TOpenBlobMemo{m_OpenSerial[i], blob->FirstBlock, blob->OwnerRecord, blob->Modified}
                               : TOpenBlobMemo{};
    }
}

// A failed inner scope makes the whole outer change fail: the exception that
// ended it passes through the outer scope too, which then rolls back.
void TBlobFile::EndChange(bool commit) {
    if (m_ChangeDepth == 0) return;
    if (--m_ChangeDepth > 0) return;
    if (!commit) Rollback();
    Unpark();
    m_HeaderBefore.reset();
    m_BlocksBefore.clear();
    m_WrittenInScope.fill(false);
}

void TBlobFile::Modify(TBlock& block) {
    if (m_ChangeDepth > 0 && !m_BlocksBefore.count(block.Offset)) {
        TBlock before = block;
        before.Pins = 0;
        before.Marked = false;
        m_BlocksBefore.emplace(block.Offset, std::move(before));
    }
    block.Dirty = true;
}

void TBlobFile::Rollback() {
    if (m_HeaderBefore) m_Header = *m_HeaderBefore;
    for (auto& [offset, before] : m_BlocksBefore) {
        TBlock* cached = FindBlock(offset);
        if (!before) {  // appended by the change: the file never had it
            if (cached) Forget(cached);
            continue;
        }
        if (cached) {
            uint16_t pins = cached->Pins;
            *cached = *before;
            cached->Pins = pins;
        } else {
            m_Blocks.push_back(std::make_unique<TBlock>(*before));
            Register(std::prev(m_Blocks.end()));
            m_ByOffset[offset] = m_Blocks.back().get();
        }
    }
    ++m_Generation;  // blocks appended by the change are gone
    for (size_t i = 0; i < m_Open.size(); ++i) {
        TBlobBuffer* blob = m_Open[i].get();
        const TOpenBlobMemo& memo = m_OpenBefore[i];
        if (!blob || memo.Serial != m_OpenSerial[i]) continue;
        blob->OwnerRecord = memo.OwnerRecord;
        if (m_WrittenInScope[i]) {
            blob->FirstBlock = memo.FirstBlock;
            blob->Modified = true;
        } else if (memo.Modified) {
            blob->Modified = true;
        }
    }
}

// ---------------------------------------------------------------- open BLOBs

int TBlobFile::SlotOf(int32_t handle) const {
    if (handle >= 0 || handle < -kMaxOpenBlobs) return -1;
    int slot = -handle - 1;
    return m_Open[size_t(slot)] ? slot : -1;
}

bool TBlobFile::IsBlobOpen(int32_t handle) const { return SlotOf(handle) >= 0; }

TBlobBuffer* TBlobFile::OpenBlobBuffer(int32_t handle) {
    int slot = SlotOf(handle);
    return slot < 0 ? nullptr : m_Open[size_t(slot)].get();
}

int TBlobFile::OpenBlobCount() const {
    return int(std::count_if(m_Open.begin(), m_Open.end(), [](const auto& b) { return b != nullptr; }));
}

int TBlobFile::OpenBlob(int32_t firstBlock, int fieldNo, int32_t ownerRecord, int mode, int32_t& handle) {
    handle = 0;
    auto free = std::find_if(m_Open.begin(), m_Open.end(), [](const auto& b) { return b == nullptr; });
    if (free == m_Open.end()) return Report(ecTooManyBlobs, FileName());
    auto blob = std::make_unique<TBlobBuffer>();
    blob->OwnerRecord = ownerRecord;
    blob->FieldNo = fieldNo;
    blob->FirstBlock = firstBlock;
    blob->Mode = mode;
    if (firstBlock != 0) LoadBlob(*blob);
    size_t slot = size_t(free - m_Open.begin());
    *free = std::move(blob);
    m_OpenSerial[slot] = ++m_NextSerial;
    m_WrittenInScope[slot] = false;
    handle = -int32_t(slot) - 1;
    return ecOK;
}

// Reads the chain into the buffer. Each block is copied and unpinned before
// the next one is fetched: a fetch that finds another process's change may
// have forgotten every cached block, and then the walk starts over.
void TBlobFile::LoadBlob(TBlobBuffer& blob) {
    const int32_t first = blob.FirstBlock;
    const int64_t cap = DataSize();
    for (int attempt = 0;; ++attempt) {
        if (attempt > kMaxLoadRestarts) Raise(ecLockFailure);
        blob.Content.clear();
        if (!IsBlockOffset(first)) Corrupt();
        bool changed = false;
        TBlock* block = FetchBlock(first, 1, changed);
        if (changed) continue;
        if (block->OwnerRecord != blob.OwnerRecord) {
            Unpin(block);
            if (blob.Mode == kBlobWrite) Corrupt();
            return;  // read or delete: the record has no BLOB of its own here
        }
        const int64_t total = block->TotalSize;
        // The size is only a hint until the chain proves it: never reserve
        // more than the file could hold, nor more than a modest start.
        int64_t fileCapacity = (int64_t(EndOffset()) - kBlobHeaderSize) / m_BlockSize * cap;
        blob.Content.reserve(size_t(std::clamp<int64_t>(std::min(total, fileCapacity), 0, kReserveLimit)));
        std::unordered_set<int32_t> seen{first};
        for (;;) {
            TPinGuard b(*this, block);
            if (b->OwnerRecord != blob.OwnerRecord) Corrupt();
            int64_t remaining = total - int64_t(blob.Content.size());
            if (remaining <= 0) break;
            int64_t n = std::min(cap, remaining);
            bool shortBlock = b->UsedBytes < n;  // a short block ends the BLOB
            if (shortBlock) n = b->UsedBytes;
            blob.Content.insert(blob.Content.end(), b->Data.begin(), b->Data.begin() + n);
            remaining -= n;
            int32_t next = b->NextBlock;
            b.Reset();
            if (shortBlock || remaining == 0 || next == 0) break;
            if (!IsBlockOffset(next) || seen.count(next)) Corrupt();
            seen.insert(next);
            block = FetchBlock(next, BlocksFor(remaining), changed);
            if (changed) break;
        }
        if (changed) continue;
        if (int64_t(blob.Content.size()) != total) Raise(ecEndOfBlob);
        blob.Modified = false;
        return;
    }
}

int32_t TBlobFile::CloseBlob(int32_t handle) {
    int slot = SlotOf(handle);
    if (slot < 0) return 0;
    int32_t first = m_Open[size_t(slot)]->FirstBlock;
    m_Open[size_t(slot)].reset();
    m_WrittenInScope[size_t(slot)] = false;
    return first;
}

void TBlobFile::CloseAllBlobs() {
    for (auto& b : m_Open) b.reset();
    m_WrittenInScope.fill(false);
}

int TBlobFile::ReadBlob(int32_t handle, int64_t position, int64_t count, uint8_t* buffer, int64_t& bytesRead) {
    bytesRead = 0;
    TBlobBuffer* blob = OpenBlobBuffer(handle);
    if (!blob) return Report(ecInvalidBlobHandle, FileName());
    if (position < 0 || count < 0) return Report(ecInvalidBlobLength, FileName());
    const int64_t size = int64_t(blob->Content.size());
    bool pastEnd = position > size || count > size - position;
    int64_t n = pastEnd ? std::max<int64_t>(0, size - position) : count;
    if (n > 0) {
        if (!buffer) return Report(ecInvalidBlobLength, FileName());
        std::memcpy(buffer, blob->Content.data() + position, size_t(n));
    }
    bytesRead = n;
    return pastEnd ? Report(ecEndOfBlob, FileName()) : ecOK;
}

int TBlobFile::WriteBlob(int32_t handle, int64_t position, int64_t count, const uint8_t* buffer) {
    TBlobBuffer* blob = OpenBlobBuffer(handle);
    if (!blob) return Report(ecInvalidBlobHandle, FileName());
    if (position < 0 || count < 0 || position > kMaxBlobSize || count > kMaxBlobSize - position ||
        (count > 0 && !buffer))
        return Report(ecInvalidBlobLength, FileName());
    try {
        if (int64_t(blob->Content.size()) < position + count) blob->Content.resize(size_t(position + count), 0);
    } catch (const std::bad_alloc&) {
        return Report(ecOutOfMemory, FileName());
    }
    if (count > 0) std::memcpy(blob->Content.data() + position, buffer, size_t(count));
    blob->Modified = true;
    return ecOK;
}

int TBlobFile::TruncateBlob(int32_t handle, int64_t size) {
    TBlobBuffer* blob = OpenBlobBuffer(handle);
    if (!blob) return Report(ecInvalidBlobHandle, FileName());
    if (size < 0 || size > kMaxBlobSize) return Report(ecInvalidBlobLength, FileName());
    if (int64_t(blob->Content.size()) == size) return ecOK;
    try {
        blob->Content.resize(size_t(size), 0);
    } catch (const std::bad_alloc&) {
        return Report(ecOutOfMemory, FileName());
    }
    blob->Modified = true;
    return ecOK;
}

int TBlobFile::GetBlobSize(int32_t handle, int64_t& size) {
    size = 0;
    TBlobBuffer* blob = OpenBlobBuffer(handle);
    if (!blob) return Report(ecInvalidBlobHandle, FileName());
    size = int64_t(blob->Content.size());
    return ecOK;
}

// ---------------------------------------------------------------- writing records' BLOBs

void TBlobFile::SetOwnerOfOpenBlobs(int32_t recordNo) {
    for (auto& b : m_Open)
        if (b) b->OwnerRecord = recordNo;
}

// Every modified BLOB is written in one change scope of its own (nested in
// the caller's, if any), so that a broken chain found half-way leaves the
// file as it was. The open BLOBs learn their new first blocks only when all
// of them are written.
void TBlobFile::WriteOpenBlobs() {
    std::vector<size_t> slots;
    for (size_t i = 0; i < m_Open.size(); ++i)
        if (m_Open[i] && m_Open[i]->Modified) slots.push_back(i);
    if (slots.empty()) return;
    const int32_t owner = m_Open[slots.front()]->OwnerRecord;
    for (size_t i : slots)
        if (m_Open[i]->OwnerRecord != owner) Corrupt();
    CheckWritable();

    std::vector<int32_t> firsts;
    BeginChange();
    try {
        for (size_t i : slots) firsts.push_back(WriteChain(*m_Open[i]));
    } catch (...) {
        EndChange(false);
        throw;
    }
    const bool nested = m_ChangeDepth > 1;
    EndChange(true);
    for (size_t k = 0; k < slots.size(); ++k) {
        size_t i = slots[k];
        TBlobBuffer& blob = *m_Open[i];
        if (nested) {
            // Opened after the outer scope began: remember it as it was now.
            if (m_OpenBefore[i].Serial != m_OpenSerial[i])
                m_OpenBefore[i] = TOpenBlobMemo{m_OpenSerial[i], blob.FirstBlock, blob.OwnerRecord, true};
            m_WrittenInScope[i] = true;
        }
        blob.FirstBlock = firsts[k];
        blob.Modified = false;
    }
}

// Writes one BLOB over its chain: its blocks are reused in place, the chain
// is extended at its end and the surplus of a longer old chain is freed.
int32_t TBlobFile::WriteChain(const TBlobBuffer& blob) {
    const int64_t size = int64_t(blob.Content.size());
    const int32_t owner = blob.OwnerRecord;
    if (size == 0) {
        FreeChain(blob.FirstBlock, owner, BlocksFor(0));
        return 0;
    }
    if (size > kMaxBlobSize) Raise(ecInvalidBlobLength);
    const int64_t cap = DataSize();

    int64_t oldSize = 0;
    TBlock* firstBlock = nullptr;
    if (blob.FirstBlock != 0) {
        if (!IsBlockOffset(blob.FirstBlock)) Corrupt();
        firstBlock = FetchForChange(blob.FirstBlock, BlocksFor(size));
        if (firstBlock->OwnerRecord != owner) {
            Unpin(firstBlock);
            Corrupt();
        }
        oldSize = std::max<int64_t>(0, firstBlock->TotalSize);
        Modify(*firstBlock);
    } else {
        firstBlock = AllocateBlock();
        firstBlock->OwnerRecord = owner;
    }
    const int32_t first = firstBlock->Offset;
    std::unordered_set<int32_t> chain{first};
    auto cur = std::make_unique<TPinGuard>(*this, firstBlock);
    (*cur)->PrevBlock = 0;
    (*cur)->TotalSize = int32_t(size);

    int64_t written = 0;
    for (;;) {
        int64_t n = std::min(cap, size - written);
        std::memcpy((*cur)->Data.data(), blob.Content.data() + written, size_t(n));
        (*cur)->UsedBytes = uint16_t(n);
        written += n;
        if (written == size) break;

        int32_t next = (*cur)->NextBlock;
        TBlock* nb = nullptr;
        if (next != 0) {
            if (!IsBlockOffset(next) || chain.count(next)) Corrupt();
            nb = FetchForChange(next, BlocksFor(oldSize - written));
            if (nb->OwnerRecord != owner) {
                Unpin(nb);
                Corrupt();
            }
            Modify(*nb);
        } else {
            nb = AllocateBlock();
            if (chain.count(nb->Offset)) {  // the free chain runs into this BLOB
                Unpin(nb);
                Corrupt();
            }
        }
        auto following = std::make_unique<TPinGuard>(*this, nb);
        (*cur)->NextBlock = nb->Offset;
        nb->PrevBlock = (*cur)->Offset;
        nb->OwnerRecord = owner;
        nb->TotalSize = 0;
        chain.insert(nb->Offset);
        cur = std::move(following);
    }

    int32_t rest = (*cur)->NextBlock;
    if (rest != 0) {
        if (!IsBlockOffset(rest) || chain.count(rest)) Corrupt();
        FreeChainExcept(rest, owner, BlocksFor(oldSize - written), &chain);
        (*cur)->NextBlock = 0;
    }
    return first;
}

void TBlobFile::StoreOpenBlobOffsets(uint8_t* record) {
    for (const auto& blob : m_Open) {
        if (!blob) continue;
        TFieldDescriptor d = m_Owner.FieldDescriptor(blob->FieldNo);
        if (d.FieldType() != ftBlob) continue;
        uint8_t* field = record + d.Offset();
        field[0] = blob->FirstBlock != 0 ? 1 : 0;
        PutI32(field + 1, blob->FirstBlock);
    }
}

}  // namespace veltra
