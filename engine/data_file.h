// TDataFile: an open table's data file, owner of its index and BLOB files.
// The byte layout of the data file is drawn in table_format.h; the lock
// protocol in lock_protocol.h.
//
// Lifecycle: created closed; the table component sets the name, Exclusive,
// ReadOnly, StrictChangeDetection, ForceBufferFlush, lock retry settings and
// the password callback, then calls OpenTable. While open, changing the name,
// Exclusive or ReadOnly raises 10031; StrictChangeDetection and
// ForceBufferFlush changes are ignored. CloseTable (or destruction) closes.
//
// Used by one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "blob_file.h"
#include "file_handler.h"
#include "index_filter.h"
#include "index_file.h"
#include "journal.h"
#include "record_cache.h"
#include "table_format.h"

namespace veltra {

class TLocaleCollator;

// How FetchRecord may read neighbouring slots in the same disk request.
// IndexOrder reads the slots that the index cursor, standing on slot n, will
// visit next with consecutive record numbers.
enum class TReadAhead { None, Physical, IndexOrder };

// In index order a read phase also reads the records of the entries the
// cursor visits next within its leaf page: at most this many, and at most
// this many bytes of record images.
constexpr int32_t kUpcomingRecords = 64;
constexpr int32_t kUpcomingBytes = 65536;

struct TFetchResult {
    TRecord* Record = nullptr;  // pinned; nullptr for slot 0 or when TableChanged
    bool TableChanged = false;  // another process changed the table: reposition and retry
};

class TDataFile : public TFileHandler {
public:
    // One change of the table: records, data header, index pages and BLOB
    // blocks. Until the outermost scope commits nothing it touched is
    // written (the caches grow instead of writing back); a scope that ends
    // without Commit puts records, headers, pages and blocks back as they
    // were, so a failed insertion, modification or deletion leaves the table
    // exactly as before, in memory and on disk.
    class TTableChange {
    public:
        explicit TTableChange(TDataFile& table);
        ~TTableChange();
        void Commit();
        TTableChange(const TTableChange&) = delete;
        TTableChange& operator=(const TTableChange&) = delete;

    private:
        TDataFile& m_Table;
        bool m_Done = false;
    };

    TDataFile();
    ~TDataFile() override;

    // ".DAT" replaces any other extension.
    std::string ExpandFileName(const std::string& name) const override;

    // Opens the three files and validates them, in this order: data file
    // open (OS errors, 11013 on sharing conflicts), header read (9217 when
    // short), version (12035), locale (15878), password (10498), descriptors
    // (8961), index and BLOB files (their own checks), file length (8961).
    // Any failure closes what was opened and re-raises.
    void OpenTable();
    // Flushes an exclusive writable table, releases every lock, closes the
    // files and forgets descriptors and caches. Does nothing when closed.
    void CloseTable();
    bool Active() const { return m_Active; }

    // Settings (see the lifecycle above).
    bool StrictChangeDetection() const { return m_StrictChangeDetection; }
    void SetStrictChangeDetection(bool v);
    bool ForceBufferFlush() const { return m_ForceBufferFlush; }
    void SetForceBufferFlush(bool v);
    uint8_t LockRetryCount() const { return m_LockRetryCount; }
    void SetLockRetryCount(uint8_t v) { m_LockRetryCount = v; }
    uint16_t LockWaitTime() const { return m_LockWaitTime; }
    void SetLockWaitTime(uint16_t v) { m_LockWaitTime = v; }
    // Bytes of record images the record cache holds, taken at the next open;
    // 0 (the default) means kRecordCacheBytes.
    void SetRecordCacheBytes(size_t bytes) { m_RecordCacheBytes = bytes; }
    // Called while the session lacks the table's password; returns true when
    // it added a password to the session.
    void SetPasswordCallback(std::function<bool()> callback) { m_PasswordCallback = std::move(callback); }

