#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace runtime {

// Stable error numbers; the README lists them. They are also the exit status.
enum class ErrorNumber : std::uint8_t { // exit statuses are one byte
    NotANumber = 1,
    OutOfRange = 2,
    LibraryNotLoaded = 3,
    EntryPointMissing = 4,
    LibraryNotReady = 5,
    ControlFailed = 6,
    Internal = 7,
    Usage = 8,
    NoDisplay = 9,
    Privileged = 10,
};

// The one failure record: a number and a description that names what failed.
class RuntimeError : public std::runtime_error {
  public:
    RuntimeError(ErrorNumber number, const std::string &description);

    [[nodiscard]] int number() const noexcept { return static_cast<int>(number_); }
    [[nodiscard]] std::string description() const { return what(); }
    // "Error N: description", the line the error path shows and prints.
    [[nodiscard]] std::string report() const;

  private:
    ErrorNumber number_;
};

// A text quoted for an error message: control characters escaped, long texts cut.
std::string quoted(std::string_view text);

} // namespace runtime
