// Record operations of TDataFile: reading records under the index cursor,
// moving it, and inserting, modifying and deleting records with their keys,
// BLOBs, record locks and write phases.
#include <cerrno>
#include <cstring>

#include "data_file.h"
#include "errors.h"
#include "session.h"

namespace veltra {

namespace {

// With strict change detection, a read phase around one cursor operation.
class TStrictReadPhase {
public:
    explicit TStrictReadPhase(TDataFile& t)
        : m_Table(t),
          m_Opened(t.StrictChangeDetection() && !t.LocksDisabled() && !t.InReadPhase() && !t.InWritePhase()) {
        if (m_Opened) m_Table.BeginRead();
    }
    ~TStrictReadPhase() {
        if (!m_Opened) return;
        try {
            m_Table.EndRead();
        } catch (const EVeltraEngineError&) {
            // The descriptor's close drops the lock at the latest; nothing
            // else depends on this release.
        }
    }

private:
    TDataFile& m_Table;
    bool m_Opened;
};

}  // namespace

// ------------------------------------------------------------ helpers

void TDataFile::SetCurrent(TRecord* record) {
    if (m_Current && m_Current != record) m_Current->Unpin();
    m_Current = record;
}

void TDataFile::FetchAtCursor(int direction) {
    if (!m_Index->OnEntry()) return;
    SetCurrent(nullptr);
    for (int attempt = 0;; ++attempt) {
        int32_t n = m_Index->CurrentRecord();
        if (n == 0) return;
        TFetchResult f = FetchRecord(n, TReadAhead::IndexOrder, direction);
        if (!f.TableChanged) {
            m_Current = f.Record;
            return;
        }
        if (attempt > 1000) Raise(ecLockFailure);
    }
}

// After another process's change the cursor was put back by the key its
// record had; that process may have changed the key, so the record is found
// by its slot and ID instead and the cursor put on its key as it is now.
// False, leaving the cursor where it was, when the slot no longer holds that
// record or the record is not in the current view (filtered out).
bool TDataFile::PositionOnRecord(int32_t n, int32_t id) {
    if (n < 1 || n >= NextRecordNo()) return false;
    TFetchResult f = FetchRecord(n);
    if (!f.Record) return false;
    TRecord* r = f.Record;
    if (r->IsDeleted() || r->RecordID() != id ||
        (m_Index->BitmapMode() && !m_Index->VisibleBitmap().Test(n))) {
        r->Unpin();
        return false;
    }
    if (m_Index->NaturalOrder()) m_Index->GotoRecordNumber(n);
    else m_Index->FindNearest(KeyOf(m_Index->CurrentSlot(), r->Buffer.data()).data(), true,
                              m_Index->CurrentLayout().KeySize);
    SetCurrent(nullptr);
    if (!m_Index->OnEntry() || m_Index->CurrentRecord() != n) {
        r->Unpin();
        FetchAtCursor(+1);
        return false;
    }
    m_Current = r;
    return true;
}

// A write phase that found other processes' changes has forgotten every
// cached record, the current one too. A modification or deletion goes on with
// the record it was begun on, read again: slot n must still hold the record
// with that ID (a locked record always does; an unlocked one may have been
// deleted, and its slot reused), else 8710.
void TDataFile::ReloadCurrent(int32_t n, int32_t id) {
    if (m_Current) return;
    if (n < 1 || n >= NextRecordNo()) Raise(ecRecordNotFound);
    TFetchResult f = FetchRecord(n);
    if (!f.Record) Raise(ecRecordNotFound);
    if (f.Record->IsDeleted() || f.Record->RecordID() != id) {
        f.Record->Unpin();
        Raise(ecRecordNotFound);
    }
    m_Current = f.Record;
}

void TDataFile::CopyCurrentTo(uint8_t* buffer) const {
    if (buffer && m_Current) std::memcpy(buffer, m_Current->Buffer.data(), m_Current->Buffer.size());
}

std::vector<int> TDataFile::IndexSlots() const {
    std::vector<int> slots;
    if (m_Index->HasPrimaryIndex()) slots.push_back(0);
    for (int s = 1; s <= m_Index->IndexCount(); ++s) slots.push_back(s);
    return slots;
}

std::vector<uint8_t> TDataFile::KeyOf(int slot, const uint8_t* record) const {
    std::vector<uint8_t> key(size_t(m_Index->Layout(slot).KeySize));
    BuildKey(slot, record, key.data());
    return key;
}

int TDataFile::PrefixLength(int fieldCount) const {
    const TKeyLayout& l = m_Index->CurrentLayout();
    int n = 0;
    for (int i = 0; i < fieldCount && i < int(l.Fields.size()); ++i) n += l.Fields[size_t(i)].Size + 1;
    return n;
}

// Fills a key after `fromByte` with the lowest (or highest) character of the
// table's collation sequence, the other way round for a descending index.
void TDataFile::PadKey(std::vector<uint8_t>& key, int fromByte, bool low) const {
    if (m_Index->CurrentLayout().Descending) low = !low;
    uint8_t pad = low ? m_Collation[0] : m_Collation[255];
    for (size_t i = size_t(fromByte); i < key.size(); ++i) key[i] = pad;
}

// Shared tables write every change before its write locks go; exclusive
// ones keep it in the caches until they must make room or close. A change
// scope never writes, so it grows a full cache instead of evicting; once the
// change is committed an exclusive table writes what it holds when a cache
// has grown past its size. Otherwise the caches of a long run of changes would
// grow without end, and every eviction would search past all the dirty items.
void TDataFile::WriteBack() {
    UnpinAll();
    if (!Exclusive()) {
        FlushBuffers(true);
    } else {
        TBlobFile* blob = BlobFile();
        if (m_Cache.Size() > m_Cache.Capacity() || m_Index->OverCapacity() || (blob && blob->OverCapacity())) {
            FlushBuffers(false);
            m_Cache.Trim(m_Current);
            m_Index->TrimPages();
        }
    }
    RepinCurrent();
}

void TDataFile::RepositionOnCurrent() {
    const bool natural = m_Index->NaturalOrder();
    Reposition(natural, m_Current->PhysicalNo,
               natural ? std::vector<uint8_t>() : KeyOf(m_Index->CurrentSlot(), m_Current->Buffer.data()));
}

void TDataFile::Reposition(bool natural, int32_t recordNo, const std::vector<uint8_t>& key) {
    if (natural) m_Index->GotoRecordNumber(recordNo);
    else m_Index->FindNearest(key.data(), true, int(key.size()));
    if (m_Index->Eof()) m_Index->Last();
    FetchAtCursor(+1);
}

// ------------------------------------------------------------ reading

void TDataFile::FirstRecord() {
    TStrictReadPhase phase(*this);
    m_Index->ResetCursor();
}

void TDataFile::LastRecord() {
    TStrictReadPhase phase(*this);
    m_Index->Last();
    m_Index->MoveBy(1);
}

int TDataFile::NextRecord(uint8_t* buffer) {
    TStrictReadPhase phase(*this);
    if (m_Index->Bof()) m_Index->First();
    else m_Index->MoveBy(1);
    if (!m_Index->OnEntry()) {
        InitRecord(buffer);
        return ecEOF;
    }
    FetchAtCursor(+1);
    CopyCurrentTo(buffer);
    return ecOK;
}

int TDataFile::PriorRecord(uint8_t* buffer) {
    TStrictReadPhase phase(*this);
    if (m_Index->Eof()) m_Index->Last();
    else m_Index->MoveBy(-1);
    if (!m_Index->OnEntry()) {
        InitRecord(buffer);
        return ecBOF;
    }
    FetchAtCursor(-1);
    CopyCurrentTo(buffer);
    return ecOK;
}

int TDataFile::GetCurrentRecord(uint8_t* buffer, bool lock) {
    TStrictReadPhase phase(*this);
    if (lock) {
        if (!m_Current || !m_Index->OnEntry()) Raise(ecRecordInUse);
        const int32_t n = m_Current->PhysicalNo, id = m_Current->RecordID();
        try {
            LockRecord(n);
        } catch (...) {
            // Locking opened a read phase; a refused lock must not leave it
            // holding the read lock, which would stall every writer.
            if (!m_StrictChangeDetection) EndRead();
            throw;
        }
        // Locking opened a read phase; when it found other processes' changes
        // the cached image is gone and the record is read again under the lock.
        // Another process may have deleted the record and a later insertion
        // reused its slot: the same slot with another ID is gone too.
        if (!m_Current) PositionOnRecord(n, id);
        bool gone = !m_Current || m_Current->PhysicalNo != n || m_Current->IsDeleted() || m_Current->RecordID() != id;
        if (!m_StrictChangeDetection) EndRead();
        if (gone) {
            UnlockRecord(n);
            if (buffer) InitRecord(buffer);
            return ecRecordNotFound;
        }
    }
    if (m_Index->Bof() || (!m_Index->OnEntry() && !m_Index->Eof())) {
        if (buffer) InitRecord(buffer);
        return ecBOF;
    }
    if (m_Index->Eof()) {
        if (buffer) InitRecord(buffer);
        return ecEOF;
    }
    if (!m_Current) FetchAtCursor(+1);
    CopyCurrentTo(buffer);
    return ecOK;
}

void TDataFile::GotoRecordNumber(int64_t n) {
    TStrictReadPhase phase(*this);
    m_Index->GotoRecordNumber(n);
    FetchAtCursor(+1);
}

std::vector<uint8_t> TDataFile::GetBookmark() {
    if (!m_Index->OnEntry()) return {};
    if (m_Index->NaturalOrder()) {
        std::vector<uint8_t> b(4);
        PutI32(b.data(), m_Index->CurrentRecord());
        return b;
    }
    return m_Index->CurrentKey();
}

void TDataFile::GotoBookmark(const std::vector<uint8_t>& bookmark) {
    TStrictReadPhase phase(*this);
    bool natural = m_Index->NaturalOrder();
    if (bookmark.size() != size_t(natural ? 4 : m_Index->CurrentLayout().KeySize)) Raise(ecRecordNotFound);
    if (natural) m_Index->GotoRecordNumber(GetI32(bookmark.data()));
    else m_Index->FindNearest(bookmark.data(), true, int(bookmark.size()));
    FetchAtCursor(+1);
}

int TDataFile::CompareBookmarks(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
    if (m_Index->NaturalOrder()) {
        int32_t x = GetI32(a.data()), y = GetI32(b.data());
        return x < y ? -1 : x > y;
    }
    return m_Index->CompareKeys(a.data(), b.data(), int(std::min(a.size(), b.size())));
}

int64_t TDataFile::RecordCount() {
    TStrictReadPhase phase(*this);
    return m_Index->VisibleCount();
}

int64_t TDataFile::CurrentRecordNumber() {
    TStrictReadPhase phase(*this);
    return m_Index->RecordNumber();
}

void TDataFile::Refresh() {
    bool opened = !InReadPhase() && !InWritePhase();
    const bool onRecord = m_Current && m_Index->OnEntry();
    const int32_t n = onRecord ? m_Current->PhysicalNo : 0, id = onRecord ? m_Current->RecordID() : 0;
    bool changed = BeginRead();
    if (!changed && m_Index->OnEntry()) {
        std::vector<uint8_t> bookmark = GetBookmark();
        m_Index->ResetCursor();
        GotoBookmark(bookmark);
    } else if (!(changed && onRecord && PositionOnRecord(n, id))) {
        // The record is gone (or was never there): the cursor stands where
        // its old key would sort, on the record after it.
        FetchAtCursor(+1);
    }
    if (opened) EndRead();
}

std::string TDataFile::CurrentIndexName() const {
    int slot = m_Index->CurrentSlot();
    return slot >= 1 && slot <= m_Index->IndexCount() ? m_Index->ReadDescriptor(slot).Name() : std::string();
}

void TDataFile::SelectIndexByName(const std::string& name) {
    if (SameNameNoCase(name, CurrentIndexName())) return;
    // An unknown name is refused before anything changes: the order, range
    // and position in force stay as they were.
    bool known = name.empty();
    for (int slot = 1; slot <= m_Index->IndexCount() && !known; ++slot)
        known = SameNameNoCase(m_Index->ReadDescriptor(slot).Name(), name);
    if (!known) RaiseEngineError(ecInvalidIndexName, FileName(), {}, name);
    bool opened = !InReadPhase() && !InWritePhase();
    BeginRead();
    try {
        m_Index->CancelRange();
        m_Index->SelectIndexByName(name);
        if (!SameNameNoCase(name, CurrentIndexName())) RaiseEngineError(ecInvalidIndexName, FileName(), {}, name);
        m_Index->ResetCursor();
    } catch (...) {
        if (opened) EndRead();
        throw;
    }
    if (opened) EndRead();
}

bool TDataFile::FindKey(const uint8_t* source, const uint8_t* rawKey, int fieldCount, uint8_t* buffer) {
    TStrictReadPhase phase(*this);
    if (m_Index->NaturalOrder()) return false;
    const TKeyLayout& l = m_Index->CurrentLayout();
    std::vector<uint8_t> key(size_t(l.KeySize), 0);
    if (rawKey) std::memcpy(key.data(), rawKey, key.size());
    else key = KeyOf(m_Index->CurrentSlot(), source);
    const bool exact = fieldCount >= int(l.Fields.size()) && l.Unique;
    const int length = exact ? l.KeySize : PrefixLength(fieldCount);
    if (!exact) PadKey(key, length, true);
    bool found = false;
    // The search may run over cached pages; when fetching the record found
    // reveals another process's change, the caches are forgotten and the
    // cursor is put back by key, nearest match, which is another record when
    // the one found was deleted meanwhile. Then the index is searched again.
    for (int attempt = 0;; ++attempt) {
        found = exact ? m_Index->FindKey(key.data()) : m_Index->FindNearest(key.data(), true, length);
        if (m_Index->Eof()) m_Index->Last();
        FetchAtCursor(+1);
        if (!found || !m_Current || attempt >= 3) break;
        std::vector<uint8_t> landed = KeyOf(m_Index->CurrentSlot(), m_Current->Buffer.data());
        if (m_Index->CompareKeys(landed.data(), key.data(), length) == 0) break;
    }
    CopyCurrentTo(buffer);
    return found;
}

void TDataFile::SetRange(const uint8_t* startSource, int startFields, const uint8_t* endSource, int endFields) {
    TStrictReadPhase phase(*this);
    const TKeyLayout& l = m_Index->CurrentLayout();
    const int slot = m_Index->CurrentSlot();
    std::vector<uint8_t> start(size_t(l.KeySize), 0), end(size_t(l.KeySize), 0);
    if (startSource) start = KeyOf(slot, startSource);
    if (endSource) end = KeyOf(slot, endSource);
    const int fields = int(l.Fields.size());
    if (startFields < fields || l.HasRecordIdSuffix) PadKey(start, PrefixLength(startFields), true);
    if (endFields < fields || l.HasRecordIdSuffix) PadKey(end, PrefixLength(endFields), false);
    m_Index->SetRangeStart(start.data());
    m_Index->SetRangeEnd(end.data());
    m_Index->ApplyRange();
}

void TDataFile::CancelRange() {
    TStrictReadPhase phase(*this);
    m_Index->CancelRange();
}

int TDataFile::SyncToCursor(TDataFile& other) {
    TStrictReadPhase phase(*this);
    TRecord* theirs = other.CurrentRecord();
    if (m_Index->NaturalOrder()) {
        if (!theirs) return ecRecordNotFound;
        m_Index->GotoRecordNumber(theirs->PhysicalNo);
        FetchAtCursor(+1);
        return m_Index->CurrentRecord() == theirs->PhysicalNo ? ecOK : ecRecordNotFound;
    }
    std::vector<uint8_t> key(size_t(m_Index->CurrentLayout().KeySize), 0);
    if (theirs) key = KeyOf(m_Index->CurrentSlot(), theirs->Buffer.data());
    bool found = m_Index->FindKey(key.data());
    FetchAtCursor(+1);
    return found ? ecOK : ecRecordNotFound;
}

std::unique_ptr<TDataFile> TDataFile::CloneCursor() {
    if (Exclusive()) RaiseOsError(EACCES, FileName());
    bool opened = !InReadPhase() && !InWritePhase();
    BeginRead();
    std::string password = Encrypted() ? StoredPassword() : std::string();
    bool addedPassword = Encrypted() && !HasPassword(password);
    try {
        if (addedPassword) AddPassword(password);
        auto clone = std::make_unique<TDataFile>();
        clone->SetFileName(FileName());
        clone->SetReadOnly(ReadOnly() && !ReadOnlyForced());
        clone->SetStrictChangeDetection(m_StrictChangeDetection);
        clone->SetLockRetryCount(m_LockRetryCount);
        clone->SetLockWaitTime(m_LockWaitTime);
        clone->OpenTable();
        clone->m_Descriptors = m_Descriptors;
        clone->m_Index->SelectIndex(m_Index->CurrentSlot());
        if (m_Index->RangeActive()) {
            clone->m_Index->SetRangeStart(m_Index->RangeStartKey().data());
            clone->m_Index->SetRangeEnd(m_Index->RangeEndKey().data());
            clone->m_Index->ApplyRange();
        }
        for (TFilter* f : m_Index->Filters()) {
            TFilterHandle h = clone->AddFilter(f->Expression ? f->Expression->Clone() : nullptr, f->Callback);
            if (f->Active) CheckEngineResult(clone->ActivateFilter(h), FileName());
        }
        clone->SyncToCursor(*this);
        if (addedPassword) RemovePassword(password);
        if (opened) EndRead();
        return clone;
    } catch (...) {
        if (addedPassword) RemovePassword(password);
        if (opened) EndRead();
        throw;
    }
}

TFilterHandle TDataFile::AddFilter(std::unique_ptr<TFilterEvaluator> expression, TFilterCallback callback) {
    TFilterHandle handle = nullptr;
    CheckEngineResult(m_Index->AddFilter(std::move(expression), std::move(callback), handle), FileName());
    return handle;
}

int TDataFile::ActivateFilter(TFilterHandle handle) {
    int code = m_Index->ActivateFilter(handle);
    if (code == ecOK) m_Index->ResetCursor();
    return code;
}

int TDataFile::DeactivateFilter(TFilterHandle handle) {
    int code = m_Index->DeactivateFilter(handle);
    if (code == ecOK) m_Index->ResetCursor();
    return code;
}

int TDataFile::RemoveFilter(TFilterHandle handle) {
    int code = m_Index->RemoveFilter(handle);
    if (code == ecOK) m_Index->ResetCursor();
    return code;
}

// ------------------------------------------------------------ changes

namespace {

// What the open BLOBs looked like before a change wrote them, so that a change
// that fails leaves them as they were too.
struct TOpenBlobState {
    int32_t Handle;
    int32_t FirstBlock;
    int32_t OwnerRecord;
    bool Modified;
};

std::vector<TOpenBlobState> SaveOpenBlobs(TBlobFile* blob) {
    std::vector<TOpenBlobState> saved;
    if (!blob) return saved;
    for (int32_t h = -1; h >= -kMaxOpenBlobs; --h)
        if (TBlobBuffer* b = blob->OpenBlobBuffer(h)) saved.push_back({h, b->FirstBlock, b->OwnerRecord, b->Modified});
    return saved;
}

void RestoreOpenBlobs(TBlobFile* blob, const std::vector<TOpenBlobState>& saved) {
    for (const auto& s : saved) {
        if (TBlobBuffer* b = blob->OpenBlobBuffer(s.Handle)) {
            b->FirstBlock = s.FirstBlock;
            b->OwnerRecord = s.OwnerRecord;
            b->Modified = s.Modified;
        }
    }
}

}  // namespace

void TDataFile::InsertRecord(uint8_t* buffer, bool reposition) {
    if (ReadOnly()) RaiseOsError(EACCES, FileName());
    BeginWrite();
    const int32_t slot = NextSlotNumber();
    bool locked = false;
    TBlobFile* blob = BlobFieldCount() != 0 ? BlobFile() : nullptr;
    std::vector<TOpenBlobState> blobs = SaveOpenBlobs(blob);
    auto finish = [&] {
        if (locked) UnlockRecord(slot);
        EndWrite();
    };
    try {
        LockRecord(slot);
        locked = true;
        ValidateRecord(buffer);
        const int32_t id = LastRecordID() == INT32_MAX ? 1 : LastRecordID() + 1;
        PutI32(buffer + 5, id);

        // Every key is checked before anything changes.
        std::vector<std::pair<int, std::vector<uint8_t>>> keys;
        for (int s : IndexSlots()) {
            keys.emplace_back(s, KeyOf(s, buffer));
            m_Index->CheckKeyViolation(s, keys.back().second.data());
        }

        TTableChange change(*this);
        for (auto& [s, key] : keys) m_Index->InsertKey(s, key.data(), slot);
        const bool reuse = slot == FirstFreeRecord() && slot != NextRecordNo();
        TRecord* r = NewRecordSlot();
        const int32_t oldId = r->RecordID();
        MarkRecordDirty(*r);
        if (m_Index->HasPrimaryIndex()) {
            uint8_t fresh[5] = {0}, old[5] = {1};
            PutKeyRecordId(fresh + 1, id);
            PutKeyRecordId(old + 1, oldId);
            if (reuse) m_Index->ReplaceKey(kDeletedIndexSlot, old, fresh, slot);
            else m_Index->InsertKey(kDeletedIndexSlot, fresh, slot);
        }
        std::fill(r->Buffer.begin(), r->Buffer.end(), 0);
        TakeRecordID();
        std::memcpy(r->Buffer.data() + kRecordHeaderSize, buffer + kRecordHeaderSize,
                    r->Buffer.size() - kRecordHeaderSize);
        r->SetRecordID(id);
        r->SetStatus(0);
        r->SetLink(slot);
        m_Index->IncrementRecordCount();
        if (blob) {
            blob->SetOwnerOfOpenBlobs(slot);
            blob->WriteOpenBlobs();
            blob->StoreOpenBlobOffsets(r->Buffer.data());
        }
        change.Commit();
        PutI32(buffer + 1, slot);
        m_Index->RecordAdded(slot, r->Buffer.data());
        SetCurrent(r);
        WriteBack();
        if (reposition) RepositionOnCurrent();
    } catch (...) {
        if (blob) RestoreOpenBlobs(blob, blobs);
        finish();
        throw;
    }
    finish();
}

void TDataFile::ModifyRecord(uint8_t* buffer, bool unlock, bool reposition) {
    if (ReadOnly()) RaiseOsError(EACCES, FileName());
    // Reading a BLOB of the locked record may have opened a read phase that
    // found other processes' changes and forgot the cached current record;
    // the cursor still stands on it, and the buffer holds its ID.
    const int32_t locked = m_Current ? m_Current->PhysicalNo : m_Index->OnEntry() ? m_Index->CurrentRecord() : 0;
    const int32_t lockedId = m_Current ? m_Current->RecordID() : GetI32(buffer + 5);
    if (locked == 0) Raise(ecRecordNotFound);
    BeginWrite();
    TBlobFile* blob = BlobFieldCount() != 0 ? BlobFile() : nullptr;
    std::vector<TOpenBlobState> blobs = SaveOpenBlobs(blob);
    try {
        ReloadCurrent(locked, lockedId);
        ValidateRecord(buffer);
        TRecord* r = m_Current;
        const int32_t n = r->PhysicalNo;
        PutI32(buffer + 5, r->RecordID());
        PutI32(buffer + 1, n);

        std::vector<std::tuple<int, std::vector<uint8_t>, std::vector<uint8_t>>> changed;
        for (int s : IndexSlots()) {
            std::vector<uint8_t> oldKey = KeyOf(s, r->Buffer.data()), newKey = KeyOf(s, buffer);
            if (oldKey == newKey) continue;
            m_Index->CheckKeyViolation(s, newKey.data());
            changed.emplace_back(s, std::move(oldKey), std::move(newKey));
        }

        TTableChange change(*this);
        for (auto& [s, oldKey, newKey] : changed) m_Index->ReplaceKey(s, oldKey.data(), newKey.data(), n);
        MarkRecordDirty(*r);
        std::memcpy(r->Buffer.data() + kRecordHeaderSize, buffer + kRecordHeaderSize,
                    r->Buffer.size() - kRecordHeaderSize);
        if (blob) {
            blob->SetOwnerOfOpenBlobs(n);
            blob->WriteOpenBlobs();
            blob->StoreOpenBlobOffsets(r->Buffer.data());
        }
        change.Commit();
        m_Index->RecordAdded(n, r->Buffer.data());
        WriteBack();
        if (unlock) UnlockRecord(n);
        if (reposition) RepositionOnCurrent();
    } catch (...) {
        if (blob) RestoreOpenBlobs(blob, blobs);
        EndWrite();
        throw;
    }
    EndWrite();
}

void TDataFile::DeleteRecord(bool reposition) {
    if (ReadOnly()) RaiseOsError(EACCES, FileName());
    if (!m_Current) Raise(ecRecordNotFound);
    const int32_t current = m_Current->PhysicalNo, currentId = m_Current->RecordID();
    BeginWrite();
    int32_t n = 0;
    bool locked = false;
    TBlobFile* blob = BlobFieldCount() != 0 ? BlobFile() : nullptr;
    std::vector<int> openedFields;
    std::vector<uint8_t> copy;
    auto finish = [&] {
        for (int f : openedFields)
            if (IsBlobFieldOpen(f, copy.data())) CloseBlobField(f, copy.data());
        if (locked) UnlockRecord(n);
        EndWrite();
    };
    try {
        ReloadCurrent(current, currentId);
        TRecord* r = m_Current;
        n = r->PhysicalNo;
        LockRecord(n);
        locked = true;
        copy = r->Buffer;
        std::vector<uint8_t> cursorKey = m_Index->NaturalOrder() ? std::vector<uint8_t>()
                                                                 : KeyOf(m_Index->CurrentSlot(), copy.data());

        TTableChange change(*this);
        for (int s : IndexSlots()) m_Index->DeleteKey(s, KeyOf(s, copy.data()).data());
        if (m_Index->HasPrimaryIndex()) {
            uint8_t live[5] = {0}, gone[5] = {1};
            PutKeyRecordId(live + 1, r->RecordID());
            PutKeyRecordId(gone + 1, r->RecordID());
            m_Index->ReplaceKey(kDeletedIndexSlot, live, gone, n);
        }
        m_Index->DecrementRecordCount();
        if (blob) {
            for (int f = 1; f <= FieldCount(); ++f) {
                if (m_Descriptors[size_t(f - 1)].FieldType() != ftBlob) continue;
                CheckEngineResult(OpenBlobField(f, kBlobRead, copy.data()), FileName());
                openedFields.push_back(f);
                CheckEngineResult(TruncateBlobField(f, copy.data(), 0), FileName());
            }
            blob->SetOwnerOfOpenBlobs(n);
            blob->WriteOpenBlobs();
            blob->StoreOpenBlobOffsets(r->Buffer.data());
        }
        FreeRecordSlot(*r);
        change.Commit();
        m_Index->RecordRemoved(n);
        WriteBack();
        if (reposition) Reposition(m_Index->NaturalOrder(), n, cursorKey);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TDataFile::UnlockCurrentRecord() { UnlockRecord(0); }

}  // namespace veltra
