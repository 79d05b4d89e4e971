// Base class of database errors raised by the dataset framework and by the
// table engine underneath it. Application code that catches EDatabaseError
// sees every engine failure without knowing about the engine.
#pragma once

#include <stdexcept>
#include <string>

namespace veltra {

class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace veltra

namespace veltra {

// A text that does not convert to the value type asked for ("'abc' is not a
// valid integer value").
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace veltra
