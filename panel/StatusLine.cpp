#include "StatusLine.h"

#include "Conversions.h"

namespace panel {

std::string statusLine(const std::string &addressText, std::int16_t valueRead)
{
    return "Port = " + addressText + " Value = " + runtime::integerToText(valueRead);
}

} // namespace panel
