// Each suite runs in its own process with its own library where the loader
// looks (see CMakeLists.txt), since a binding lasts for the life of the
// process. Loads and lookups are recorded by an rtld-audit module on Linux and
// by a hook on this executable's imports on Windows.
#include "Library.h"
#include "PortIO.h"
#include "Record.h"
#include "RuntimeError.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

using Lines = std::vector<std::string>;
using runtime::RuntimeError;

namespace {

const std::string loaded = "load " + runtime::loaderName("inpout32.dll");

#ifdef _WIN32
const std::string libraryMissing = "Windows error 126";
const std::string entryPointMissing = "Windows error 127";
const std::string libraryFix = "put inpout32.dll beside ";
void setReadValue(const char *value) { _putenv_s("PORTPANEL_READ_VALUE", value); }
#else
const std::string libraryMissing = "libinpout32.so: cannot open shared object file";
const std::string entryPointMissing = "undefined symbol: Inp32";
const std::string libraryFix = "LD_LIBRARY_PATH";
void setReadValue(const char *value) { setenv("PORTPANEL_READ_VALUE", value, 1); }
#endif

// Runs a call that must fail; returns the error.
RuntimeError failure(const std::function<void()> &call)
{
    try {
        call();
    } catch (const RuntimeError &error) {
        return error;
    }
    ADD_FAILURE() << "the call did not fail";
    return RuntimeError(runtime::ErrorNumber::Internal, "");
}

bool mentions(const RuntimeError &error, const std::string &text)
{
    return error.description().find(text) != std::string::npos;
}

TEST(RecordingLibrary, EachEntryPointBindsOnceAtItsFirstCall)
{
    record::clear();
    portio::Out32(888, 0);
    EXPECT_EQ(record::lines(), (Lines{loaded, "lookup Out32", "out 888 0"}));

    record::clear();
    portio::Out32(888, 200);
    portio::Out32(-8176, 255);
    portio::Out32(-1, -1);
    EXPECT_EQ(record::lines(), (Lines{"out 888 200", "out -8176 255", "out -1 -1"}));

    record::clear();
    EXPECT_EQ(portio::Inp32(888), 42);
    EXPECT_EQ(record::lines(), (Lines{"lookup Inp32", "in 888"}));

    // A library without PortProblem is trusted: its negative value is a value.
    record::clear();
    setReadValue("-1");
    EXPECT_EQ(portio::Inp32(-8176), -1);
    EXPECT_EQ(portio::Inp32(-8176), -1);
    setReadValue("255");
    EXPECT_EQ(portio::Inp32(-1), 255);
    std::thread([] { portio::Out32(889, 1); }).join();
    EXPECT_EQ(record::lines(), (Lines{"in -8176", "in -8176", "in -1", "out 889 1"}));
}

TEST(RefusingLibrary, ARefusedPortIsErrorFiveNamingThePortAndOthersStillWork)
{
    portio::Out32(0x2F8, 1);
    const auto error = failure([] { portio::Inp32(0x2F8); });
    EXPECT_EQ(error.number(), 5);
    EXPECT_EQ(error.description(), "port 0x02F8 was not reached: refused by the test");
    EXPECT_EQ(portio::Inp32(888), 42);
}

TEST(MissingLibrary, FailsNamingTheLibraryAndReachesNoPort)
{
    record::clear();
    for (const auto &call : {std::function<void()>([] { portio::Out32(888, 0); }),
                             std::function<void()>([] { portio::Inp32(888); })}) {
        const auto error = failure(call);
        EXPECT_EQ(error.number(), 3);
        EXPECT_TRUE(
            mentions(error, "cannot load the port library " + runtime::loaderName("inpout32.dll")))
            << error.description();
        EXPECT_TRUE(mentions(error, libraryMissing)) << error.description();
        EXPECT_TRUE(mentions(error, libraryFix)) << error.description();
    }
    EXPECT_EQ(record::lines(), Lines{});
}

TEST(LibraryWithoutInp32, FailsNamingTheEntryPointAndStillBindsOut32)
{
    record::clear();
    const auto error = failure([] { portio::Inp32(888); });
    EXPECT_EQ(error.number(), 4);
    EXPECT_TRUE(mentions(error, runtime::loaderName("inpout32.dll") + " has no entry point Inp32"))
        << error.description();
    EXPECT_TRUE(mentions(error, entryPointMissing)) << error.description();
    EXPECT_EQ(record::lines(), Lines{loaded});

    portio::Out32(888, 5);
    EXPECT_EQ(record::lines(), (Lines{loaded, "lookup Out32", "out 888 5"}));
}

TEST(UnreadyLibrary, FailsWithTheLibrarysReasonBeforeAnyPortCall)
{
    record::clear();
    const auto error = failure([] { portio::Out32(888, 0); });
    EXPECT_EQ(error.number(), 5);
    // On Windows the library is named by its full path.
    EXPECT_TRUE(mentions(error, "the recording library was built unready (test)\n  "))
        << error.description();
    EXPECT_TRUE(mentions(error, runtime::loaderName("inpout32.dll") + " cannot work here"))
        << error.description();
    const auto lines = record::lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string &l) { return l.rfind("out", 0) == 0; }),
              0);
}

} // namespace
