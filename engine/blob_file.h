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

class TBlobFile : public TFileHandler {
public:
    explicit TBlobFile(TDataFile& owner);
    ~TBlobFile() override;

    std::string ExpandFileName(const std::string& name) const override;
    // Opens with the data file's sharing settings and reads the header:
    // 12035 for a wrong version, 8961 (naming this file) for impossible
    // offsets or a block size of 18 bytes or less.
    void Open() override;
    void Close() override;

    // Writes the header of a new, empty BLOB file.
    void CreateHeader();
    // The image of a new, empty header before its first write (change
    // counter 0), for code that creates tables.
    static std::array<uint8_t, kBlobHeaderSize> NewHeaderImage();
    void ReadHeader();
    void WriteHeader(bool force);
    bool HeaderChanged();

    int BlockSize() const { return m_BlockSize; }
    int32_t ChangeCount() const;
    int32_t FirstFreeBlock() const;
    int32_t EndOffset() const;

    // Block cache maintenance; the cache holds no blocks until chains are read.
    void FlushBlocks();
    void DiscardBlocks();
    void UnpinAllBlocks();

    bool AcquireReadLock();
    bool ReleaseReadLock();
    bool AcquireWriteLock();
    bool ReleaseWriteLock();
    bool HasReadLock() const { return m_Locks.HasReadLock(); }
    bool HasWriteLock() const { return m_Locks.HasWriteLock(); }

private:
    void ValidateHeader();

    TDataFile& m_Owner;
    std::array<uint8_t, kBlobHeaderSize> m_Header{};
    int m_BlockSize = kDefaultBlobBlockSize;
    TReaderWriterLocks m_Locks{*this};
};

}  // namespace veltra
