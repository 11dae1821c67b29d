// The exception raised where the cipher code meets a failure it cannot report as a result.
#pragma once

#include <stdexcept>
#include <string>

namespace vynd {

// Raised for allocation failures, an unobtainable random salt and oversize Base64
// input; what() is the description text the callers and the log see.
class AssertionFailure : public std::runtime_error {
  public:
    explicit AssertionFailure(const std::string& description) : std::runtime_error(description) {}
};

}  // namespace vynd
