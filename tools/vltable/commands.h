// The commands of the vltable tool. Each runs on parsed options, writes its
// results to stdout and returns the exit status; failures are raised (see
// tool_errors.h for how each kind ends the process).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltra::vltable {

struct TOptions {
    std::string Command;
    std::string Table;
    std::vector<std::string> Values;  // find: the key values
    bool Exclusive = false;
    bool ReadOnly = false;
    std::optional<int> LockRetry;     // 0..255
    std::optional<int> LockWait;      // milliseconds, 0..65535
    std::string Schema;
    std::optional<std::string> Index;
    std::optional<std::string> Filter;
    bool CaseInsensitive = false;
    bool NoPartial = false;
    std::string Format = "jsonl";
    std::optional<std::vector<std::string>> Fields;
    bool PlainText = false;  // dump: formatted memos as their visible text
    std::optional<int64_t> Id;
    std::optional<double> Seconds;
};

// Parses argv (without the program name); raises EUsage.
TOptions ParseCommandLine(const std::vector<std::string>& args);
extern const char* const kUsageText;

int RunCommand(const TOptions& options);

}  // namespace veltra::vltable
