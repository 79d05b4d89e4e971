// Failures of the command-line tool that are not engine errors, each with the
// exit status it ends the process with. Engine and dataset errors
// (EVeltraEngineError, EDatabaseError, EConvertError) and input that cannot
// be stored (EBadInput, platform/table_text/value_json.h) end it with
// status 3.
#pragma once

#include <stdexcept>
#include <string>

namespace veltra::vltable {

enum TExitStatus : int { kExitOk = 0, kExitNotFound = 1, kExitProblems = 1, kExitUsage = 2, kExitError = 3 };

// A command line that does not follow the contract (status 2).
class EUsage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The addressed record does not exist (status 1).
class ENotFound : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace veltra::vltable
