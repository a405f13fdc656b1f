// The companions' decisions on their command line, paths and the wait, in process.
#include "launcher/launcher_core.h"
#include "relaunch/relaunch_core.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace std::literals;
using std::nullopt;
using Seconds = std::chrono::duration<double>;

TEST(RelaunchProcessId, AcceptsOnlyStrictDecimalAboveOne) {
    EXPECT_EQ(relaunch::parseProcessId("42"), 42);
    EXPECT_EQ(relaunch::parseProcessId("+42"), 42);
    EXPECT_EQ(relaunch::parseProcessId("2"), 2);
    EXPECT_EQ(relaunch::parseProcessId("007"), 7);
    EXPECT_EQ(relaunch::parseProcessId("2147483647"), 2147483647);
    // 0 would signal the helper's own process group, 1 is init, negative values name groups;
    // the last are Arabic-Indic digits.
    for (const std::string_view text :
         {"0"sv, "1"sv, "-5"sv, "-2147483648"sv, "2147483648"sv, "99999999999999999999"sv, "12a"sv, " 12"sv, "12 "sv,
          ""sv, "+"sv, "-"sv, "+-5"sv, "++5"sv, "0x10"sv, "1e3"sv, "\xd9\xa1\xd9\xa2"sv}) {
        EXPECT_EQ(relaunch::parseProcessId(text), nullopt) << '"' << text << '"';
    }
}

TEST(RelaunchCommandLine, TakesAProcessAndAnApplicationBundle) {
    const auto parse = [](std::vector<std::string_view> arguments, std::string_view workingDirectory = "/") {
        arguments.insert(arguments.begin(), "VelmoraRelaunch");
        return relaunch::parseCommandLine(arguments, workingDirectory);
    };
    const auto request = parse({"4242", "/a/b/Velmora.app"});
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->processId, 4242);
    EXPECT_EQ(request->bundlePath, "/a/b/Velmora.app");
    EXPECT_FALSE(relaunch::parseCommandLine({}, "/"));
    for (const auto& arguments : std::vector<std::vector<std::string_view>>{
             {}, {"4242"}, {"4242", "/a/Velmora.app", "extra"}, {"1", "/a/Velmora.app"}}) {
        EXPECT_FALSE(parse(arguments)) << arguments.size() << " arguments";
    }

    const struct {
        std::string_view path, workingDirectory;
        std::optional<std::string> bundle;  // nullopt: refused
    } paths[] = {
        {"/a/b/Velmora.app/", "/", "/a/b/Velmora.app"},
        {"/a//b/Velmora.app//", "/", "/a/b/Velmora.app"},
        {"/a/./b/../Velmora.app", "/", "/a/Velmora.app"},
        {"/a/Velmora.app/Contents/..", "/", "/a/Velmora.app"},
        {"/a/Velmora.app/..", "/", nullopt},
        {"Velmora.app", "/opt/v", "/opt/v/Velmora.app"},
        {"../Velmora.app", "/opt/v/x", "/opt/v/Velmora.app"},
        {"Velmora.app", "", nullopt},
        {"Velmora.app", "//", "/Velmora.app"},  // standardising once aborted on this working directory
        {"/a/Velmora.app", "", "/a/Velmora.app"},
        {"/a/Velmora.old.app", "/", "/a/Velmora.old.app"},
        {"/a/Velmora.apps", "/", nullopt},
        {"/a/Velmora", "/", nullopt},
        {"/a/Velmora.APP", "/", nullopt},
        {"/a/Velmora.app.zip", "/", nullopt},
        {"/a/.app", "/", nullopt},  // a hidden file's name, with no extension at all
        {"/a/Velmora.app/Contents", "/", nullopt},
        {"/", "/", nullopt},
        {"", "/opt/Velmora.app", nullopt},
    };
    for (const auto& c : paths) {
        const auto parsed = parse({"4242", c.path}, c.workingDirectory);
        EXPECT_EQ(parsed ? std::optional(parsed->bundlePath) : nullopt, c.bundle)
            << '"' << c.path << "\" in \"" << c.workingDirectory << '"';
    }
}

// Runs `child` in a forked process that then ends; its identifier.
pid_t forkChild(void (*child)()) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        child();
        ::_exit(0);
    }
    return pid;
}

// How long the wait for `pid` took, and whether it saw the process end.
std::pair<bool, double> timedWait(pid_t pid, relaunch::WaitLimits limits) {
    const auto start = std::chrono::steady_clock::now();
    const bool ended = relaunch::waitForProcessEnd(pid, limits);
    return {ended, Seconds(std::chrono::steady_clock::now() - start).count()};
}

