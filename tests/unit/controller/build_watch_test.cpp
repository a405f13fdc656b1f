#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

constexpr const char* kBundle = "/opt/velmora/Velmora.app";
constexpr const char* kInfoPlist = "/opt/velmora/Velmora.app/Contents/Info.plist";
constexpr const char* kHelper = "/opt/velmora/Velmora.app/Contents/MacOS/VelmoraRelaunch";

std::string plistWith(const std::string& root) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" +
           root + "\n</plist>\n";
}

// An information property list as the bundle on disk carries it, with build number `number`.
std::string infoPlist(const std::string& number) {
    return plistWith(
        "<dict><key>CFBundleIdentifier</key><string>fr.velmora.universal</string>"
        "<key>CFBundleVersion</key><string>" +
        number + "</string></dict>");
}

// What one tick finds: the bytes of Contents/Info.plist (nullopt: the file cannot be read) and
// whether a dialog of ours is open on the window.
struct Tick {
    std::optional<std::string> info;
    bool sheet = false;
};

Tick build(const std::string& number) { return {infoPlist(number)}; }
Tick buildUnderDialog(const std::string& number) { return {infoPlist(number), true}; }
const Tick kUnreadable{std::nullopt};
const Tick kUnreadableUnderDialog{std::nullopt, true};
const Tick kNotAPropertyList{"PK\x03\x04 partially copied archive"};
const Tick kTruncated{infoPlist("42").substr(0, 150)};
const Tick kNoBuildNumber{plistWith("<dict><key>CFBundleIdentifier</key><string>fr.velmora.universal</string></dict>")};
const Tick kBuildNumberNotText{plistWith("<dict><key>CFBundleVersion</key><integer>42</integer></dict>")};
const Tick kRootNotADictionary{plistWith("<array><string>CFBundleVersion</string><string>42</string></array>")};

// A launched controller on fakes of its own, so that every row of a table starts afresh.
struct Machine {
    explicit Machine(const std::string& runningBuild, bool helperInPlace = true,
                     std::vector<std::string> arguments = {"/opt/velmora/Velmora.app/Contents/MacOS/Velmora"}) {
        fake.bundle.info["CFBundleVersion"] = runningBuild;
        if (helperInPlace) fake.files.executables.insert(kHelper);
        controller = std::make_unique<Velmora>(fake.platform, BuildConstants{kPublicHost}, arguments);
        fake.application.setDelegate(controller.get());
        controller->applicationWillFinishLaunching();
        controller->applicationDidFinishLaunching();
    }
    // Puts `tick`'s state in place and lets the watch timer fire once.
    void tick(const Tick& state) {
        if (state.info)
            fake.files.contents[kInfoPlist] = std::vector<std::uint8_t>(state.info->begin(), state.info->end());
        else
            fake.files.contents.erase(kInfoPlist);
        fake.views.window->sheet = state.sheet;
        fake.timers.advance(2.0);
    }
    // Runs the ticks and returns the number (from 1) of the tick at which the helper was started,
    // 0 when it never was.
    int handoverTick(const std::vector<Tick>& ticks) {
        int handedOverAt = 0;
        for (size_t i = 0; i < ticks.size(); ++i) {
            tick(ticks[i]);
            if (handedOverAt == 0 && !fake.processes.launched.empty()) handedOverAt = static_cast<int>(i) + 1;
        }
        EXPECT_LE(fake.processes.launched.size(), 1u) << "the helper is started once";
        return handedOverAt;
    }

    fakes::FakePlatform fake;
    std::unique_ptr<Velmora> controller;
};

struct WatchCase {
    const char* behaviour;
    std::string runningBuild;
    std::vector<Tick> ticks;
    int handoverTick;  // counted from 1; 0 for never
};

