// A deep check of one stress table, run while other processes may still be
// working on it: it holds a read phase, so no writer changes the files while
// it looks.
//
// Problems are the table verifier's lines (engine/table_verifier.h), then
// "content: ..." lines for records whose content no change wrote (a torn
// record, a BLOB of another change, a duplicate ID or code), and "open: ..."
// or "engine: ..." when the table cannot be opened or the check is stopped by
// an engine error.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "stress_content.h"

namespace veltra_stress {

struct TVerifyResult {
    std::vector<std::string> Problems;
    std::map<int32_t, TObserved> Records;  // active records by ID
    int64_t Deleted = 0;
    bool Ok() const { return Problems.empty(); }
};

TVerifyResult DeepVerify(const std::string& path);

// The kind of a problem line: the text before its first ':' without numbers
// and index names ("index slot", "record", "BLOB block", "content", ...).
std::string ProblemKind(const std::string& problem);

}  // namespace veltra_stress
