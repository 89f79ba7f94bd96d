#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What the program prints: one line per access, as text or as one JSON object.
namespace cli {

// The reader of standard output went away (`| head -1`): the run ends quietly.
struct OutputClosed {};

// Writes one line and flushes it, so a script sees each access as it happens.
// Throws OutputClosed when the reader is gone, runtime::RuntimeError when the
// output cannot be written for another reason.
void emit(const std::string &line);

// "portpanel-io: " and the text on standard error, ended by a newline; the text
// may hold more lines. A Windows console shows every name as typed.
void complain(const std::string &text);

// Throws OutputClosed when standard output is a pipe whose reader has gone,
// so that a watch that prints nothing new still ends when its reader does.
void checkReader();

// "0x0378 = 0x55 85 01010101"
std::string accessText(std::uint16_t port, std::uint8_t value);

// A JSON object built field by field, in order: {"port":888,"value":85}
class JsonLine {
  public:
    JsonLine &number(std::string_view key, double value);
    JsonLine &text(std::string_view key, std::string_view value);
    // A value that is already JSON (an array or object).
    JsonLine &raw(std::string_view key, std::string_view json);
    [[nodiscard]] std::string str() const { return body_.empty() ? "{}" : body_ + "}"; }

  private:
    void key(std::string_view key);
    std::string body_;
};

std::string jsonString(std::string_view text);

} // namespace cli