TEST(BuildWatch, HandsOverOnlyAfterTheSameNewerBuildAtTwoConsecutiveTicks) {
    const WatchCase cases[] = {
        {"41 then 42 installed hands over at the second tick", "41", {build("42"), build("42")}, 2},
        {"10 follows 9 by number, not by text", "9", {build("10"), build("10")}, 2},
        {"1.10 follows 1.9", "1.9", {build("1.10"), build("1.10")}, 2},
        {"a build seen once does nothing yet", "41", {build("42")}, 0},
        {"the same build never hands over", "41", {build("41"), build("41"), build("41"), build("41")}, 0},
        {"an older build never hands over", "41", {build("40"), build("40"), build("40"), build("40")}, 0},
        {"9 is older than 10 by number", "10", {build("9"), build("9"), build("9")}, 0},
        {"an unreadable file in between starts the count over",
         "41",
         {build("42"), kUnreadable, build("42"), build("42")},
         4},
        {"an older build in between starts the count over",
         "41",
         {build("42"), build("41"), build("42"), build("42")},
         4},
        {"a different newer build starts the count over", "41", {build("42"), build("43"), build("43")}, 3},
        {"bytes that are no property list count as unreadable",
         "41",
         {build("42"), kNotAPropertyList, build("42"), build("42")},
         4},
        {"a truncated file counts as unreadable", "41", {build("42"), kTruncated, build("42"), build("42")}, 4},
        {"a file without build number counts as unreadable",
         "41",
         {build("42"), kNoBuildNumber, build("42"), build("42")},
         4},
        {"a build number that is no text counts as unreadable",
         "41",
         {build("42"), kBuildNumberNotText, build("42"), build("42")},
         4},
        {"a root that is no dictionary counts as unreadable",
         "41",
         {build("42"), kRootNotADictionary, build("42"), build("42")},
         4},
        {"an open dialog skips ticks without losing the observation",
         "41",
         {build("42"), buildUnderDialog("42"), buildUnderDialog("42"), build("42")},
         4},
        {"an open dialog keeps the observation even while the file is unreadable",
         "41",
         {build("42"), kUnreadableUnderDialog, build("42")},
         3},
        {"no hand-over while a dialog stays open",
         "41",
         {buildUnderDialog("42"), buildUnderDialog("42"), buildUnderDialog("42")},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Machine machine(c.runningBuild);
        EXPECT_EQ(machine.handoverTick(c.ticks), c.handoverTick);
    }
}

TEST(BuildWatch, HandOverStartsTheHelperWithPidAndBundlePathAndEndsTheProcess) {
    Machine machine("41");
    machine.fake.processes.pid = 31337;
    machine.fake.log.clear();
    machine.tick(build("42"));
    machine.tick(build("42"));

    ASSERT_EQ(machine.fake.processes.launched.size(), 1u);
    EXPECT_EQ(machine.fake.processes.launched.front(), (std::vector<std::string>{kHelper, "31337", kBundle}));
    // The termination is accepted, not turned into a return to the background.
    EXPECT_TRUE(machine.fake.application.terminated);
    EXPECT_TRUE(machine.fake.views.window->visible);
    EXPECT_FALSE(machine.fake.log.has("window.orderOut"));
    EXPECT_FALSE(machine.fake.log.has("application.setActivationPolicy(accessory)"));
    EXPECT_EQ(machine.fake.log.count("processes.launch(" + std::string(kHelper) + ")"), 1);
    EXPECT_TRUE(machine.fake.systemLog.lines.empty());
}

TEST(BuildWatch, AfterTheHandOverTheWatchDoesNothingMoreAndQuitsAreAccepted) {
    Machine machine("41");
    machine.tick(build("42"));
    machine.tick(build("42"));
    ASSERT_TRUE(machine.fake.application.terminated);
    machine.fake.application.terminated = false;

    machine.tick(build("43"));
    machine.tick(build("43"));
    machine.tick(build("43"));
    EXPECT_EQ(machine.fake.processes.launched.size(), 1u);

    machine.fake.application.terminate();
    EXPECT_TRUE(machine.fake.application.terminated);
    EXPECT_TRUE(machine.fake.views.window->visible);
}

TEST(BuildWatch, HandsOverAlsoFromABackgroundLaunch) {
    Machine machine("41", true, {"/opt/velmora/Velmora.app/Contents/MacOS/Velmora", "--background"});
    EXPECT_EQ(machine.handoverTick({build("42"), build("42")}), 2);
    EXPECT_TRUE(machine.fake.application.terminated);
}

TEST(BuildWatch, MissingHelperDoesNothingAndLogsNothingButKeepsTheObservation) {
    Machine machine("41", /*helperInPlace=*/false);
    // An even number of ticks, so that dropping the observation at every other one would show.
    for (int i = 0; i < 4; ++i) machine.tick(build("42"));
    EXPECT_TRUE(machine.fake.processes.launched.empty());
    EXPECT_FALSE(machine.fake.application.terminated);
    EXPECT_TRUE(machine.fake.systemLog.lines.empty());

    // Once the helper is in place the very next tick hands over: the observation was kept.
    machine.fake.files.executables.insert(kHelper);
    machine.tick(build("42"));
    EXPECT_EQ(machine.fake.processes.launched.size(), 1u);
    EXPECT_TRUE(machine.fake.application.terminated);
}

TEST(BuildWatch, HelperThatFailsToStartIsLoggedAtEveryTickAndTriedAgain) {
    Machine machine("41");
    machine.fake.processes.launchError = "Permission non accordée";
    for (int i = 0; i < 4; ++i) machine.tick(build("42"));

    const std::string line = "Velmóra: automatic relaunch unavailable: Permission non accordée";
    EXPECT_EQ(machine.fake.systemLog.lines, (std::vector<std::string>{line, line, line}));
    EXPECT_FALSE(machine.fake.application.terminated);
    EXPECT_TRUE(machine.fake.views.window->visible);
    EXPECT_FALSE(machine.fake.log.has("application.terminate"));

    machine.fake.processes.launchError.reset();
    machine.tick(build("42"));
    EXPECT_EQ(machine.fake.processes.launched.size(), 1u);
    EXPECT_TRUE(machine.fake.application.terminated);
    EXPECT_EQ(machine.fake.systemLog.lines.size(), 3u);
}

TEST(BuildWatch, UpdaterCallsStopTheWatchForGoodAndLetAQuitThrough) {
    const struct {
        const char* call;
        void (platform::UpdaterDelegate::*announce)();
    } cases[] = {
        {"updaterWillInstallUpdate", &platform::UpdaterDelegate::updaterWillInstallUpdate},
        {"updaterWillRelaunchApplication", &platform::UpdaterDelegate::updaterWillRelaunchApplication},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        Machine machine("41");
        const auto watchTimer = machine.fake.timers.withInterval(2.0);
        ASSERT_EQ(watchTimer.size(), 1u);
        ASSERT_NE(machine.fake.updaters.delegate, nullptr);

        (machine.fake.updaters.delegate->*c.announce)();

        EXPECT_FALSE(watchTimer.front()->isValid());
        for (int i = 0; i < 4; ++i) machine.tick(build("42"));
        EXPECT_TRUE(machine.fake.processes.launched.empty());

        machine.fake.application.terminate();
        EXPECT_TRUE(machine.fake.application.terminated);
        EXPECT_TRUE(machine.fake.views.window->visible);
        EXPECT_FALSE(machine.fake.log.has("window.orderOut"));
    }
}

TEST(BuildWatch, UpdaterCallBeforeTheWatchExistsStillLetsAQuitThrough) {
    fakes::FakePlatform fake;
    Velmora controller(fake.platform, BuildConstants{kPublicHost}, {"Velmora"});
    fake.application.setDelegate(&controller);
    controller.updaterWillInstallUpdate();
    fake.application.terminate();
    EXPECT_TRUE(fake.application.terminated);
}

}  // namespace
}  // namespace velmora::testing
