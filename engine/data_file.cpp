#include "data_file.h"
#include "journal.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "codec.h"
#include "errors.h"
#include "platform/locale_services.h"
#include "session.h"

namespace veltra {

TDataFile::TDataFile()
    : m_Cache(this, [this](const std::vector<TRecord*>& recs) { WriteRecords(recs); }),
      m_Index(std::make_unique<TIndexFile>(*this)),
      m_Blob(std::make_unique<TBlobFile>(*this)) {}

TDataFile::~TDataFile() {
    try {
        CloseTable();
    } catch (...) {
        // Destruction must not throw; the files are closed below regardless.
    }
}

std::string TDataFile::ExpandFileName(const std::string& name) const {
    return TFileHandler::ExpandFileName(ForceExtension(name, "DAT"));
}

void TDataFile::SetStrictChangeDetection(bool v) {
    if (!m_Active) m_StrictChangeDetection = v;
}

void TDataFile::SetForceBufferFlush(bool v) {
    if (!m_Active) m_ForceBufferFlush = v;
}

// ---------------------------------------------------------------- opening

void TDataFile::OpenTable() {
    if (m_Active) return;
    ResetLockState();
    m_Cache.Clear();
    m_Current = nullptr;
    try {
        SetWriteThrough(m_ForceBufferFlush);
        // A change that a dead writer left half-written is undone before
        // anything of the table is read.
        UndoLeftoverJournal(ResolveExistingPath(FileName()));
        Open();
        m_JournalPath = JournalPathFor(ActualPath());
        ReadHeader();
        if (m_Header[dh::Version] != kFileVersion) Raise(ecWrongVersion);
        if (LanguageID() != 0 && !IsLocaleInstalled(MakeLcid(LanguageID(), SortID())))
            Raise(ecLanguageDriver);
        CheckPassword();
        ValidateHeader();
        ReadDescriptors();
        BuildCollation();
        m_Stats = {};
        m_Cache.Configure(RecordSize(), m_RecordCacheBytes);

        for (TFileHandler* f : {static_cast<TFileHandler*>(m_Index.get()),
                                static_cast<TFileHandler*>(m_Blob.get())}) {
            f->SetFileName(FileName());
            f->SetExclusive(Exclusive());
            f->SetReadOnly(ReadOnly());
            f->SetWriteThrough(m_ForceBufferFlush);
        }
        m_Index->Open();
        if (BlobFieldCount() != 0) m_Blob->Open();
        CheckFileLength();
        m_Active = true;
        m_Index->First();
    } catch (...) {
        CloseFiles();
        throw;
    }
}

// A read-only open undoes a leftover journal too, so that it reads what
// every other process will; when this user may not write the files it reads
// them as they are instead.
void TDataFile::UndoLeftoverJournal(const std::string& dataPath) {
    try {
        UndoJournalWithOwnLocks(dataPath, m_ForceBufferFlush);
    } catch (const EVeltraEngineError&) {
        if (!ReadOnly()) throw;
    }
}

void TDataFile::CloseTable() {
    if (!m_Active) return;
    struct TCloseFiles {
        TDataFile* File;
        ~TCloseFiles() { File->CloseFiles(); }
    } closeFiles{this};  // runs even when flushing or unlocking fails
    if (Exclusive() && !ReadOnly()) {
        UnpinAll();
        FlushBuffers(false);
    }
    UnlockAllRecords();
    EndRead();
    EndWrite();
}

// Closing the descriptors also drops every OS lock still held.
void TDataFile::CloseFiles() {
    m_Active = false;
    m_Blob->Close();
    m_Index->Close();
    Close();
    ResetLockState();
    m_Descriptors.clear();
    m_Cache.Clear();
    m_Current = nullptr;
    m_Collator.reset();
}

void TDataFile::ResetLockState() {
    m_DataWriteLocked = false;
    m_ReadPhase = false;
    m_WritePhase = false;
    m_LockedRecords.clear();
}

std::string TDataFile::StoredPassword() const {
    uint8_t area[kMaxPasswordLength + 1];
    std::memcpy(area, &m_Header[dh::Password], sizeof area);
    Scramble(area + 1, std::min<size_t>(area[0], kMaxPasswordLength), kPasswordKey);
    return GetShortString(area, kMaxPasswordLength);
}

void TDataFile::CheckPassword() {
    if (!Encrypted()) return;
    std::string password = StoredPassword();
    while (!CurrentSession().Passwords.Contains(password)) {
        if (!m_PasswordCallback || !m_PasswordCallback()) Raise(ecPasswordRequired);
    }
}

// Structural checks of the header beyond the version byte: values that would
// make later arithmetic or allocations meaningless. All failures are 8961.
void TDataFile::ValidateHeader() {
    int fields = FieldCount();
    int32_t next = NextRecordNo();
    int32_t firstFree = FirstFreeRecord();
    bool bad = fields < 1 || fields > kMaxFields || RecordSize() < kRecordHeaderSize ||
               next < 1 || next > kMaxRecordNumber + 1 || firstFree < 0 || firstFree >= next ||
               LastRecordID() < 0 || BlobFieldCount() < 0 || BlobFieldCount() > fields ||
               (BlobFieldCount() > 0 && BlobBlockSize() <= kBlobBlockHeaderSize);
    if (bad) Raise(ecHeaderCorrupt);
}

// Re-reads the header after another process wrote it. What the open table was
// built on (descriptors, record and block sizes, scrambling, locale) can never
// change while it is open; a header that says otherwise is damaged, and taking
// it over would size buffers wrongly.
void TDataFile::RereadHeader() {
    std::array<uint8_t, kDataHeaderSize> before = m_Header;
    ReadHeader();
    if (m_Header[dh::Version] != kFileVersion) {
        m_Header = before;
        Raise(ecWrongVersion);
    }
    auto same = [&](int offset, int width) {
        return std::equal(&before[size_t(offset)], &before[size_t(offset + width)], &m_Header[size_t(offset)]);
    };
    bool fixedPartsKept = same(dh::BlobBlockSize, 4) && same(dh::RecordSize, 6) &&
                          same(dh::Encrypted, 1) && same(dh::LanguageID, 4);
    if (!fixedPartsKept) {
        m_Header = before;
        Raise(ecHeaderCorrupt);
    }
    try {
        ValidateHeader();
    } catch (...) {
        m_Header = before;
        throw;
    }
}

void TDataFile::ReadDescriptors() {
    int fields = FieldCount();
    std::vector<uint8_t> block(size_t(fields) * kDescriptorSize);
    ReadAt(kDataHeaderSize, block.data(), block.size());
    // The scrambled length is a 16-bit count: beyond 85 fields only the first
    // (size mod 65536) bytes are scrambled, and writers do the same.
    if (Encrypted()) Scramble(block.data(), block.size() & 0xFFFF, kTableKey);

    m_Descriptors.assign(size_t(fields), TFieldDescriptor{});
    int running = kRecordHeaderSize;
    int blobFields = 0;
    m_HasChecks = m_HasDefaults = m_HasComputed = false;
    for (int i = 0; i < fields; ++i) {
        TFieldDescriptor& d = m_Descriptors[size_t(i)];
        std::memcpy(d.Bytes.data(), &block[size_t(i) * kDescriptorSize], kDescriptorSize);
        std::memset(&d.Bytes[fd::RuntimeSlot], 0, 4);
        int physical = PhysicalSizeFor(d.FieldType(), d.Size());
        d.Bytes[fd::PhysicalSize] = uint8_t(physical);
        d.Bytes[fd::PhysicalDecimals] = d.Decimals();
        bool ok = d.FieldNo() == i + 1 && physical <= 255;
        if (d.IsAutoIncrement()) {
            ok = ok && d.Offset() == 5;
        } else if (d.IsComputed()) {
            ok = ok && d.Offset() == 0;
            m_HasComputed = true;
        } else {
            ok = ok && d.Offset() == running;
            running += d.PhysicalSize() + 1;
        }
        if (!ok || running > 0xFFFF) Raise(ecHeaderCorrupt);
        if (d.FieldType() == ftBlob) ++blobFields;
        if (d.Required() || !d.MinValue().empty() || !d.MaxValue().empty()) m_HasChecks = true;
        if (!d.DefaultValue().empty()) m_HasDefaults = true;
    }
    if (running != RecordSize() || blobFields != BlobFieldCount()) Raise(ecHeaderCorrupt);
}

void TDataFile::BuildCollation() {
    m_Collator.reset();
    if (LanguageID() != 0) {
        m_Collator = TLocaleCollator::Open(MakeLcid(LanguageID(), SortID()));
        if (!m_Collator) Raise(ecLanguageDriver);
        m_Collator->BuildCollationTable(m_Collation.data());
    } else {
        for (int i = 0; i < 256; ++i) m_Collation[size_t(i)] = uint8_t(i);
    }
}

// The data file must hold exactly NextRecordNo - 1 records after the
// descriptors. A file shorter than the descriptor block, or one that claims
// records it does not contain, is as corrupt as one with a partial record.
void TDataFile::CheckFileLength() {
    bool opened = BeginRead();
    (void)opened;
    int64_t size = GetSize();
    int64_t d = DataOffset();
    int64_t rs = RecordSize();
    bool bad = size < d || (size - d) % rs != 0 || (size - d) / rs + 1 != NextRecordNo();
    EndRead();
    if (bad) Raise(ecHeaderCorrupt);
}

// ---------------------------------------------------------------- header

void TDataFile::ReadHeader() {
    ReadAt(0, m_Header.data(), kDataHeaderSize);
    m_Header[dh::HeaderDirty] = 0;
}

void TDataFile::WriteHeader(bool force) {
    if (!HeaderDirty() && !force) return;
    PutI32(&m_Header[dh::ChangeCount], ChangeCount() + 1);
    PutF64(&m_Header[dh::LastUpdated], NowAsDateTime());
    WriteAt(0, m_Header.data(), kDataHeaderSize);
    ++m_Stats.DiskWrites;
    m_Header[dh::HeaderDirty] = 0;
}

bool TDataFile::HeaderChanged() {
    uint8_t counter[4];
    ReadAt(0, counter, 4);
    if (GetI32(counter) == ChangeCount()) return false;
    RereadHeader();
    return true;
}

void TDataFile::SetHeaderI32(int offset, int32_t v) {
    PutI32(&m_Header[size_t(offset)], v);
    m_Header[dh::HeaderDirty] = 1;
}

// ---------------------------------------------------------------- fields

TFieldDescriptor TDataFile::FieldDescriptor(int fieldNo) const {
    if (fieldNo < 1 || fieldNo > int(m_Descriptors.size()))
        RaiseEngineError(ecInvalidField, FileName(), std::to_string(fieldNo));
    return m_Descriptors[size_t(fieldNo - 1)];
}

int TDataFile::FieldNumber(const std::string& name) const {
    for (size_t i = 0; i < m_Descriptors.size(); ++i)
        if (SameNameNoCase(m_Descriptors[i].Name(), name)) return int(i) + 1;
    return 0;
}

TFieldDescriptor TDataFile::FieldDescriptorByName(const std::string& name) const {
    int n = FieldNumber(name);
    if (n == 0) RaiseEngineError(ecInvalidField, FileName(), name);
    return m_Descriptors[size_t(n - 1)];
}

// ---------------------------------------------------------------- records

void TDataFile::Pin(TRecord& r) {
    if (r.PinCount >= kMaxPins) Raise(ecRecordBuffersCorrupt);
    m_Cache.Pin(&r);
}

bool TDataFile::HasPrimaryIndex() const { return m_Index->HasPrimaryIndex(); }

void TDataFile::BuildKey(int slot, const uint8_t* record, uint8_t* key) const {
    m_Index->Layout(slot).Build(record, key);
}

TRecord* TDataFile::AppendSlot() {
    int32_t n = NextRecordNo();
    if (int64_t(n) + 1 > int64_t(kMaxRecordNumber) + 1 || int64_t(n) * RecordSize() > kMaxDataBytes)
        Raise(ecFileFull);
    if (ReadOnly()) RaiseOsError(EACCES, FileName());
    TRecord* r = m_Cache.TakeBuffer();
    if (!r) Raise(ecRecordBuffersCorrupt);
    m_Cache.Assign(r, n);
    r->PinCount = 0;
    m_Cache.Pin(r);
    r->Dirty = false;
    SetHeaderI32(dh::NextRecordNo, n + 1);
    return r;
}

void TDataFile::LoadRecord(TRecord& r, const uint8_t* image, int32_t n) {
    std::memcpy(r.Buffer.data(), image, r.Buffer.size());
    if (Encrypted()) Scramble(r.Buffer.data(), r.Buffer.size(), kTableKey);
    if (!r.IsDeleted()) r.SetLink(n);
    r.Dirty = false;
}

TFetchResult TDataFile::FetchRecord(int32_t n, TReadAhead readAhead, int direction) {
    if (n == 0) return {};
    if (n < 0 || n > NextRecordNo()) Raise(ecRecordNotFound);
    if (n == NextRecordNo()) return {AppendSlot(), false};
    ++m_Stats.Fetches;
    if (TRecord* r = m_Cache.Find(n)) {
        Pin(*r);
        m_Cache.Touch(r);
        ++m_Stats.CacheHits;
        return {r, false};
    }

    // Going to disk: hold the read lock while reading, and learn first whether
    // another process changed the table (then our cursor position is stale).
    bool openedPhase = false;
    if (!m_StrictChangeDetection && !m_ReadPhase && !m_WritePhase && !LocksDisabled()) {
        openedPhase = true;
        if (BeginRead()) {
            EndRead();
            return {nullptr, true};
        }
    }
    struct TEndRead {
        TDataFile* File;
        bool Active;
        // Releasing may fail (10249); it is reported unless another error is
        // already on its way out.
        ~TEndRead() noexcept(false) {
            if (!Active) return;
            if (std::uncaught_exceptions() == 0) {
                File->EndRead();
                return;
            }
            try {
                File->EndRead();
            } catch (const EVeltraEngineError&) {
            }
        }
    } endRead{this, openedPhase};

    const int rs = RecordSize();
    const int32_t limit = std::max(1, 32767 / rs);
    int32_t count = 1;
    if (readAhead == TReadAhead::Physical) {
        count = direction >= 0 ? std::min(limit, NextRecordNo() - n) : std::min(limit, n);
    } else if (readAhead == TReadAhead::IndexOrder && m_Index->CurrentRecord() == n) {
        count = std::max(1, m_Index->ConsecutiveRecords(limit, direction));
        count = direction >= 0 ? std::min(count, NextRecordNo() - n) : std::min(count, n);
    }
    int32_t first = direction >= 0 ? n : n - count + 1;

    std::vector<uint8_t> block(size_t(count) * size_t(rs));
    size_t got = ReadAt(DataOffset() + int64_t(first - 1) * rs, block.data(), block.size(), true);
    ++m_Stats.DiskReads;
    if (got < block.size() && !Exclusive()) Raise(ecReadError);

    // The requested slot first, so that it always gets a buffer; neighbours
    // are loaded only while free buffers remain.
    TRecord* target = m_Cache.TakeBuffer();
    if (!target) Raise(ecRecordBuffersCorrupt);
    m_Cache.Assign(target, n);
    LoadRecord(*target, &block[size_t(n - first) * size_t(rs)], n);
    m_Cache.Mark(target);
    for (int32_t i = 0; i < count; ++i) {
        int32_t slot = first + i;
        if (slot == n) continue;
        const uint8_t* image = &block[size_t(i) * size_t(rs)];
        if (TRecord* cached = m_Cache.Find(slot)) {
            if (cached->PinCount == 0 && !cached->Dirty) LoadRecord(*cached, image, slot);
            continue;
        }
        TRecord* r = m_Cache.TakeFreeBuffer();
        if (!r) break;
        m_Cache.Assign(r, slot);
        LoadRecord(*r, image, slot);
        m_Cache.Mark(r);
    }
    if (readAhead == TReadAhead::IndexOrder && m_Index->CurrentRecord() == n)
        ReadUpcoming(direction, first, count);
    m_Cache.ClearMarks();
    m_Cache.Touch(target);
    Pin(*target);
    return {target, false};
}

// An index order visits the records at random, so the records of the
// entries the cursor reaches next are rarely consecutive. Those not cached
// are read now, inside the read phase that read the current one (sorted by
// number, a run of adjacent slots with one request), and the next moves are
// served from the cache: a scan pays the read locks and the change check once
// per leaf page instead of once per record. Another process's change is found
// by the next read phase as before, which forgets them all. Only free buffers
// are taken (as for neighbours above), and a short read just ends the
// read-ahead: the record is read again, and the error raised, when it is
// needed.
void TDataFile::ReadUpcoming(int direction, int32_t skipFirst, int32_t skipCount) {
    const int rs = RecordSize();
    const int32_t limit = std::clamp<int32_t>(kUpcomingBytes / rs, 1, kUpcomingRecords);
    std::vector<int32_t>& wanted = m_Upcoming;
    m_Index->UpcomingRecords(limit, direction, wanted);
    const int32_t next = NextRecordNo();
    std::erase_if(wanted, [&](int32_t r) {
        return r < 1 || r >= next || (r >= skipFirst && r < skipFirst + skipCount) || m_Cache.Find(r);
    });
    if (wanted.empty()) return;
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    std::vector<uint8_t> block;
    for (size_t i = 0; i < wanted.size();) {
        size_t j = i + 1;
        while (j < wanted.size() && wanted[j] == wanted[j - 1] + 1) ++j;
        block.resize((j - i) * size_t(rs));
        size_t got = ReadAt(DataOffset() + int64_t(wanted[i] - 1) * rs, block.data(), block.size(), true);
        ++m_Stats.DiskReads;
        if (got < block.size()) return;
        for (size_t k = i; k < j; ++k) {
            TRecord* r = m_Cache.TakeFreeBuffer();
            if (!r) return;
            m_Cache.Assign(r, wanted[k]);
            LoadRecord(*r, &block[(k - i) * size_t(rs)], wanted[k]);
            m_Cache.Mark(r);
        }
        i = j;
    }
}

int32_t TDataFile::NextSlotNumber() const {
    int32_t head = FirstFreeRecord();
    return head != 0 && HasPrimaryIndex() ? head : NextRecordNo();
}

TRecord* TDataFile::NewRecordSlot() {
    for (;;) {
        int32_t n = NextSlotNumber();
        TFetchResult f = FetchRecord(n);
        if (f.TableChanged) continue;
        TRecord* r = f.Record;
        int32_t next = 0;
        if (r->IsDeleted()) {
            next = r->Link();
            // A chain link must name an existing slot other than itself.
            if (next < 0 || next >= NextRecordNo() || next == n) {
                r->Unpin();
                Raise(ecHeaderCorrupt);
            }
        }
        SetHeaderI32(dh::FirstFreeRecord, next);
        return r;
    }
}

void TDataFile::FreeRecordSlot(TRecord& record) {
    MarkRecordDirty(record);
    int32_t next = NextSlotNumber();
    record.SetStatus(1);
    record.SetLink(next == NextRecordNo() ? 0 : next);
    SetHeaderI32(dh::FirstFreeRecord, record.PhysicalNo);
}

int32_t TDataFile::TakeRecordID() {
    int32_t id = LastRecordID();
    if (id == INT32_MAX) id = 0;
    SetHeaderI32(dh::LastRecordID, id + 1);
    return id + 1;
}

void TDataFile::MarkRecordDirty(TRecord& record) {
    if (m_ChangeDepth > 0 && record.PhysicalNo < GetI32(&m_HeaderBefore[dh::NextRecordNo]))
        m_RecordsBefore.try_emplace(&record, record.Buffer, record.Dirty);
    record.Dirty = true;
}

// ---------------------------------------------------------------- changes

TDataFile::TTableChange::TTableChange(TDataFile& table) : m_Table(table) { m_Table.BeginChange(); }

TDataFile::TTableChange::~TTableChange() {
    if (!m_Done) m_Table.EndChange(false);
}

void TDataFile::TTableChange::Commit() {
    if (m_Done) return;
    m_Done = true;
    m_Table.EndChange(true);
}

void TDataFile::BeginChange() {
    if (m_ChangeDepth++ == 0) {
        m_HeaderBefore = m_Header;
        m_RecordsBefore.clear();
        m_Cache.SetHoldDirty(true);
    }
    m_Index->BeginChange();
    if (TBlobFile* blob = BlobFile()) blob->BeginChange();
}

void TDataFile::EndChange(bool commit) {
    if (m_ChangeDepth == 0) return;
    if (TBlobFile* blob = BlobFile()) blob->EndChange(commit);
    m_Index->EndChange(commit);
    if (--m_ChangeDepth > 0) return;
    m_Cache.SetHoldDirty(false);
    if (!commit) {
        // Slots appended by the change go; changed records get their images back.
        const int32_t next = GetI32(&m_HeaderBefore[dh::NextRecordNo]);
        std::vector<TRecord*> appended;
        m_Cache.ForEach([&](const TRecord& r) {
            if (r.PhysicalNo >= next) appended.push_back(const_cast<TRecord*>(&r));
        });
        for (TRecord* r : appended) {
            if (m_Current == r) m_Current = nullptr;
            m_Cache.Remove(r);
        }
        for (auto& [record, before] : m_RecordsBefore) {
            record->Buffer = before.first;
            record->Dirty = before.second;
        }
        m_Header = m_HeaderBefore;
    }
    m_RecordsBefore.clear();
}

void TDataFile::WriteRecords(const std::vector<TRecord*>& records) {
    const size_t rs = size_t(RecordSize());
    std::vector<uint8_t> run;
    size_t i = 0;
    while (i < records.size()) {
        size_t j = i + 1;
        while (j < records.size() && records[j]->PhysicalNo == records[j - 1]->PhysicalNo + 1) ++j;
        run.assign((j - i) * rs, 0);
        for (size_t k = i; k < j; ++k) {
            uint8_t* image = &run[(k - i) * rs];
            std::memcpy(image, records[k]->Buffer.data(), rs);
            if (Encrypted()) Scramble(image, rs, kTableKey);
        }
        WriteAt(DataOffset() + int64_t(records[i]->PhysicalNo - 1) * int64_t(rs), run.data(),
                run.size());
        ++m_Stats.DiskWrites;
        for (size_t k = i; k < j; ++k) records[k]->Dirty = false;
        i = j;
    }
}

// ---------------------------------------------------------------- write-back

// The flush is collected first and then written through the rollback
// journal, so that it reaches the three files whole or not at all.
void TDataFile::FlushBuffers(bool forceHeader) {
    if (!m_Active || ReadOnly() || m_ChangeDepth > 0) return;
    const TTableFiles files = TableFiles();
    TWriteBatch batch;
    {
        struct TDefer {
            const TTableFiles& Files;
            TDefer(const TTableFiles& files, TWriteBatch& batch) : Files(files) {
                for (size_t i = 0; i < Files.size(); ++i)
                    if (Files[i]) Files[i]->DeferWrites(&batch, int(i));
            }
            ~TDefer() {
                for (TFileHandler* f : Files)
                    if (f) f->DeferWrites(nullptr, 0);
            }
        } defer(files, batch);
        m_Cache.WriteDirty();
        WriteHeader(forceHeader);
        m_Index->FlushPages();
        m_Index->WriteHeader(false);
        if (TBlobFile* blob = BlobFile()) {
            blob->FlushBlocks();
            blob->WriteHeader(false);
        }
    }
    if (batch.Empty()) return;
    if (Journalling()) WriteThroughJournal(m_JournalPath, files, batch, m_ForceBufferFlush);
    else WriteBatch(files, batch);
}

TTableFiles TDataFile::TableFiles() {
    TBlobFile* blob = BlobFile();
    return {this, m_Index.get(), blob && blob->IsOpen() ? blob : nullptr};
}

void TDataFile::DiscardBuffers() {
    m_Cache.Clear();
    m_Current = nullptr;
}

void TDataFile::UnpinAll() {
    m_Cache.UnpinAll();
    m_Index->UnpinAllPages();
    if (TBlobFile* blob = BlobFile()) blob->UnpinAllBlocks();
}

void TDataFile::RepinCurrent() {
    if (m_Current) Pin(*m_Current);
}

}  // namespace veltra
