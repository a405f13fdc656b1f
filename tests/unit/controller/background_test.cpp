#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using Calls = std::vector<std::string>;
using platform::ActivationPolicy;
using platform::TerminateReply;

constexpr const char* kHelper = "/opt/velmora/Velmora.app/Contents/MacOS/VelmoraRelaunch";

// A launched controller, shown as after a normal launch, on fakes of its own.
struct Machine {
    Machine() {
        controller =
            std::make_unique<Velmora>(fake.platform, BuildConstants{kPublicHost}, std::vector<std::string>{"Velmora"});
        fake.application.setDelegate(controller.get());
        controller->applicationWillFinishLaunching();
        controller->applicationDidFinishLaunching();
    }
    fakes::FakeWindow& window() { return *fake.views.window; }
    void choose(const std::string& action) { fake.application.mainMenu->choose(action); }
    // Installs build 42 over the running 41 and lets the watch hand over to the relaunch helper.
    void handOverToNewerBuild() {
        const std::string info =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
            "<key>CFBundleVersion</key><string>42</string></dict></plist>";
        fake.files.contents["/opt/velmora/Velmora.app/Contents/Info.plist"] =
            std::vector<std::uint8_t>(info.begin(), info.end());
        fake.files.executables.insert(kHelper);
        fake.timers.advance(4.0);
        ASSERT_EQ(fake.processes.launched.size(), 1u);
    }

    fakes::FakePlatform fake;
    std::unique_ptr<Velmora> controller;
};

struct GateCase {
    const char* behaviour;
    std::function<void(Machine&)> open;
    TerminateReply reply;
};

TEST(Background, TerminationEndsTheProcessOnlyThroughAnOpenGate) {
    const GateCase cases[] = {
        {"no gate: the request becomes a return to the background", [](Machine&) {}, TerminateReply::Cancel},
        {"a system quit opens the stop gate", [](Machine& m) { m.controller->handleQuitEvent(true); },
         TerminateReply::Now},
        {"the stop command opens the stop gate", [](Machine& m) { m.choose("stopNativeService"); },
         TerminateReply::Now},
        {"a relaunch into a newer build opens the restart gate", [](Machine& m) { m.handOverToNewerBuild(); },
         TerminateReply::Now},
        {"the updater installing opens the update gate",
         [](Machine& m) { m.fake.updaters.delegate->updaterWillInstallUpdate(); }, TerminateReply::Now},
        {"the updater relaunching opens the update gate",
         [](Machine& m) { m.fake.updaters.delegate->updaterWillRelaunchApplication(); }, TerminateReply::Now},
        {"an ordinary quit request opens no gate", [](Machine& m) { m.controller->handleQuitEvent(false); },
         TerminateReply::Cancel},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Machine machine;
        ASSERT_TRUE(machine.window().visible);
        c.open(machine);
        machine.window().visible = true;
        machine.fake.application.policy = ActivationPolicy::Regular;

        // Asked twice: once open, a gate stays open.
        for (int round = 0; round < 2; ++round) {
            machine.fake.log.clear();
            EXPECT_EQ(machine.controller->applicationShouldTerminate(), c.reply);
            if (c.reply == TerminateReply::Cancel) {
                EXPECT_EQ(machine.fake.log.calls,
                          (Calls{"window.orderOut", "application.setActivationPolicy(accessory)"}));
                EXPECT_FALSE(machine.window().visible);
                EXPECT_EQ(machine.fake.application.policy, ActivationPolicy::Accessory);
            } else {
                EXPECT_EQ(machine.fake.log.calls, Calls{});
                EXPECT_TRUE(machine.window().visible);
                EXPECT_EQ(machine.fake.application.policy, ActivationPolicy::Regular);
            }
        }
    }
}

TEST(Background, QuitItemHidesTheWindowAndTheServiceLivesOn) {
    Machine machine;
    machine.choose("terminate:");
    EXPECT_FALSE(machine.fake.application.terminated);
    EXPECT_FALSE(machine.window().visible);
    EXPECT_EQ(machine.fake.application.policy, ActivationPolicy::Accessory);
    EXPECT_EQ(machine.fake.timers.withInterval(60.0).size(), 1u);  // the inbox poll
    EXPECT_EQ(machine.fake.timers.withInterval(2.0).size(), 1u);   // the installed-build watch

    // A second quit while in the background is cancelled again and changes nothing visible.
    machine.fake.log.clear();
    machine.choose("terminate:");
    EXPECT_FALSE(machine.fake.application.terminated);
    EXPECT_FALSE(machine.window().visible);
    EXPECT_EQ(machine.fake.application.policy, ActivationPolicy::Accessory);
    EXPECT_FALSE(machine.fake.log.has("window.makeKeyAndOrderFront"));
}

