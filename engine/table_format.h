// The data file format (".DAT"): header, field descriptors and records.
// All integers are little-endian. Short strings are one length byte followed
// by the characters and zero padding up to their capacity.
//
//   offset 0                      header, 127 bytes
//   offset 127                    FieldCount descriptors of 768 bytes
//   D = 127 + FieldCount x 768    records 1 .. NextRecordNo-1, RecordSize each
//
// A consistent file is exactly D + (NextRecordNo - 1) x RecordSize bytes.
//
// Header (never scrambled, except the password characters):
//   0   int32   ChangeCount      +1 at every header write (change detection)
//   4   int32   BlobBlockSize    BLOB block size; 0 = 512, else low 16 bits
//   8   uint8   Version          3
//   9   int32   FirstFreeRecord  head of the free slot chain, 0 = none
//   13  int32   NextRecordNo     number of the next appended slot, 1 when empty
//   17  int32   LastRecordID     last record ID handed out
//   21  uint16  RecordSize
//   23  uint16  FieldCount
//   25  int16   BlobFieldCount   descriptors of type 3; the .BLB exists when > 0
//   27  float64 LastUpdated      local date-time of the last header write,
//                                days since 1899-12-30 with time as fraction
//   35  51      reserved
//   86  uint8   Encrypted        1 = scrambled with the table key
//   87  16      Password         short string (15); characters scrambled with
//                                the password key, length byte plain
//   103 int16   LanguageID       Windows language id; 0 = no locale
//   105 uint16  SortID           Windows sort id
//   107 4       reserved
//   111 int16   ComputedAreaSize carried unchanged
//   113 uint8   HeaderDirty      written as in memory, cleared when read
//   114 13      reserved
//
// Field descriptor (768 bytes, descriptor i describes field i):
//   0   int16   FieldNo          = position, 1-based
//   2   82      Name             short string, at most 30 characters
//   84  uint8   FieldType        see TFieldType
//   85  uint8   SubType          29 auto-increment, 21 money, 22..28 BLOB kinds
//   86  uint8   Size             characters (String) or bytes (Bytes, VarBytes)
//   87  uint8   Decimals         BCD only
//   88  uint8   PhysicalSize     bytes of the value, derived from type and Size
//   89  uint8   PhysicalDecimals = Decimals
//   90  uint16  Offset           of the null byte in the record (5 for the
//                                auto-increment field, 0 for a computed field)
//   92  uint8   Required
//   94  51      MinValue         short string (50)
//   145 51      MaxValue         short string (50)
//   196 51      DefaultValue     short string (50)
//   247 256     Expression       short string (255); computed field when set
//   504 4       runtime slot     ignored when read
//
// Record (RecordSize bytes):
//   0   uint8   status           0 active, 1 deleted
//   1   int32   link             deleted: next free slot; active: own number
//   5   int32   record ID        also the value of the auto-increment field
//   9   ...     per stored field: null byte (1 = has a value) + PhysicalSize
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "byte_order.h"

namespace veltra {

constexpr int kDataHeaderSize = 127;
constexpr int kDescriptorSize = 768;
constexpr int kMaxFields = 1024;
constexpr uint8_t kFileVersion = 3;
constexpr int kRecordHeaderSize = 9;
constexpr int kMaxFieldNameLength = 30;
constexpr int kMaxPasswordLength = 15;
constexpr int32_t kMaxRecordNumber = 99'999'999;
constexpr int64_t kMaxDataBytes = 2'000'000'000;

namespace dh {  // data header offsets
constexpr int ChangeCount = 0, BlobBlockSize = 4, Version = 8, FirstFreeRecord = 9,
              NextRecordNo = 13, LastRecordID = 17, RecordSize = 21, FieldCount = 23,
              BlobFieldCount = 25, LastUpdated = 27, Encrypted = 86, Password = 87,
              LanguageID = 103, SortID = 105, ComputedAreaSize = 111, HeaderDirty = 113;
}  // namespace dh

namespace fd {  // field descriptor offsets and capacities
constexpr int FieldNo = 0, Name = 2, FieldType = 84, SubType = 85, Size = 86, Decimals = 87,
              PhysicalSize = 88, PhysicalDecimals = 89, Offset = 90, Required = 92, MinValue = 94,
              MaxValue = 145, DefaultValue = 196, Expression = 247, RuntimeSlot = 504;
constexpr int NameCapacity = 81, ValueCapacity = 50, ExpressionCapacity = 255;
}  // namespace fd

enum TFieldType : uint8_t {
    ftString = 1,
    ftDate = 2,
    ftBlob = 3,
    ftBoolean = 4,
    ftSmallInt = 5,
    ftInteger = 6,
    ftFloat = 7,
    ftBCD = 8,
    ftBytes = 9,
    ftTime = 10,
    ftDateTime = 11,
    ftWord = 12,
    ftCardinal = 13,
    ftExtended = 14,
    ftVarBytes = 15,
};

constexpr uint8_t kSubTypeAutoInc = 29;
constexpr uint8_t kSubTypeMoney = 21;

// Bytes a value of the type occupies in a record; Size for unknown codes.
int PhysicalSizeFor(uint8_t fieldType, uint8_t size);

// Field and index names compared without regard to case, with Windows-1252
// case folding (so "ÉTAT" names the field "état").
bool SameNameNoCase(const std::string& a, const std::string& b);

// Short string helpers over a fixed-capacity area of `capacity` characters
// (area length capacity + 1). Reading never trusts the length byte beyond the
// capacity.
std::string GetShortString(const uint8_t* area, int capacity);
void PutShortString(uint8_t* area, int capacity, const std::string& text);

// One field descriptor: a copy of its 768 bytes with typed accessors.
class TFieldDescriptor {
public:
    TFieldDescriptor() { Bytes.fill(0); }
    std::array<uint8_t, kDescriptorSize> Bytes;

    int16_t FieldNo() const { return GetI16(&Bytes[fd::FieldNo]); }
    std::string Name() const { return GetShortString(&Bytes[fd::Name], kMaxFieldNameLength); }
    uint8_t FieldType() const { return Bytes[fd::FieldType]; }
    uint8_t SubType() const { return Bytes[fd::SubType]; }
    uint8_t Size() const { return Bytes[fd::Size]; }
    uint8_t Decimals() const { return Bytes[fd::Decimals]; }
    uint8_t PhysicalSize() const { return Bytes[fd::PhysicalSize]; }
    uint16_t Offset() const { return GetU16(&Bytes[fd::Offset]); }
    bool Required() const { return Bytes[fd::Required] != 0; }
    std::string MinValue() const { return GetShortString(&Bytes[fd::MinValue], fd::ValueCapacity); }
    std::string MaxValue() const { return GetShortString(&Bytes[fd::MaxValue], fd::ValueCapacity); }
    std::string DefaultValue() const {
        return GetShortString(&Bytes[fd::DefaultValue], fd::ValueCapacity);
    }
    std::string Expression() const {
        return GetShortString(&Bytes[fd::Expression], fd::ExpressionCapacity);
    }
    bool IsAutoIncrement() const { return FieldType() == ftInteger && SubType() == kSubTypeAutoInc; }
    bool IsComputed() const { return Bytes[fd::Expression] != 0; }
    // Bytes the field takes in a record: none for the auto-increment and
    // computed fields, else the null byte plus the value.
    int StoredWidth() const { return IsAutoIncrement() || IsComputed() ? 0 : PhysicalSize() + 1; }
};

}  // namespace veltra
