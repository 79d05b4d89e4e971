// Index keys: how a record's fields become the bytes of one index's key, and
// how two keys compare.
//
// Key format (key size K, at most 1036 bytes; the buffer starts zeroed):
// per key field, in order, 1 + S bytes where S is the field's physical size:
//   indicator  1 when the field has a value, 0 when it is null
//   value      by field type:
//                String            characters zero-padded to S; with a locale
//                                  mapped to half-width forms (and upper case
//                                  in a case-insensitive index); without a
//                                  locale a..z upper-cased when case-insensitive
//                Date, Integer,    4 bytes big-endian, top bit inverted
//                Time, counter
//                SmallInt          2 bytes big-endian, top bit inverted
//                Boolean, Word     2 bytes big-endian
//                Float, DateTime   8 bytes big-endian; >= 0: top bit set,
//                                  negative: every bit inverted
//                BCD               8 bytes big-endian, top bit inverted
//                anything else     the stored bytes unchanged
//   A per-field descending flag (without a locale, and only when the index as
//   a whole is ascending) inverts the field's bytes, indicator included: S
//   bytes for a string field, S + 1 for any other.
// A non-unique secondary index appends the record ID, 4 bytes big-endian with
// the top bit inverted, so that every key is distinct. The deleted-records
// index (slot 31) keys on the status byte and the record ID encoded the same
// way.
//
// Comparison: without a locale (and always in slot 31) keys compare as
// unsigned bytes. With a locale they compare field by field: a string field's
// indicator as a byte, then its characters with the locale's string-sort
// comparison; other fields as bytes; a field's result is negated when its
// descending flag is set; bytes after the last field (the record ID suffix)
// as bytes. The whole result is negated for a descending index. Comparing a
// shorter length compares a prefix.
#pragma once

#include <cstdint>
#include <vector>

namespace veltra {

class TDataFile;
class TIndexDescriptor;
class TLocaleCollator;

constexpr int kKeyBufferSize = 1036;

struct TKeyField {
    uint16_t FieldNo = 0;
    uint8_t Type = 0;
    int Size = 0;  // physical size S
    uint16_t Offset = 0;
    bool AutoIncrement = false;
    bool Descending = false;
};

class TKeyLayout {
public:
    TKeyLayout() = default;
    // The layout of slot `slot` of `table`'s index file as described by `d`.
    // The field numbers must have been checked against the table.
    TKeyLayout(const TIndexDescriptor& d, int slot, const TDataFile& table);

    int KeySize = 0;
    bool Descending = false;
    bool CaseInsensitive = false;
    bool Unique = false;
    bool HasRecordIdSuffix = false;
    uint8_t Compression = 0;
    bool DeletedIndex = false;
    std::vector<TKeyField> Fields;
    const TLocaleCollator* Collator = nullptr;  // nullptr: compare bytes

    // Builds the key of a record image into key[0 .. KeySize) (zeroing it first).
    void Build(const uint8_t* record, uint8_t* key) const;
    // Sign of (a - b) over the first `length` bytes, in index order.
    int Compare(const uint8_t* a, const uint8_t* b, int length) const;
    int Compare(const uint8_t* a, const uint8_t* b) const { return Compare(a, b, KeySize); }
};

// Encodes a record ID the way keys carry it: big-endian, top bit inverted.
void PutKeyRecordId(uint8_t* p, int32_t recordId);
int32_t GetKeyRecordId(const uint8_t* p);

}  // namespace veltra
