// The BLOB file (".BLB"): values of BLOB fields as chains of fixed-size blocks.
//
// Block size B is the data header's BlobBlockSize (512 when 0). The file is a
// 512-byte header followed by blocks at 512 + k x B; a consistent file is
// 512 + k x B bytes long.
//
// Header (512 bytes):
//   0   int32   ChangeCount      +1 at every header write
//   4   4       reserved
//   8   uint8   Version          3
//   9   int32   FirstFreeBlock   head of the free block chain, 0 = none
//   13  int32   EndOffset        offset of the next new block; 512 when empty
//   17  uint8   HeaderDirty      as in memory when written; cleared when read
//   18  494     reserved
//
// Block header (18 bytes), followed by B - 18 data bytes:
//   0   int32   PrevBlock        previous block of the BLOB, 0 in the first
//   4   int32   NextBlock        next block, 0 in the last; free chain link
//   8   uint16  UsedBytes        data bytes used (B - 18 except in the last)
//   10  int32   OwnerRecord      physical record number owning the BLOB
//   14  int32   TotalSize        BLOB length, in the first block; else 0
//
// When the table is encrypted the header is scrambled as one buffer and each
// block's header and data area as two buffers, all with the table key.
#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "file_handler.h"
#include "lock_protocol.h"

namespace veltra {

class TDataFile;

constexpr int kBlobHeaderSize = 512;
constexpr int kBlobBlockHeaderSize = 18;
constexpr int kDefaultBlobBlockSize = 512;

namespace bh {  // BLOB header offsets
constexpr int ChangeCount = 0, Version = 8, FirstFreeBlock = 9, EndOffset = 13, HeaderDirty = 17;
}  // namespace bh

// Block size from the data header's BlobBlockSize field.
inline int BlobBlockSizeFrom(int32_t field) { return field == 0 ? kDefaultBlobBlockSize : field & 0xFFFF; }

// Handles of open BLOBs, as they stand in the BLOB fields of in-memory record
// buffers while a BLOB is open: -1 .. -64. File offsets are never negative, so
// the two cannot be confused; a handle never reaches the file. A handle stays
// valid until its BLOB is closed (closing one BLOB never renumbers others).
constexpr int kMaxOpenBlobs = 64;
inline bool IsBlobHandle(int32_t fieldValue) { return fieldValue < 0; }

// Open modes.
constexpr int kBlobRead = 1;   // also used when the owning record is deleted
constexpr int kBlobWrite = 2;

// One cached block: its 18-byte header fields and data area.
class TBlock {
public:
    int32_t Offset = 0;  // 0 = unused buffer
    bool Dirty = false;
    uint16_t Pins = 0;
    bool Marked = false;  // loaded by the batch read in progress
    int32_t PrevBlock = 0;
    int32_t NextBlock = 0;
    uint16_t UsedBytes = 0;
    int32_t OwnerRecord = 0;
    int32_t TotalSize = 0;
    std::vector<uint8_t> Data;  // B - 18 bytes
};

// One open BLOB: its whole content in memory.
class TBlobBuffer {
public:
    int32_t OwnerRecord = 0;
    int FieldNo = 0;
    int32_t FirstBlock = 0;  // as currently stored; 0 = none yet
    std::vector<uint8_t> Content;
    bool Modified = false;
    int Mode = kBlobRead;
};

class TBlobFile : public TFileHandler {
public:
    explicit TBlobFile(TDataFile& owner);
    ~TBlobFile() override;

    std::string ExpandFileName(const std::string& name) const override;
    // Opens with the data file's sharing settings and reads the header:
    // 12035 for a wrong version, 8961 (naming this file) for impossible
    // offsets or a block size of 18 bytes or less. Sizes the block cache:
    // min(262140 / B, 4096) blocks; read-ahead up to 65535 / B blocks.
    void Open() override;
    // Forgets cached blocks and open BLOBs without writing them.
    void Close() override;

    // Writes the header of a new, empty BLOB file.
    void CreateHeader();
    // The image of a new, empty header before its first write (change
    // counter 0), for code that creates tables.
    static std::array<uint8_t, kBlobHeaderSize> NewHeaderImage();
    void ReadHeader();
    // Writes the header when it is dirty or `force` is set, with the change
    // counter advanced. Nothing is written while a change scope is open: the
    // header must never reach the file ahead of the blocks it describes.
    void WriteHeader(bool force);
    // Compares the counter on disk with ours; re-reads the header when it
    // differs (12035 / 8961 for an unusable header, the old one kept).
    bool HeaderChanged();

    int BlockSize() const { return m_BlockSize; }
    int32_t ChangeCount() const;
    int32_t FirstFreeBlock() const;
    int32_t EndOffset() const;

