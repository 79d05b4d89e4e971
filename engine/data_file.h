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
#include <memory>
#include <string>
#include <vector>

#include "blob_file.h"
#include "file_handler.h"
#include "index_file.h"
#include "record_cache.h"
#include "table_format.h"

namespace veltra {

class TLocaleCollator;

// How FetchRecord may read neighbouring slots in the same disk request.
// IndexOrder reads the slots that the index cursor, standing on slot n, will
// visit next with consecutive record numbers.
enum class TReadAhead { None, Physical, IndexOrder };

struct TFetchResult {
    TRecord* Record = nullptr;  // pinned; nullptr for slot 0 or when TableChanged
    bool TableChanged = false;  // another process changed the table: reposition and retry
};

class TDataFile : public TFileHandler {
public:
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
    bool InReadPhase() const { return m_ReadPhase; }
    bool InWritePhase() const { return m_WritePhase; }
    const std::vector<int32_t>& LockedRecords() const { return m_LockedRecords; }
    // True when the table takes no locks: exclusive or forced read-only.
    bool LocksDisabled() const { return Exclusive() || ReadOnlyForced(); }

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
        uint64_t CacheHits = 0, DiskReads = 0, DiskWrites = 0;
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
    TRecord* AppendSlot();
    void Pin(TRecord& r);
    void SetHeaderI32(int offset, int32_t v);
    void ResetLockState();
    void CloseFiles();
    void ReleasePhaseLocks(bool write);
    // Forgets everything cached after another process changed the table.
    void ForgetCachedState(bool blobChanged);

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
    uint8_t m_LockRetryCount = 15;
    uint16_t m_LockWaitTime = 100;
    bool m_HasChecks = false, m_HasDefaults = false, m_HasComputed = false;

    // Lock state.
    bool m_DataWriteLocked = false;
    bool m_ReadPhase = false;
    bool m_WritePhase = false;
    std::vector<int32_t> m_LockedRecords;

    TStatistics m_Stats;
};

}  // namespace veltra
