#include "RuntimeError.h"

#include <algorithm>
#include <cstdio>

namespace runtime {

RuntimeError::RuntimeError(ErrorNumber number, const std::string &description)
    : std::runtime_error(description), number_(number)
{
}

std::string RuntimeError::report() const
{
    return "Error " + std::to_string(number()) + ": " + description();
}

std::string quoted(std::string_view text)
{
    constexpr std::size_t maxShown = 40;
    std::size_t shown = std::min(text.size(), maxShown);
    // Never cut a UTF-8 sequence in half.
    while (shown < text.size() && shown > 0 && (text[shown] & 0xC0) == 0x80)
        --shown;
    std::string out = "\"";
    for (std::size_t i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    if (shown < text.size())
        out += " (" + std::to_string(text.size()) + " bytes, cut)";
    return out;
}

} // namespace runtime
