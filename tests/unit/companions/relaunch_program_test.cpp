// The built VelmoraRelaunch, run as the application runs it. A process that outlives the wait
// cannot be shown here (the program always waits 60 seconds); the wait is tested on its own.
#include "program_harness.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace companion_test {
namespace {

namespace fs = std::filesystem;

class RelaunchProgram : public testing::Test {
protected:
    void SetUp() override {
        bundle = folder.path() / "Velmora.app";
        marker = folder.path() / "marker";
    }

    void makeBundle(const std::map<std::string, std::string>& info, fs::perms programPermissions = fs::perms(0755)) {
        writeFile(bundle / "Contents/Info.plist", infoPlist(info));
        writeFile(bundle / "Contents/MacOS/Velmora", markerScript(marker), programPermissions);
    }

    static Outcome relaunch(std::vector<std::string> arguments, const fs::path& workingDirectory = "/") {
        arguments.insert(arguments.begin(), VELMORA_RELAUNCH_PROGRAM);
        return runProgram({VELMORA_RELAUNCH_PROGRAM, arguments, {"PATH=/usr/bin:/bin"}, workingDirectory});
    }

    TemporaryFolder folder;
    fs::path bundle;
    fs::path marker;
};

TEST_F(RelaunchProgram, OpensTheBundleWithoutArgumentsOnceTheProcessIsGone) {
    makeBundle({{"CFBundleExecutable", "Velmora"}, {"CFBundleIdentifier", "fr.velmora.test"}});

    const Outcome result = relaunch({std::to_string(endedProcessId()), bundle.string()});

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "");  // the helper prints nothing
    const auto seen = awaitMarker(marker);
    ASSERT_TRUE(seen.has_value()) << "the application was not started";
    const std::vector<std::string> expected = {"count=0",     "stdin=/dev/null", "stdout=/dev/null", "stderr=/dev/null",
                                               "session=own", "token=none",      "startup=none"};
    EXPECT_EQ(*seen, expected);
}

TEST_F(RelaunchProgram, AcceptsARelativePathWithDotComponentsAndATrailingSeparator) {
    makeBundle({{"CFBundleExecutable", "Velmora"}});

    const Outcome result = relaunch({std::to_string(endedProcessId()), "./x/../Velmora.app/"}, folder.path());

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_TRUE(awaitMarker(marker).has_value());
}

TEST_F(RelaunchProgram, RefusesUnusableCallsAtOnceWithoutWaiting) {
    makeBundle({{"CFBundleExecutable", "Velmora"}});
    writeFile(folder.path() / "Empty.app/Contents/MacOS/Velmora", markerScript(marker), fs::perms(0755));
    // The test process itself outlives any wait, so a helper that waited would run into the
    // timeout instead of answering quickly.
    const std::string alive = std::to_string(::getpid());
    const struct {
        const char* behaviour;
        std::vector<std::string> arguments;
    } cases[] = {
        {"bundle without Info.plist", {alive, (folder.path() / "Empty.app").string()}},
        {"bundle that does not exist", {alive, (folder.path() / "Missing.app").string()}},
        {"path without the app extension", {alive, folder.path().string()}},
        {"one argument", {alive}},
        {"three arguments", {alive, bundle.string(), "extra"}},
        {"process identifier 1", {"1", bundle.string()}},
        {"process identifier with letters", {"12a", bundle.string()}},
    };
    for (const auto& c : cases) {
        const Outcome result = relaunch(c.arguments);
        EXPECT_EQ(result.exitStatus, 2) << c.behaviour;
        EXPECT_LT(result.elapsed.count(), 2.0) << c.behaviour;
        EXPECT_EQ(result.output, "") << c.behaviour;
    }
    EXPECT_FALSE(fs::exists(marker)) << "an unusable call opened the application";
}

TEST_F(RelaunchProgram, ReportsAnOpeningFailureWhenTheProgramCannotBeDeterminedOrStarted) {
    const struct {
        const char* behaviour;
        std::string info;
        bool withProgram;
        fs::perms permissions;
    } cases[] = {
        {"no CFBundleExecutable", infoPlist({{"CFBundleIdentifier", "fr.velmora.test"}}), true, fs::perms(0755)},
        {"executable name leaving Contents/MacOS", infoPlist({{"CFBundleExecutable", "../MacOS/Velmora"}}), true,
         fs::perms(0755)},
        {"named program missing", infoPlist({{"CFBundleExecutable", "Velmora"}}), false, fs::perms(0755)},
        {"named program not executable", infoPlist({{"CFBundleExecutable", "Velmora"}}), true, fs::perms(0644)},
        {"Info.plist that is no property list", "not a property list", true, fs::perms(0755)},
    };
    for (const auto& c : cases) {
        fs::remove_all(bundle);
        writeFile(bundle / "Contents/Info.plist", c.info);
        if (c.withProgram) {
            writeFile(bundle / "Contents/MacOS/Velmora", markerScript(marker), c.permissions);
        }
        const Outcome result = relaunch({std::to_string(endedProcessId()), bundle.string()});
        EXPECT_EQ(result.exitStatus, 4) << c.behaviour;
        EXPECT_EQ(result.output, "") << c.behaviour;
    }
}

}  // namespace
}  // namespace companion_test
