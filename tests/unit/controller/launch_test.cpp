#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using Calls = std::vector<std::string>;

// The calls of the launch up to the menus, and from the web view on; the menu items
// themselves are checked by the menu tests.
Calls launchCalls(const Calls& all) {
    Calls kept;
    for (const auto& call : all)
        if (!call.starts_with("menu.")) kept.push_back(call);
    return kept;
}

const Calls kHead = {
    "application.currentLaunchIsLoginItem",
    "application.currentLaunchIsLoginItem",
    "application.beginBackgroundActivity(Surveillance des notifications Velmóra)",
    "application.installQuitEventHandler",
    "timers.scheduleRepeating(2)",
    "updaters.makeUpdater",
    "notifications.setDelegate",
    "notifications.requestAuthorization",
    "timers.scheduleRepeating(60)",
    "application.makeMainMenu",
    "loginItems.agentService(fr.velmora.universal.background.plist)",
    "agent.register",
    "defaults.set(velmoraBackgroundAgentMigrated)",
    "defaults.set(velmoraLoginStartConfigured)",
    "loginItems.agentService(fr.velmora.universal.background.plist)",
    "application.setMainMenu",
    "views.makeWebView",
    "web.setNavigationDelegate",
    "web.setUIDelegate",
    "views.makeWindow(1200x820, Velmóra)",
    "window.setContentView",
    "window.setReleasedWhenClosed(false)",
    "window.center",
};

Calls concat(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(ControllerTest, NormalLaunchRunsTheStepsInOrder) {
    launch();
    const Calls expected = concat(kHead, {
                                             "window.makeKeyAndOrderFront",
                                             "application.activate",
                                             "updater.automaticallyChecksForUpdates",
                                             "updater.checkForUpdatesInBackground",
                                             "web.load(https://velmora.fr/connexion.html)",
                                         });
    EXPECT_EQ(launchCalls(fake.log.calls), expected);
    EXPECT_TRUE(window().visible);
    EXPECT_EQ(fake.application.policy, platform::ActivationPolicy::Regular);
}

TEST_F(ControllerTest, BackgroundLaunchStaysHiddenButLoadsTheStartPage) {
    fake.updaters.automatic = false;
    launch({"/opt/velmora/Velmora.app/Contents/MacOS/Velmora", "--background"});
    Calls head = kHead;
    // A launch already known to be a login launch does not ask for the launch event.
    head.erase(head.begin(), head.begin() + 2);
    const Calls expected = concat(head, {
                                            "application.setActivationPolicy(accessory)",
                                            "updater.automaticallyChecksForUpdates",
                                            "web.load(https://velmora.fr/connexion.html)",
                                        });
    EXPECT_EQ(launchCalls(fake.log.calls), expected);
    EXPECT_FALSE(window().visible);
    EXPECT_EQ(fake.application.policy, platform::ActivationPolicy::Accessory);
    ASSERT_TRUE(controller->pendingURL());
    EXPECT_EQ(controller->pendingURL()->string(), "https://velmora.fr/connexion.html");
}

TEST_F(ControllerTest, LoginItemLaunchCountsAsBackgroundLaunch) {
    fake.application.loginItemLaunch = true;
    launch();
    EXPECT_TRUE(controller->isLoginLaunch());
    EXPECT_FALSE(window().visible);
    EXPECT_EQ(fake.application.policy, platform::ActivationPolicy::Accessory);
    // Asked once in willFinish; once true it is not asked again.
    EXPECT_EQ(fake.log.count("application.currentLaunchIsLoginItem"), 1);
}

TEST_F(ControllerTest, RecognisesOnlyTheExactBackgroundArgument) {
    const struct {
        std::vector<std::string> arguments;
        bool loginLaunch;
    } cases[] = {
        {{"Velmora"}, false},
        {{"Velmora", "--background"}, true},
        {{"Velmora", "-x", "--background", "y"}, true},  // in any position
        {{"--background"}, true},                        // the program path counts too
        {{"Velmora", "--Background"}, false},
        {{"Velmora", "--background=1"}, false},
        {{"Velmora", " --background"}, false},
        {{"Velmora", "background"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        fakes::FakePlatform platform;
        Velmora velmora(platform.platform, BuildConstants{kPublicHost}, c.arguments);
        EXPECT_EQ(velmora.isLoginLaunch(), c.loginLaunch);
    }
}

TEST_F(ControllerTest, ReadsTheRunningBuildOnceAtCreation) {
    fake.bundle.info["CFBundleVersion"] = "41";
    create();
    fake.bundle.info["CFBundleVersion"] = "42";
    EXPECT_EQ(controller->build(), "41");
}

TEST_F(ControllerTest, MissingBuildNumberReadsAsEmpty) {
    fake.bundle.info.erase("CFBundleVersion");
    create();
    EXPECT_EQ(controller->build(), "");
}

TEST_F(ControllerTest, TimersFireAtTheirIntervalsInEveryMode) {
    launch({"Velmora", "--background"});
    EXPECT_EQ(fake.timers.withInterval(2.0).size(), 1u);
    EXPECT_EQ(fake.timers.withInterval(60.0).size(), 1u);
    EXPECT_TRUE(fake.timers.withInterval(2.0).front()->repeats);
    EXPECT_TRUE(fake.timers.withInterval(60.0).front()->repeats);
}

TEST_F(ControllerTest, TimersHoldTheControllerWeakly) {
    launch();
    auto timer = fake.timers.withInterval(60.0).front();
    controller.reset();
    timer->fire();  // must not touch the destroyed controller
    SUCCEED();
}

}  // namespace
}  // namespace velmora::testing
