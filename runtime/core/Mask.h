#pragma once

#include <string>
#include <string_view>

// How the three-digit value field edits, whatever toolkit shows it: a digit
// overwrites the position at the caret and moves on; Backspace and Delete put
// the prompt "0" back; a paste is taken only when it is all digits that fit
// from the caret. The text is always three digits.
namespace runtime::mask {

inline constexpr std::size_t positions = 3;
inline constexpr char prompt = '0';

struct Field {
    std::string text = std::string(positions, prompt);
    std::size_t caret = 0;
    std::size_t selectionStart = 0;
    std::size_t selectionLength = 0;
};

bool isDigits(std::string_view text);
bool isThreeDigits(std::string_view text);

void type(Field &field, char digit);
// offset -1 for Backspace, 0 for Delete.
void erase(Field &field, int offset);
// False, and nothing changed, when the text is refused.
bool paste(Field &field, std::string_view text);

} // namespace runtime::mask