TEST(RelaunchWait, LooksEveryPauseUntilTheProcessEndsOrTheLimitRunsOut) {
    const pid_t lingering = forkChild([] {
        for (;;) ::pause();
    });
    const auto [endedLingering, outlived] = timedWait(lingering, {0.3s, 0.05s});
    ::kill(lingering, SIGKILL);
    ::waitpid(lingering, nullptr, 0);
    EXPECT_FALSE(endedLingering);
    EXPECT_GE(outlived, 0.3);
    EXPECT_LT(outlived, 2.0);

    // A single pause would take ten seconds, so a quick answer shows there was none.
    const pid_t gone = forkChild([] {});
    ::waitpid(gone, nullptr, 0);
    const auto [endedGone, immediate] = timedWait(gone, {60s, 10s});
    EXPECT_TRUE(endedGone);
    EXPECT_LT(immediate, 1.0);

    // Reaped at once by the test, its parent: a zombie would still answer the probe.
    const pid_t ending = forkChild([] { ::usleep(400'000); });
    std::thread reaper([ending] { ::waitpid(ending, nullptr, 0); });
    const auto [endedLater, later] = timedWait(ending, {10s, 0.05s});
    reaper.join();
    EXPECT_TRUE(endedLater);
    EXPECT_GE(later, 0.35);
    EXPECT_LT(later, 2.0);
}

// The new build's first launch as the helper judges it: the new build removes the replaced one
// once launched; a program that ends with a failure while it is still kept did not start.
TEST(RelaunchFirstLaunch, TellsALaunchFromAFailureByTheKeptBuildAndTheExitStatus) {
    const struct {
        const char* behaviour;
        void (*child)();
        bool removesKeptBuild;
        relaunch::FirstLaunch expected;
    } cases[] = {
        {"the new build launches and removes the kept one", [] { ::pause(); }, true, relaunch::FirstLaunch::Launched},
        {"it ends at once with a failure", [] { ::_exit(1); }, false, relaunch::FirstLaunch::Failed},
        {"it is killed", [] { ::raise(SIGKILL); }, false, relaunch::FirstLaunch::Failed},
        {"it hands over to a running copy and ends well", [] { ::_exit(0); }, false, relaunch::FirstLaunch::Launched},
        {"it still runs, the kept build still there, when the wait ends", [] { ::pause(); }, false,
         relaunch::FirstLaunch::Unknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        char folder[] = "/tmp/velmora-kept-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        const std::string kept = std::string(folder) + "/Velmora.app";
        std::filesystem::create_directory(kept);
        const pid_t child = forkChild(c.child);
        std::thread launch([&] {
            std::this_thread::sleep_for(0.2s);
            if (c.removesKeptBuild) std::filesystem::remove(kept);
        });
        EXPECT_EQ(relaunch::waitForFirstLaunch(child, kept, {1s, 0.02s}), c.expected);
        launch.join();
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        std::filesystem::remove_all(folder);
    }
}

TEST(LauncherBundlePath, RemovesThreeComponentsOfTheAbsoluteProgramPath) {
    const struct {
        std::string_view programPath, workingDirectory, bundle;
    } cases[] = {
        {"/opt/v/Velmora.app/Contents/MacOS/VelmoraBackground", "/tmp", "/opt/v/Velmora.app"},
        // One level deeper the computed folder is Contents, which holds no Info.plist.
        {"/opt/v/Velmora.app/Contents/MacOS/Helpers/VelmoraBackground", "/tmp", "/opt/v/Velmora.app/Contents"},
        {"/opt/v/Velmora.app/Contents/VelmoraBackground", "/tmp", "/opt/v"},
        {"./VelmoraBackground", "/opt/v/Velmora.app/Contents/MacOS", "/opt/v/Velmora.app"},
        {"Contents/MacOS/VelmoraBackground", "/opt/v/Velmora.app", "/opt/v/Velmora.app"},
        {"../MacOS/VelmoraBackground", "/opt/v/Velmora.app/Contents/Resources", "/opt/v/Velmora.app"},
        {"/opt/v//Velmora.app/Contents//MacOS/VelmoraBackground", "/tmp", "/opt/v/Velmora.app"},
        {"/opt/v/./Velmora.app/Contents/./MacOS/VelmoraBackground", "/tmp", "/opt/v/Velmora.app"},
        {"/MacOS/VelmoraBackground", "/tmp", "/"},  // stops at the root
    };
    for (const auto& c : cases) {
        EXPECT_EQ(launcher::bundleFromProgramPath(c.programPath, c.workingDirectory), c.bundle) << c.programPath;
    }
}

}  // namespace
