// Inputs of the fuzz targets and the entry functions that run one input.
//
// fuzz_table input
// ----------------
//   offset  size  meaning
//   0       1     open options: bit 0 Exclusive, bit 1 ReadOnly, bit 2 strict
//                 change detection, bit 3 also insert, modify and delete a
//                 record at the data file level
//   1       ...   up to three frames, in this order: data file, index file,
//                 BLOB file. A frame is a 32-bit little-endian length and that
//                 many bytes; a length beyond the end of the input takes what
//                 is left. A file without a frame does not exist.
//
// fuzz_filter input
// -----------------
//   offset  size  meaning
//   0       1     bit 0 case-insensitive, bit 1 no partial compare, bit 2 the
//                 table with many indexes (else the one with two), bit 3 the
//                 rest is a compiled filter instead of filter text
//   1       ...   the filter text (or the compiled filter's bytes)
//
// fuzz_rtf input
// --------------
//   any bytes, read as an RTF document
//
// Each entry function returns normally for every input that ends in success
// or in an engine or dataset error. Any other outcome is a fault it reports
// by crashing (an escaping exception or abort with a message on stderr), so
// libFuzzer and the regression test see it the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltra_fuzz {

enum : uint8_t { kOpenExclusive = 1, kOpenReadOnly = 2, kOpenStrict = 4, kOpenWrite = 8 };
enum : uint8_t { kFilterCaseInsensitive = 1, kFilterNoPartial = 2, kFilterIndexedTable = 4, kFilterCompiled = 8 };

// The three files of one table; an empty optional is a missing file.
struct TTableInput {
    uint8_t Options = 0;
    std::optional<std::vector<uint8_t>> Files[3];  // data, index, BLOB
};

TTableInput DecodeTableInput(const uint8_t* data, size_t size);
std::vector<uint8_t> EncodeTableInput(const TTableInput& input);

// Writes the table of an input under `folder` and returns the data file's name.
std::string WriteTableFiles(const TTableInput& input, const std::string& folder);

// Opens and walks a table through the data file and through the table
// component, reading every record and BLOB, in every index both ways, and
// runs the index verifier.
void RunTableInput(const uint8_t* data, size_t size);

// Parses, compiles and runs a filter against a fixed small table.
void RunFilterInput(const uint8_t* data, size_t size);

// Reads the bytes as RTF, writes the document read and reads that again.
void RunRtfInput(const uint8_t* data, size_t size);

// Creates the table the filter target runs on at `path` (a ".dat" name):
// every field type a filter can name, one BLOB field, eight records of which
// the seventh is deleted; the primary index and one on State, or (indexed)
// nine indexes of every key order.
void CreateFilterTable(const std::string& path, bool indexed);

// Texts of binary inputs for the regression folders: lower-case hex, 64
// digits per line; decoding ignores everything that is not a hex digit.
std::string ToHexText(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> FromHexText(const std::string& text);

// The scratch folder of this process (on a memory file system when there is
// one), created on first use and removed at exit.
const std::string& ScratchFolder();

}  // namespace veltra_fuzz