    // ---- blocks
    // A pinned block: offset 0 gives none; EndOffset appends a new zeroed
    // block (9479 past 2,000,000,000 bytes); a cached block is pinned (8963
    // above 64 pins) and moved to the front. Otherwise, unless strict change
    // detection is on, the table's read lock is taken first and, when that
    // reveals another process's change, nullptr is returned with
    // `tableChanged` set. Then up to min(read-ahead limit, count,
    // (EndOffset - offset) / B) blocks are read forward in one request (short
    // reads are 9217 unless the table is exclusive), unscrambled when
    // encrypted, and merged into the cache (pinned or dirty cached blocks are
    // kept). An offset that is not a block of this file is 8963.
    TBlock* FetchBlock(int32_t offset, int count, bool& tableChanged);
    void Unpin(TBlock* block);
    // A pinned, zeroed block from the free chain or the end of the file.
    TBlock* AllocateBlock();
    // Pushes a block on the free chain (its other fields and data stay).
    void FreeBlock(TBlock* block);
    // Frees a BLOB's chain in chain order, the last block included. Every
    // block (the first one too) must be a block of the file, owned by
    // `ownerRecord`, and met once (no cycle): 8963 otherwise, raised before
    // any block is freed. `blockCount` sizes the read-ahead of the walk.
    void FreeChain(int32_t firstBlock, int32_t ownerRecord, int blockCount);
    // Writes dirty unpinned blocks sorted by offset, one write per run of
    // adjacent blocks (nothing while a change scope is open).
    void FlushBlocks();
    // True when a change scope grew the block cache past its size.
    bool OverCapacity() const { return CachedBlocks() > m_Capacity; }
    void DiscardBlocks();
    void UnpinAllBlocks();

    // ---- change scopes: like TIndexChange. Until the outermost scope ends,
    // no dirty block is written (the cache grows past its size instead); a
    // scope that ends without commit restores every block and the header as
    // they were when it began. The contents of open BLOBs are the caller's and
    // stay as they are; an open BLOB that WriteOpenBlobs wrote inside the
    // failed scope gets its first block offset and owner back and counts as
    // modified again, so that the next write of the record writes it anew.
    void BeginChange();
    void EndChange(bool commit);

    // ---- open BLOBs (all in memory; codes instead of exceptions where noted)
    // Opens the BLOB whose chain starts at `firstBlock` (0 = empty) for the
    // owner record and field: returns 0 with a handle, or 9494 when 64 BLOBs
    // are open. Loading raises 8963 for a broken chain (cycle, a link that is
    // not a block of the file, a later block of another record) or, in mode
    // 2, a first block owned by another record (mode 1 reads that BLOB as
    // empty and keeps its offset), and 8711 when the chain holds fewer bytes
    // than its TotalSize. Another process's change seen while loading makes
    // it start over (10249 after 1000 attempts).
    int OpenBlob(int32_t firstBlock, int fieldNo, int32_t ownerRecord, int mode, int32_t& handle);
    // Removes the BLOB from the open list and returns its first block offset;
    // unsaved changes are lost. 0 for a handle that is not open.
    int32_t CloseBlob(int32_t handle);
    // 10030 when the handle is not open; 10029 for a negative position,
    // count or size, or a BLOB that would pass 2,147,483,647 bytes; 11016
    // when memory runs out. ReadBlob past the end returns the bytes up to the
    // end (none from position >= size) with 8711. WriteBlob zero-fills a gap
    // and marks the BLOB modified; TruncateBlob marks it only when the size
    // changes.
    int ReadBlob(int32_t handle, int64_t position, int64_t count, uint8_t* buffer, int64_t& bytesRead);
    int WriteBlob(int32_t handle, int64_t position, int64_t count, const uint8_t* buffer);
    int TruncateBlob(int32_t handle, int64_t size);
    int GetBlobSize(int32_t handle, int64_t& size);
    bool IsBlobOpen(int32_t handle) const;
    TBlobBuffer* OpenBlobBuffer(int32_t handle);
    // Used when a record is written: every open BLOB gets the owner record;
    // WriteOpenBlobs writes every modified one as a chain (reusing its blocks
    // in place, extending at the end, freeing the surplus; 8963 when they
    // belong to different records or a chain is broken or holds a block of
    // another record; 11013 on a read-only table). It runs as a change scope
    // of its own: on failure the file and the open BLOBs stay as they were.
    // StoreOpenBlobOffsets puts each open BLOB's first block offset (and null
    // byte) into its field of `record`.
    void SetOwnerOfOpenBlobs(int32_t recordNo);
    void WriteOpenBlobs();
    void StoreOpenBlobOffsets(uint8_t* record);
    void CloseAllBlobs();
    int OpenBlobCount() const;

    bool AcquireReadLock() { return m_Locks.AcquireRead(); }
    bool ReleaseReadLock() { return m_Locks.ReleaseRead(); }
    bool AcquireWriteLock() { return m_Locks.AcquireWrite(); }
    bool ReleaseWriteLock() { return m_Locks.ReleaseWrite(); }
    bool HasReadLock() const { return m_Locks.HasReadLock(); }
    bool HasWriteLock() const { return m_Locks.HasWriteLock(); }

private:
    using TBlockList = std::list<std::unique_ptr<TBlock>>;