TEST(Background, QuitRequestFromOutsideTerminatesOnlyWithAReason) {
    const struct {
        const char* behaviour;
        bool hasQuitReason;
        bool terminated;
        bool windowVisible;
        ActivationPolicy policy;
    } cases[] = {
        {"log out, restart or shut down ends the process at once", true, true, true, ActivationPolicy::Regular},
        {"a script's quit only returns to the background", false, false, false, ActivationPolicy::Accessory},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Machine machine;
        machine.fake.log.clear();
        machine.controller->handleQuitEvent(c.hasQuitReason);
        EXPECT_EQ(machine.fake.log.count("application.terminate"), 1);
        EXPECT_EQ(machine.fake.application.terminated, c.terminated);
        EXPECT_EQ(machine.window().visible, c.windowVisible);
        EXPECT_EQ(machine.fake.application.policy, c.policy);
    }
}

TEST(Background, StopCommandEndsTheProcessAndLeavesNotificationsAndLoginStartAlone) {
    Machine machine;
    platform::NotificationRequest shown;
    shown.identifier = "velmora-notification-test-1";
    machine.fake.notifications.shown.push_back(shown);
    const auto noticeTimer = machine.fake.timers.withInterval(60.0);
    const auto watchTimer = machine.fake.timers.withInterval(2.0);
    ASSERT_EQ(noticeTimer.size(), 1u);
    ASSERT_EQ(watchTimer.size(), 1u);
    const auto loginStartBefore = machine.fake.loginItems.agent.status;
    machine.fake.log.clear();

    machine.choose("stopNativeService");

    EXPECT_TRUE(machine.fake.application.terminated);
    EXPECT_FALSE(noticeTimer.front()->isValid());
    // Nothing else is torn down: the rest ends with the process.
    EXPECT_TRUE(watchTimer.front()->isValid());
    EXPECT_EQ(machine.fake.notifications.shown.size(), 1u);
    EXPECT_TRUE(machine.fake.notifications.removals.empty());
    EXPECT_EQ(machine.fake.loginItems.agent.status, loginStartBefore);
    EXPECT_EQ(machine.fake.log.calls, Calls{"application.terminate"});
}

TEST(Background, StopCommandBeforeThePollExistsStillTerminates) {
    fakes::FakePlatform fake;
    Velmora controller(fake.platform, BuildConstants{kPublicHost}, {"Velmora"});
    fake.application.setDelegate(&controller);
    controller.stopNativeService();
    EXPECT_TRUE(fake.application.terminated);
}

TEST(Background, ClosingTheLastWindowTurnsIntoABackgroundApplication) {
    Machine machine;
    machine.window().visible = false;  // the window system hid it on close
    machine.fake.log.clear();
    EXPECT_FALSE(machine.controller->applicationShouldTerminateAfterLastWindowClosed());
    EXPECT_EQ(machine.fake.log.calls, Calls{"application.setActivationPolicy(accessory)"});
    EXPECT_FALSE(machine.fake.application.terminated);
}

TEST(Background, TerminationRequestBeforeTheWindowExistsIsCancelled) {
    fakes::FakePlatform fake;
    Velmora controller(fake.platform, BuildConstants{kPublicHost}, {"Velmora"});
    EXPECT_EQ(controller.applicationShouldTerminate(), TerminateReply::Cancel);
    EXPECT_EQ(fake.application.policy, ActivationPolicy::Accessory);
}

TEST(Background, ReopenAfterAReturnToTheBackgroundShowsTheSameWindowAndPage) {
    Machine machine;
    auto* const shownWindow = machine.fake.views.window;
    machine.choose("terminate:");
    ASSERT_FALSE(shownWindow->visible);

    EXPECT_TRUE(machine.controller->applicationShouldHandleReopen(false));
    EXPECT_EQ(machine.fake.views.window, shownWindow);
    EXPECT_TRUE(shownWindow->visible);
    EXPECT_EQ(machine.fake.application.policy, ActivationPolicy::Regular);
    EXPECT_EQ(machine.fake.log.count("views.makeWebView"), 1);
}

}  // namespace
}  // namespace velmora::testing
