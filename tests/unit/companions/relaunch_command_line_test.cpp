#include "relaunch/relaunch_core.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace relaunch {
namespace {

TEST(RelaunchProcessId, AcceptsOnlyStrictDecimalAboveOne) {
    const struct {
        std::string_view text;
        std::optional<std::int32_t> expected;
    } cases[] = {
        {"42", 42},
        {"+42", 42},                 // an explicit plus sign is a sign
        {"2", 2},                    // the smallest usable identifier
        {"007", 7},                  // leading zeros are still decimal
        {"2147483647", 2147483647},  // the largest signed 32-bit value
        {"0", std::nullopt},         // would signal the helper's own process group
        {"1", std::nullopt},         // init
        {"-5", std::nullopt},        // negative values name process groups
        {"-2147483648", std::nullopt},
        {"2147483648", std::nullopt},  // one beyond the 32-bit range
        {"99999999999999999999", std::nullopt},
        {"12a", std::nullopt},
        {" 12", std::nullopt},
        {"12 ", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"+-5", std::nullopt},  // one sign at most
        {"++5", std::nullopt},
        {"0x10", std::nullopt},  // decimal only
        {"1e3", std::nullopt},
        {"\xd9\xa1\xd9\xa2", std::nullopt},  // Arabic-Indic digits are not ASCII digits
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseProcessId(c.text), c.expected) << "\"" << c.text << "\"";
    }
}

struct CommandLineCase {
    const char* behaviour;
    std::vector<std::string_view> arguments;
    std::string_view workingDirectory;
    std::optional<std::string> bundlePath;  // nullopt: the command line is refused
};

const CommandLineCase kCommandLineCases[] = {
    {"two valid arguments", {"VelmoraRelaunch", "4242", "/a/b/Velmora.app"}, "/", "/a/b/Velmora.app"},
    {"no argument", {"VelmoraRelaunch"}, "/", std::nullopt},
    {"one argument", {"VelmoraRelaunch", "4242"}, "/", std::nullopt},
    {"three arguments", {"VelmoraRelaunch", "4242", "/a/Velmora.app", "extra"}, "/", std::nullopt},
    {"empty command line", {}, "/", std::nullopt},
    {"bad process identifier", {"VelmoraRelaunch", "1", "/a/Velmora.app"}, "/", std::nullopt},
    {"trailing separator", {"VelmoraRelaunch", "4242", "/a/b/Velmora.app/"}, "/", "/a/b/Velmora.app"},
    {"repeated separators count as one", {"VelmoraRelaunch", "4242", "/a//b/Velmora.app//"}, "/", "/a/b/Velmora.app"},
    {"dot and dot-dot components", {"VelmoraRelaunch", "4242", "/a/./b/../Velmora.app"}, "/", "/a/Velmora.app"},
    {"dot-dot leading back into the bundle",
     {"VelmoraRelaunch", "4242", "/a/Velmora.app/Contents/.."},
     "/",
     "/a/Velmora.app"},
    {"dot-dot leaving the bundle", {"VelmoraRelaunch", "4242", "/a/Velmora.app/.."}, "/", std::nullopt},
    {"relative path against the working directory",
     {"VelmoraRelaunch", "4242", "Velmora.app"},
     "/opt/v",
     "/opt/v/Velmora.app"},
    {"relative path climbing out of the working directory",
     {"VelmoraRelaunch", "4242", "../Velmora.app"},
     "/opt/v/x",
     "/opt/v/Velmora.app"},
    {"relative path without a working directory", {"VelmoraRelaunch", "4242", "Velmora.app"}, "", std::nullopt},
    {"working directory written with repeated separators",
     {"VelmoraRelaunch", "4242", "Velmora.app"},
     "//",
     "/Velmora.app"},
    {"absolute path needs no working directory", {"VelmoraRelaunch", "4242", "/a/Velmora.app"}, "", "/a/Velmora.app"},
    {"longer extension", {"VelmoraRelaunch", "4242", "/a/Velmora.apps"}, "/", std::nullopt},
    {"no extension", {"VelmoraRelaunch", "4242", "/a/Velmora"}, "/", std::nullopt},
    {"extension in another case", {"VelmoraRelaunch", "4242", "/a/Velmora.APP"}, "/", std::nullopt},
    {"extension before another one", {"VelmoraRelaunch", "4242", "/a/Velmora.app.zip"}, "/", std::nullopt},
    {"only the last of two extensions counts",
     {"VelmoraRelaunch", "4242", "/a/Velmora.old.app"},
     "/",
     "/a/Velmora.old.app"},
    // A name that is all extension is a hidden file's name, with no extension at all.
    {"hidden name", {"VelmoraRelaunch", "4242", "/a/.app"}, "/", std::nullopt},
    {"app only in a folder above", {"VelmoraRelaunch", "4242", "/a/Velmora.app/Contents"}, "/", std::nullopt},
    {"root", {"VelmoraRelaunch", "4242", "/"}, "/", std::nullopt},
    {"empty path", {"VelmoraRelaunch", "4242", ""}, "/opt/Velmora.app", std::nullopt},
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const CommandLineCase& c, std::ostream* out) { *out << c.behaviour; }

class RelaunchCommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(RelaunchCommandLine, JudgesArgumentsBeforeAnyWait) {
    const auto& c = GetParam();
    const auto request = parseCommandLine(c.arguments, c.workingDirectory);
    if (!c.bundlePath) {
        EXPECT_FALSE(request.has_value()) << request->bundlePath;
        return;
    }
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->processId, 4242);
    EXPECT_EQ(request->bundlePath, *c.bundlePath);
}

INSTANTIATE_TEST_SUITE_P(Cases, RelaunchCommandLine, testing::ValuesIn(kCommandLineCases),
                         [](const testing::TestParamInfo<CommandLineCase>& info) {
                             std::string name;
                             for (const char* p = info.param.behaviour; *p != '\0'; ++p) {
                                 const char ch = *p;
                                 const bool alnum =
                                     (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
                                 name += alnum ? ch : '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace relaunch
