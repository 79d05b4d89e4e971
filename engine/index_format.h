// The index file (".IDX"): a header block and the pages of up to 32 B+-trees.
//
// The file is a sequence of 4096-byte blocks; block 0 is the header, every
// other block a page, addressed by its byte offset (0 = none).
//
// Header block (4096 bytes):
//   0     int32   change counter, +1 at every header write
//   4     4       reserved
//   8     uint8   version, 3
//   9     int32   end offset: where the next appended page goes (4096 if none)
//   13    uint8   number of secondary indexes in use (slots 1..n)
//   14    32x120  index descriptors, slots 0..31
//   3854  120     reserved
//   3974  int32   record count: active records of the table
//   3978  uint8   no-primary-index flag (natural order table)
//   3979  uint8   header-changed flag (meaningless on disk)
//   3980  116     reserved
//
// Index descriptor (120 bytes):
//   0     31      name: short string (30); empty for the primary index
//   31    uint16  key size (field parts, +4 for a non-unique secondary index)
//   33    uint8   descending
//   34    uint8   case-insensitive
//   35    uint8   unique
//   36    uint8   leaf compression: 0 none, 1 leading, 2 trailing, 3 both
//   37    uint8   number of key fields, 1..16
//   38    16x1    per-field descending flags
//   54    16x2    field numbers (1-based)
//   86    int32   root page offset, 0 when empty
//   90    int32   free-page list head, 0 when empty
//   94    26      reserved
//
// Slot 0 is the primary index, 1..30 secondary indexes, 31 the deleted-records
// index "Sys Deleted" (key size 5: status byte and record ID).
//
// When the table is encrypted the header and every page pass whole through
// the table scrambling routine on every read and write.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>


namespace veltra {

constexpr int kIndexBlockSize = 4096;
constexpr int kIndexDescriptorSize = 120;
constexpr int kIndexSlotCount = 32;
constexpr int kMaxSecondaryIndexes = 30;
constexpr int kMaxIndexFields = 16;
constexpr int kMaxKeySize = 1036;
constexpr int kDeletedIndexSlot = 31;
constexpr int kNaturalOrderSlot = 255;
constexpr int64_t kMaxIndexFileOffset = 2'000'000'000;
constexpr const char* kDeletedIndexName = "Sys Deleted";

namespace ih {  // index header offsets
constexpr int ChangeCount = 0, Version = 8, EndOffset = 9, SecondaryCount = 13, Descriptors = 14,
              RecordCount = 3974, NoPrimaryIndex = 3978, HeaderChanged = 3979;
}  // namespace ih

namespace id {  // index descriptor offsets
constexpr int Name = 0, KeySize = 31, Descending = 33, CaseInsensitive = 34, Unique = 35,
              Compression = 36, FieldCount = 37, FieldDescending = 38, FieldNumbers = 54,
              Root = 86, FreeHead = 90;
}  // namespace id

// One index descriptor: a copy of its 120 bytes with typed accessors.
class TIndexDescriptor {
public:
    TIndexDescriptor() { Bytes.fill(0); }
    std::array<uint8_t, kIndexDescriptorSize> Bytes;

    std::string Name() const;
    void SetName(const std::string& name);
    uint16_t KeySize() const;
    bool Descending() const { return Bytes[id::Descending] != 0; }
    bool CaseInsensitive() const { return Bytes[id::CaseInsensitive] != 0; }
    bool Unique() const { return Bytes[id::Unique] != 0; }
    uint8_t Compression() const { return Bytes[id::Compression]; }
    uint8_t FieldCount() const { return Bytes[id::FieldCount]; }
    bool FieldDescending(int i) const { return Bytes[id::FieldDescending + i] != 0; }  // i from 0
    uint16_t FieldNumber(int i) const;                                                  // i from 0
    int32_t Root() const;
    int32_t FreeHead() const;
};

}  // namespace veltra