    // Keeps a block pinned while a walk uses it and unpins it when the walk
    // leaves, unless the cache was forgotten meanwhile (the block is gone).
    class TPinGuard {
    public:
        TPinGuard(TBlobFile& file, TBlock* block) : m_File(file), m_Block(block), m_Generation(file.m_Generation) {}
        ~TPinGuard() { Reset(); }
        TPinGuard(const TPinGuard&) = delete;
        TPinGuard& operator=(const TPinGuard&) = delete;
        TBlock* operator->() const { return m_Block; }
        TBlock* Get() const { return m_Block; }
        void Reset();
        TBlock* Release();  // keeps the pin for the caller

    private:
        TBlobFile& m_File;
        TBlock* m_Block;
        uint64_t m_Generation;
    };

    // State of one open BLOB when the outermost change scope began.
    struct TOpenBlobMemo {
        uint64_t Serial = 0;  // which opening of the slot
        int32_t FirstBlock = 0;
        int32_t OwnerRecord = 0;
        bool Modified = false;
    };

    void ValidateHeader();
    void ReadOpeningHeader();
    void ResetState();
    int DataSize() const { return m_BlockSize - kBlobBlockHeaderSize; }
    // An existing block of the file: 512 <= offset < EndOffset, on a block boundary.
    bool IsBlockOffset(int64_t offset) const;
    void SetHeaderI32(int offset, int32_t value);
    void CheckWritable() const;
    [[noreturn]] void Corrupt() const;

    // Block cache.
    TBlock* FindBlock(int32_t offset) const;
    void Touch(TBlock* block);
    // A clean buffer at the front, or nullptr. `needed`: the buffer the
    // operation cannot do without; when no clean, unpinned buffer is left it
    // grows the cache during a change scope and otherwise writes the dirty
    // blocks first. Read-ahead neighbours only take what is free.
    TBlock* TakeBuffer(bool needed);
    void Assign(TBlock* block, int32_t offset);
    void Forget(TBlock* block);
    void Register(TBlockList::iterator it);
    void Unpark();  // returns parked blocks to the end of the list
    size_t CachedBlocks() const { return m_Blocks.size() + m_Parked.size(); }
    void Pin(TBlock& block);
    TBlock* AppendBlock();
    void LoadBlock(TBlock& block, const uint8_t* image) const;
    void EncodeBlock(const TBlock& block, uint8_t* image) const;
    void WriteDirtyBlocks();
    void WriteBlocks(std::vector<TBlock*>& blocks);
    void TrimCache();
    // FetchBlock for code that changes the file: a change seen by another
    // process at this point means the caller holds no write phase (10249).
    TBlock* FetchForChange(int32_t offset, int count);

    // Change scopes.
    void Modify(TBlock& block);  // records the pre-image, marks dirty
    void Rollback();

    // Chains.
    std::vector<int32_t> WalkChain(int32_t firstBlock, int32_t ownerRecord, int blockCount,
                                   const std::unordered_set<int32_t>* exclude);
    void FreeChainExcept(int32_t firstBlock, int32_t ownerRecord, int blockCount,
                         const std::unordered_set<int32_t>* exclude);
    void LoadBlob(TBlobBuffer& blob);
    int32_t WriteChain(const TBlobBuffer& blob);
    int BlocksFor(int64_t bytes) const;
    int SlotOf(int32_t handle) const;  // -1 when not an open BLOB

    TDataFile& m_Owner;
    std::array<uint8_t, kBlobHeaderSize> m_Header{};
    int m_BlockSize = kDefaultBlobBlockSize;
    TReaderWriterLocks m_Locks{*this};

    // Where a cached block lives: in the list of candidates for reuse, or
    // parked because it was changed inside the open change scope (it cannot
    // be reused before the scope ends, so eviction need not look at it again).
    struct TPlace {
        TBlockList::iterator It;
        bool Parked = false;
    };
    TBlockList m_Blocks;  // most recently used first
    TBlockList m_Parked;  // changed in the open scope, oldest first
    std::unordered_map<int32_t, TBlock*> m_ByOffset;
    std::unordered_map<const TBlock*, TPlace> m_Position;
    std::vector<TBlock*> m_Marked;
    size_t m_Capacity = 1;
    int m_ReadAhead = 1;
    uint64_t m_Generation = 0;  // advances whenever cached blocks are dropped wholesale

    std::array<std::unique_ptr<TBlobBuffer>, kMaxOpenBlobs> m_Open;
    std::array<uint64_t, kMaxOpenBlobs> m_OpenSerial{};
    std::array<bool, kMaxOpenBlobs> m_WrittenInScope{};
    uint64_t m_NextSerial = 0;

    int m_ChangeDepth = 0;
    std::optional<std::array<uint8_t, kBlobHeaderSize>> m_HeaderBefore;
    std::map<int32_t, std::optional<TBlock>> m_BlocksBefore;  // nullopt: appended by the change
    std::array<TOpenBlobMemo, kMaxOpenBlobs> m_OpenBefore{};
};

}  // namespace veltra