    // Header.
    void ReadHeader();
    void WriteHeader(bool force);
    bool HeaderChanged();
    int32_t ChangeCount() const { return GetI32(&m_Header[dh::ChangeCount]); }
    int32_t FirstFreeRecord() const { return GetI32(&m_Header[dh::FirstFreeRecord]); }
    int32_t NextRecordNo() const { return GetI32(&m_Header[dh::NextRecordNo]); }
    int32_t LastRecordID() const { return GetI32(&m_Header[dh::LastRecordID]); }
    int RecordSize() const { return GetU16(&m_Header[dh::RecordSize]); }
    int FieldCount() const { return GetU16(&m_Header[dh::FieldCount]); }
    int BlobFieldCount() const { return GetI16(&m_Header[dh::BlobFieldCount]); }
    int BlobBlockSize() const { return BlobBlockSizeFrom(GetI32(&m_Header[dh::BlobBlockSize])); }
    bool Encrypted() const { return m_Header[dh::Encrypted] != 0; }
    uint16_t LanguageID() const { return GetU16(&m_Header[dh::LanguageID]); }
    uint16_t SortID() const { return GetU16(&m_Header[dh::SortID]); }
    double LastUpdated() const { return GetF64(&m_Header[dh::LastUpdated]); }
    bool HeaderDirty() const { return m_Header[dh::HeaderDirty] != 0; }
    // The stored password, unscrambled.
    std::string StoredPassword() const;
    const std::array<uint8_t, kDataHeaderSize>& HeaderBytes() const { return m_Header; }
    // Offset of record 1: 127 + FieldCount x 768.
    int64_t DataOffset() const { return kDataHeaderSize + int64_t(FieldCount()) * kDescriptorSize; }

    // Field descriptors. 9985 (naming the number or the name) when unknown.
    TFieldDescriptor FieldDescriptor(int fieldNo) const;
    TFieldDescriptor FieldDescriptorByName(const std::string& name) const;
    int FieldNumber(const std::string& name) const;  // 0 when unknown
    bool HasValidityChecks() const { return m_HasChecks; }
    bool HasDefaults() const { return m_HasDefaults; }
    bool HasComputedFields() const { return m_HasComputed; }

    // The 256 byte values in the table locale's sort order, lowest first.
    const std::array<uint8_t, 256>& CollationTable() const { return m_Collation; }
    // The locale's collator; nullptr for a table without locale.
    const TLocaleCollator* Collator() const { return m_Collator.get(); }

    // Records and slots.
    // The pinned buffer of slot n (1 .. NextRecordNo). n = NextRecordNo appends
    // a zeroed slot (9479 past 99,999,999 records or 2,000,000,000 bytes;
    // 11013 on a read-only table). n = 0 returns no record; n beyond the end
    // raises 8710. direction is +1 forward or -1 backward for read-ahead.
    TFetchResult FetchRecord(int32_t n, TReadAhead readAhead = TReadAhead::None, int direction = 1);
    // The slot the next insertion takes.
    int32_t NextSlotNumber() const;
    // Fetches (or appends) that slot, pinned, and unlinks it from the free chain.
    TRecord* NewRecordSlot();
    // Marks the record deleted and pushes its slot on the free chain.
    void FreeRecordSlot(TRecord& record);
    // Advances LastRecordID (wrapping from 2,147,483,647 to 1) and returns it.
    int32_t TakeRecordID();
    // Marks a cached record changed (remembering it as it was when a change
    // scope is open). Call before changing the buffer.
    void MarkRecordDirty(TRecord& record);
    TRecord* CurrentRecord() const { return m_Current; }
    void SetCurrentRecord(TRecord* record) { m_Current = record; }
    bool HasPrimaryIndex() const;

    // Writes dirty records, the header (if dirty or forced), then the index
    // and BLOB files' pages, blocks and headers. Nothing for a read-only table.
    void FlushBuffers(bool forceHeader);
    // Forgets every cached record, dirty ones included, and the current record.
    void DiscardBuffers();
    void UnpinAll();
    void RepinCurrent();

    // Lock protocol.
    bool BeginRead();  // true when other processes' changes were found
    void EndRead();
    void BeginWrite();
    void EndWrite();
    void LockRecord(int32_t n = 0);
    void UnlockRecord(int32_t n = 0);
    void UnlockAllRecords();
    bool DetectChanges();
    // True when the change counter at the start of the data, index or BLOB
    // file on disk differs from the one this cursor last read or wrote: another
    // process changed the table since. Reads three 4-byte counters without a
    // lock and changes nothing cached (a counter caught half written reads as
    // a change, which costs the caller one needless refresh). Always false for
    // an exclusive or closed table.
    bool ChangedOnDisk();
    bool InReadPhase() const { return m_ReadPhase; }
    bool InWritePhase() const { return m_WritePhase; }
    const std::vector<int32_t>& LockedRecords() const { return m_LockedRecords; }
    // True when the table takes no locks: exclusive or forced read-only.
    bool LocksDisabled() const { return Exclusive() || ReadOnlyForced(); }

