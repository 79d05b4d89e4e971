// Creating new tables from field and index definitions. The program itself
// only copies template tables; tests, the command-line tool and the build
// (which generates the template and system tables) create them here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "table_format.h"

namespace veltra {

struct TFieldDef {
    std::string Name;  // 1..30 characters, starting with a letter, unique without case
    uint8_t Type = ftString;
    uint8_t SubType = 0;  // 29 with ftInteger: the auto-increment field (at most one)
    uint8_t Size = 0;     // characters (String) or bytes (Bytes, VarBytes): 1..250
    uint8_t Decimals = 0;  // BCD only: 0..4
    bool Required = false;
    std::string MinValue, MaxValue, DefaultValue;  // texts of at most 50 characters
};

enum class TCompression : uint8_t { None = 0, Leading = 1, Trailing = 2, Both = 3 };

struct TIndexDef {
    std::string Name;  // empty for the primary index; secondary names follow field name rules
    bool Primary = false;
    std::vector<std::string> Fields;        // 1..16 field names
    std::vector<bool> FieldDescending;      // optional, per field
    bool Unique = false;                    // forced on for the primary index
    bool Descending = false;
    bool CaseInsensitive = false;
    TCompression Compression = TCompression::None;
};

struct TTableDef {
    std::vector<TFieldDef> Fields;
    std::vector<TIndexDef> Indexes;  // at most one primary, at most 30 secondary
    int BlobBlockSize = 512;         // 64..65535 bytes when the table has BLOB fields
    uint16_t LanguageID = 0;         // 0: no locale
    uint16_t SortID = 0;
    std::string Password;            // non-empty: the table is encrypted (at most 15 characters)
};

// Key size of an index over the given physical field sizes: the sum of
// (size + 1), plus 4 for a non-unique secondary index.
int IndexKeySize(const std::vector<int>& physicalSizes, bool uniqueOrPrimary);

// Creates (or replaces) the three files of a new, empty table at `fileName`
// (".DAT" forced; ".IDX" and ".BLB" beside it, the ".BLB" only when the table
// has BLOB fields). Validates the definition first and writes nothing when it
// is invalid:
//   9492  no fields, more than 1024, or a field size out of range
//   10038 invalid or duplicate field name      10000 invalid field definition
//   10006 validity or default text too long    9477  record larger than 65535
//   9498  more than 64 BLOB fields or a bad block size
//   9993  two primary indexes                  9487  too many indexes or fields
//   10010 secondary index without a name       10022 invalid index name
//   10027 duplicate index name                 10023 unknown field in an index
//   12292 BLOB field in an index               10026 key size above 1036 or bad mode
//   15878 locale not installed                 10015 password longer than 15
// OS errors are mapped as for opening; files already written are removed
// when a later one fails.
void CreateTable(const std::string& fileName, const TTableDef& def);

}  // namespace veltra
