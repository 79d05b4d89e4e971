// The final table against the workers' logs of committed changes.
//
// Log line: kind, ID, version, writer, seq, checksum. Lower-case kinds
// (i, e, d) announce a change before it is made, upper-case ones (I, E, D)
// record it committed; a pair shares writer and seq. An insertion announces
// ID 0 (the ID is handed out by the post).
//
// A worker that ended normally left no announced change uncommitted except
// ones that failed, which the table must not show. A killed worker's last
// announced change may or may not have reached the table.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "stress_content.h"

namespace veltra_stress {

struct TLogFile {
    std::string Path;
    bool Killed = false;
};

// Problems found comparing `records` (active records by ID) with the logs.
std::vector<std::string> CheckAgainstLogs(const std::vector<TLogFile>& logs,
                                          const std::map<int32_t, TObserved>& records);

}  // namespace veltra_stress