    // ---- record operations (record buffers are RecordSize bytes)
    // Positioning and reading. With strict change detection each runs in a
    // read phase of its own. Codes: 0, 8705 beginning of file, 8706 end of
    // file, 8710 record not found.
    void FirstRecord();  // beginning-of-file
    void LastRecord();   // end-of-file
    // To the next record (the first from beginning-of-file) and copies it
    // into buffer; at the end: a new record's image in buffer and 8706.
    int NextRecord(uint8_t* buffer);
    int PriorRecord(uint8_t* buffer);
    // The record under the cursor into buffer (when given). With lock, the
    // record is locked first (10258 when another holds it or there is no
    // current record); 8710 when another process deleted it meanwhile.
    int GetCurrentRecord(uint8_t* buffer, bool lock);
    void GotoRecordNumber(int64_t n);
    // Natural order: the physical record number (4 bytes); otherwise the
    // current record's key in the current index. Empty when none.
    std::vector<uint8_t> GetBookmark();
    void GotoBookmark(const std::vector<uint8_t>& bookmark);
    int CompareBookmarks(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
    int64_t RecordCount();
    int64_t CurrentRecordNumber();
    // Re-reads what other processes changed and stays on the current record.
    void Refresh();
    // Selects a secondary index by name (empty: the primary index or natural
    // order); 10022 naming it when there is no such index.
    void SelectIndexByName(const std::string& name);
    std::string CurrentIndexName() const;
    // Searches the current index for the key of `source` (or `rawKey`) over
    // its first fieldCount fields; copies the record landed on into buffer.
    bool FindKey(const uint8_t* source, const uint8_t* rawKey, int fieldCount, uint8_t* buffer);
    void SetRange(const uint8_t* startSource, int startFields, const uint8_t* endSource, int endFields);
    void CancelRange();
    // Positions on `other`'s current record: 0, or 8710 when not found.
    int SyncToCursor(TDataFile& other);
    // A second, shared cursor on the same table, on the same index, range,
    // filters and record. 11013 for a table open exclusively.
    std::unique_ptr<TDataFile> CloneCursor();
    // Filter list wrappers: AddFilter raises 9482 when the list is full; the
    // others return the index file's code and reset the cursor on success.
    TFilterHandle AddFilter(std::unique_ptr<TFilterEvaluator> expression, TFilterCallback callback);
    int ActivateFilter(TFilterHandle handle);
    int DeactivateFilter(TFilterHandle handle);
    int RemoveFilter(TFilterHandle handle);

    // Record preparation (field_values.cpp).
    // Zeroes the buffer, then stores each field's default value converted
    // with the table's locale formats ("DATE", "NOW", "TIME" as the clock
    // reads); EConvertError for a default that does not convert.
    void InitRecord(uint8_t* buffer);
    // Required fields (9732), minimum (9730) and maximum (9731) values.
    void ValidateRecord(const uint8_t* buffer);
    // Copies the field's PhysicalSize value bytes (4 for the counter) into
    // value and returns true when the field is null.
    bool GetFieldValue(int fieldNo, const uint8_t* record, uint8_t* value);
    // Stores a value (nullptr: null) of `length` bytes by the field type's
    // rules; strings lose trailing blanks and become null when empty.
    void SetFieldValue(int fieldNo, uint8_t* record, const uint8_t* value, size_t length);

    // Changes (record_ops.cpp). Each raises 11013 on a read-only table and
    // runs in one write phase; key violations (9729), missing values and
    // limits (9732, 9730, 9731) and record locks (10258) are checked before
    // anything changes, and a failure after that leaves the table as it was.
    void InsertRecord(uint8_t* buffer, bool reposition);
    // The current record must have been locked with GetCurrentRecord.
    void ModifyRecord(uint8_t* buffer, bool unlock, bool reposition);
    void DeleteRecord(bool reposition);
    void UnlockCurrentRecord();

    // BLOB fields of a record buffer. Each returns an engine code (0 success;
    // the caller raises others with CheckEngineResult): 10753 the field is not
    // a BLOB field; 10030 the field holds no open BLOB; OpenBlobField: 0 when
    // it is open already, 9998 for a handle that is not open, 9494 when 64
    // BLOBs are open. The owner of a BLOB is the record's physical number
    // (its link field, offset 1). Opening stores the handle in the field;
    // closing stores the first block offset back.
    int OpenBlobField(int fieldNo, int mode, uint8_t* record);
    int CloseBlobField(int fieldNo, uint8_t* record);
    int ReadBlobField(int fieldNo, const uint8_t* record, int64_t position, int64_t count,
                      uint8_t* buffer, int64_t& bytesRead);
    int WriteBlobField(int fieldNo, uint8_t* record, int64_t position, int64_t count,
                       const uint8_t* buffer);
    int TruncateBlobField(int fieldNo, uint8_t* record, int64_t size);
    int BlobFieldSize(int fieldNo, const uint8_t* record, int64_t& size);
    bool IsBlobFieldOpen(int fieldNo, const uint8_t* record);

    TIndexFile& IndexFile() { return *m_Index; }
    // The key of a record image for an index slot (format in index_key.h);
    // `key` must hold the slot's key size.
    void BuildKey(int slot, const uint8_t* record, uint8_t* key) const;
    TBlobFile* BlobFile() { return m_Blob && m_Blob->IsOpen() ? m_Blob.get() : nullptr; }

    struct TStatistics {
        uint64_t Fetches = 0;  // FetchRecord calls for existing slots
        uint64_t CacheHits = 0, DiskReads = 0, DiskWrites = 0;
        uint64_t ReadPhases = 0;  // read phases that took the read locks
    };
    const TStatistics& Statistics() const { return m_Stats; }
    size_t CacheCapacity() const { return m_Cache.Capacity(); }
    size_t CachedRecords() const { return m_Cache.Size(); }

private:
    void ValidateHeader();
    void RereadHeader();
    void CheckPassword();
    void ReadDescriptors();
    void BuildCollation();
    void CheckFileLength();
    void WriteRecords(const std::vector<TRecord*>& records);
    void LoadRecord(TRecord& r, const uint8_t* image, int32_t n);
    // Index-order read-ahead beyond the consecutive slots first..first+count-1
    // (see data_file.cpp); inside the read phase of a FetchRecord.
    void ReadUpcoming(int direction, int32_t skipFirst, int32_t skipCount);
    TRecord* AppendSlot();
    void Pin(TRecord& r);
    void SetHeaderI32(int offset, int32_t v);
    void ResetLockState();
    void CloseFiles();
    void BeginChange();
    void EndChange(bool commit);
    void FetchAtCursor(int direction);
    void CopyCurrentTo(uint8_t* buffer) const;
    void SetCurrent(TRecord* record);
    void ReloadCurrent(int32_t n, int32_t id);
    void Reposition(bool natural, int32_t recordNo, const std::vector<uint8_t>& key);
    void RepositionOnCurrent();
    bool PositionOnRecord(int32_t n, int32_t id);
    void WriteBack();
    // The open BLOB in a BLOB field of a record buffer: 0, 10753 (not a BLOB
    // field) or 10030 (no open BLOB), the codes left in the error context.
    int OpenBlobOf(int fieldNo, const uint8_t* record, const TFieldDescriptor*& d, TBlobFile*& blob,
                   int32_t& handle);
    std::vector<int> IndexSlots() const;  // primary (if any) and secondaries
    std::vector<uint8_t> KeyOf(int slot, const uint8_t* record) const;
    void PadKey(std::vector<uint8_t>& key, int fromByte, bool low) const;
    int PrefixLength(int fieldCount) const;
    void ReleasePhaseLocks(bool write);
    // Forgets everything cached after another process changed the table.
    void ForgetCachedState(bool blobChanged);
    // The read locks of a read phase; sets the phase.
    void AcquireReadLocks();
    // Undoes a journal a dead writer left (journal.h); a read-only table that
    // cannot write goes on without.
    void UndoLeftoverJournal(const std::string& dataPath);
    // The three open files, for the journal (the BLOB file only when open).
    TTableFiles TableFiles();

    std::array<uint8_t, kDataHeaderSize> m_Header{};
    std::vector<TFieldDescriptor> m_Descriptors;
    std::array<uint8_t, 256> m_Collation{};
    std::unique_ptr<TLocaleCollator> m_Collator;
    TRecordCache m_Cache;
    TRecord* m_Current = nullptr;
    std::unique_ptr<TIndexFile> m_Index;
    std::unique_ptr<TBlobFile> m_Blob;
    std::function<bool()> m_PasswordCallback;
    bool m_Active = false;
    bool m_StrictChangeDetection = false;
    bool m_ForceBufferFlush = false;
    std::string m_JournalPath;  // beside the data file; set at open
    uint8_t m_LockRetryCount = 15;
    uint16_t m_LockWaitTime = 100;
    size_t m_RecordCacheBytes = 0;
    bool m_HasChecks = false, m_HasDefaults = false, m_HasComputed = false;

    // Lock state.
    bool m_DataWriteLocked = false;
    bool m_ReadPhase = false;
    bool m_WritePhase = false;
    std::vector<int32_t> m_LockedRecords;

    TStatistics m_Stats;
    std::vector<int32_t> m_Upcoming;  // ReadUpcoming's list, kept for its capacity

    // Change scope.
    int m_ChangeDepth = 0;
    std::array<uint8_t, kDataHeaderSize> m_HeaderBefore{};
    std::map<TRecord*, std::pair<std::vector<uint8_t>, bool>> m_RecordsBefore;
};

}  // namespace veltra
