#include "Mask.h"

#include <algorithm>

namespace runtime::mask {
namespace {

// Puts prompts back in the selected positions and leaves the caret at its start.
void clearSelection(Field &field)
{
    if (field.selectionLength == 0 || field.selectionStart >= field.text.size())
        return;
    field.text.replace(field.selectionStart, field.selectionLength, field.selectionLength, prompt);
    field.caret = field.selectionStart;
    field.selectionLength = 0;
}

} // namespace

bool isDigits(std::string_view text)
{
    return std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

bool isThreeDigits(std::string_view text) { return text.size() == positions && isDigits(text); }

void type(Field &field, char digit)
{
    clearSelection(field);
    if (field.caret < std::min(positions, field.text.size()))
        field.text[field.caret++] = digit;
}

void erase(Field &field, int offset)
{
    if (field.selectionLength > 0)
        return clearSelection(field);
    const auto position = static_cast<long>(field.caret) + offset;
    if (position < 0 || position >= static_cast<long>(std::min(positions, field.text.size())))
        return;
    field.caret = static_cast<std::size_t>(position);
    field.text[field.caret] = prompt;
}

bool paste(Field &field, std::string_view text)
{
    const std::size_t start = field.selectionLength > 0 ? field.selectionStart : field.caret;
    if (text.empty() || !isDigits(text) || start + text.size() > positions)
        return false;
    clearSelection(field);
    field.text.replace(start, text.size(), text);
    field.caret = start + text.size();
    return true;
}

} // namespace runtime::mask
