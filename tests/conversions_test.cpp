#include "Conversions.h"
#include "RuntimeError.h"

#include <gtest/gtest.h>
#include <optional>

using runtime::ErrorNumber;
using runtime::RuntimeError;

namespace {

struct IntegerCase {
    std::string text;
    std::optional<int> value; // nullopt: must fail
    ErrorNumber failure = ErrorNumber::NotANumber;
};

const IntegerCase integerCases[] = {
    {"888", 888},
    {"0", 0},
    {"  888\t", 888},
    {"+12", 12},
    {"-8176", -8176},
    {"000888", 888},
    {"32767", 32767},
    {"-32768", -32768},
    {"0x378", 0x378},
    {"0X378", 0x378},
    {"&H378", 0x378},
    {"&h378", 0x378},
    {"0xe010", -8176},
    {"0x0000FFFF", -1},
    {"0x8000", -32768},
    {" 0x7FFF ", 32767},
    {"32768", std::nullopt, ErrorNumber::OutOfRange},
    {"-32769", std::nullopt, ErrorNumber::OutOfRange},
    {"40000", std::nullopt, ErrorNumber::OutOfRange},
    {"99999999999999999999", std::nullopt, ErrorNumber::OutOfRange},
    {"0x10000", std::nullopt},
    {"", std::nullopt},
    {"   ", std::nullopt},
    {"abc", std::nullopt},
    {"8 88", std::nullopt},
    {"12.5", std::nullopt},
    {"1e3", std::nullopt},
    {"--1", std::nullopt},
    {"+-1", std::nullopt},
    {"-", std::nullopt},
    {"0x", std::nullopt},
    {"&H", std::nullopt},
    {"-0x10", std::nullopt},
    {"0x-10", std::nullopt},
    {"0x+10", std::nullopt},
    {"0x 10", std::nullopt},
    {"888\n", std::nullopt},
    {std::string("88\0"
                 "8",
                 4),
     std::nullopt},
    {"\xEF\xBC\x98\xEF\xBC\x98\xEF\xBC\x98", std::nullopt}, // full-width 888
    {"\xD9\xA8", std::nullopt},                             // Arabic-Indic 8
};

TEST(TextToInteger, Table)
{
    for (const auto &c : integerCases) {
        SCOPED_TRACE(runtime::quoted(c.text));
        if (c.value) {
            EXPECT_EQ(runtime::textToInteger(c.text), *c.value);
            continue;
        }
        try {
            runtime::textToInteger(c.text);
            ADD_FAILURE() << "converted";
        } catch (const RuntimeError &error) {
            EXPECT_EQ(error.number(), static_cast<int>(c.failure));
            EXPECT_NE(error.description().find(runtime::quoted(c.text)), std::string::npos)
                << error.description();
        }
    }
}

TEST(TextToInteger, OutOfRangeSuggestsHexForPortsAbove32767)
{
    try {
        runtime::textToInteger("40000");
        FAIL();
    } catch (const RuntimeError &error) {
        EXPECT_NE(error.description().find("0x9C40"), std::string::npos) << error.description();
    }
}

struct RealCase {
    std::string text;
    std::optional<double> value;
};

const RealCase realCases[] = {
    {"500", 500.0},        {"000", 0.0},
    {" 255.5 ", 255.5},    {"-3", -3.0},
    {"+2", 2.0},           {".5", 0.5},
    {"5.", 5.0},           {"2.5e2", 250.0},
    {"1E-1", 0.1},         {"007", 7.0},
    {"", std::nullopt},    {"abc", std::nullopt},
    {"1,5", std::nullopt}, {"0x10", std::nullopt},
    {"inf", std::nullopt}, {"nan", std::nullopt},
    {".", std::nullopt},   {"1e", std::nullopt},
    {"e5", std::nullopt},  {"1 2", std::nullopt},
    {"--1", std::nullopt}, {"1e999", std::nullopt},
};

TEST(TextToReal, Table)
{
    for (const auto &c : realCases) {
        SCOPED_TRACE(c.text);
        if (c.value) {
            EXPECT_DOUBLE_EQ(runtime::textToReal(c.text), *c.value);
        } else {
            EXPECT_THROW(runtime::textToReal(c.text), RuntimeError);
        }
    }
}

TEST(IntegerToText, SignedDecimalWithoutPadding)
{
    const std::pair<int, const char *> cases[] = {{0, "0"},   {7, "7"},           {255, "255"},
                                                  {-1, "-1"}, {-32768, "-32768"}, {32767, "32767"}};
    for (const auto &[value, text] : cases)
        EXPECT_EQ(runtime::integerToText(static_cast<std::int16_t>(value)), text);
}

TEST(Quoted, EscapesControlCharactersAndCutsLongTexts)
{
    EXPECT_EQ(runtime::quoted("a\tb\n"), "\"a\\tb\\n\"");
    EXPECT_EQ(runtime::quoted(std::string("\0", 1)), "\"\\x00\"");
    const auto cut = runtime::quoted(std::string(10000, '9'));
    EXPECT_LT(cut.size(), 80u);
    EXPECT_NE(cut.find("10000 bytes"), std::string::npos);
}

} // namespace
