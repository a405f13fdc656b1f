// The launch sequence, the menus, the web view's configuration, reopen and the quit rules.
#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using platform::ActivationPolicy;
using platform::TerminateReply;

// The steps themselves show end to end; here, what differs between the modes, and the one
// order that matters: the desktop names the window after the entry only if it exists first.
TEST(Launch, ShowsTheWindowOnlyOnANormalLaunchAndThenLoadsTheStartPage) {
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        bool loginItemLaunch;
        int launchEventAsks;  // known from the arguments, or once true, it is not asked again
        bool shown;
    } cases[] = {
        {"normal launch", {kProgram}, false, 2, true},
        {"launched with --background", {kProgram, "--background"}, false, 0, false},
        {"launched as a login item", {kProgram}, true, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.fake.application.loginItemLaunch = c.loginItemLaunch;
        r.launch(c.arguments);
        const Calls& calls = r.fake.log.calls;
        EXPECT_EQ(r.fake.log.count("application.currentLaunchIsLoginItem"), c.launchEventAsks);
        EXPECT_EQ(r.window().visible, c.shown);
        EXPECT_EQ(r.fake.application.policy, c.shown ? ActivationPolicy::Regular : ActivationPolicy::Accessory);
        const auto window = std::ranges::find(calls, "views.makeWindow(1200x820, Velmóra)");
        ASSERT_NE(window, calls.end());
        EXPECT_LT(std::ranges::find(calls, "appEntry.installThisCopy"), window);
        EXPECT_EQ(calls.back(), "web.load(https://velmora.fr/connexion.html)");
        EXPECT_EQ(r.controller->pendingURL()->string(), kSignIn);
    }
}

TEST(Launch, RecognisesOnlyTheExactBackgroundArgument) {
    const struct {
        std::vector<std::string> arguments;
        bool loginLaunch;
    } cases[] = {
        {{"Velmora"}, false},
        {{"Velmora", "-x", "--background", "y"}, true},  // in any position
        {{"--background"}, true},                        // the program path counts too
        {{"Velmora", "--Background"}, false},
        {{"Velmora", "--background=1"}, false},
        {{"Velmora", " --background"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        Rig r;
        EXPECT_EQ(r.create(c.arguments).isLoginLaunch(), c.loginLaunch);
    }
}

// Before the launch there is no window, web view, menu or poll timer: every operation that
// needs one does nothing, and nothing fails.
TEST(Launch, OperationsBeforeTheLaunchNeitherFailNorShowAnything) {
    Rig r;
    r.knownHosts({"salon.example"});
    Velmora& velmora = r.create();
    velmora.pollNativeNotifications();
    velmora.deliverNativeNotice("id", "Titre", "Texte", "/admin", true);
    int done = 0;
    platform::NotificationRequest click;
    click.content.userInfo = {{"url", "https://salon.example/admin"}};
    velmora.didReceiveNotificationResponse(click, [&] { ++done; });
    EXPECT_EQ(done, 1);
    velmora.configureLoginStart();
    EXPECT_EQ(r.fake.loginItems.agent.status, platform::LoginServiceStatus::Enabled);
    EXPECT_EQ(velmora.applicationShouldTerminate(), TerminateReply::Cancel);
    EXPECT_EQ(r.fake.application.policy, ActivationPolicy::Accessory);
    EXPECT_TRUE(r.fake.notifications.added.empty());
    EXPECT_FALSE(r.fake.log.has("notifications.delivered"));
    EXPECT_FALSE(r.fake.log.has("window.makeKeyAndOrderFront"));

    velmora.stopNativeService();
    EXPECT_TRUE(r.fake.application.terminated);
    Rig updating;
    updating.create().updaterWillInstallUpdate();
    updating.fake.application.terminate();
    EXPECT_TRUE(updating.fake.application.terminated);
}

// Timers, menu items and platform answers hold the controller weakly.
TEST(Launch, CallbacksAfterTheControllerIsGoneChangeNothing) {
    Rig r;
    r.console();
    r.fake.notifications.holdDeliveredAnswers = true;
    r.show("shared:salon.example:6", kConsole);
    r.controller->pollNativeNotifications();
    fakes::FakeMenuItem& status = r.item("");
    const auto timers = r.fake.timers.timers;
    auto pollAnswer = std::move(r.web().scripts.at(0).done);  // the web view goes with the controller

    r.controller.reset();
    r.fake.log.clear();
    r.fake.notifications.answerDelivered();
    pollAnswer(signedIn({JsValue::Object{{"id", "7"}, {"kind", "notice"}}}, JsValue::Array{"6"}));
    for (const auto& timer : timers) timer->fire();
    for (const char* action : {"checkForUpdates:", "terminate:", "toggleLoginStart", "testNativeNotice", "reload"})
        r.menu().choose(action);

    EXPECT_EQ(r.fake.log.calls, Calls{});
    EXPECT_EQ(status.title(), "Notifications : connexion nécessaire");
}

// Every launch leaves the desktop an entry that names this copy, unless the package's or the
// user's own entry is there; a failure is logged and the launch goes on.
TEST(Launch, KeepsTheApplicationsEntryInStepWithThisCopy) {
    using State = platform::AppEntryState;
    const char* const install = "appEntry.installThisCopy";
    const char* const remove = "appEntry.removeWritten";
    const struct {
        const char* behaviour;
        State state;
        std::optional<std::string> error;
        Calls calls;
    } cases[] = {
        {"no entry anywhere", State::Missing, std::nullopt, {install}},
        {"written by a copy elsewhere or another build", State::OutOfStep, std::nullopt, {install}},
        {"this copy's, as it writes it", State::ThisCopy, std::nullopt, {}},
        {"the user's own", State::UsersOwn, std::nullopt, {}},
        {"the package's", State::System, std::nullopt, {}},
        {"ours over the package's", State::WrittenOverSystem, std::nullopt, {remove}},
        {"not writable", State::Missing, "Permission non accordée", {install}},
        {"not removable", State::WrittenOverSystem, "Permission non accordée", {remove}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Rig r;
        r.fake.appEntry.current = c.state;
        r.fake.appEntry.installError = r.fake.appEntry.removeError = c.error;
        r.launch();
        Calls calls;
        for (const auto& call : r.fake.log.calls)
            if (call.starts_with("appEntry.")) calls.push_back(call);
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(r.fake.systemLog.lines,
                  c.error ? Calls{"Velmóra: nom et icône de l’application non inscrits: " + *c.error} : Calls{});
        EXPECT_TRUE(r.window().visible) << "the launch goes on";
    }
}

// One row a menu item: "title|action|key", with "|run" when choosing it runs a handler.
Calls rows(const fakes::FakeMenu& menu) {
    Calls out;
    for (const auto& item : menu.items)
        out.push_back(item->separator ? "-"
                                      : item->command.title + "|" + item->command.action + "|" +
                                            item->command.keyEquivalent + (item->handler ? "|run" : ""));
    return out;
}

TEST(Menus, HoldExactlyTheseItems) {
    Rig r;
    r.launch();
    ASSERT_EQ(r.menu().submenus.size(), 3u);
    EXPECT_TRUE(r.menu().items.empty());
    EXPECT_EQ(r.menu().submenus[0]->title, "Velmóra");
    EXPECT_EQ(rows(*r.menu().submenus[0]), (Calls{
                                               "À propos de Velmóra — version 1.4.2|orderFrontStandardAboutPanel:||run",
                                               "-",
                                               "Rechercher les mises à jour…|checkForUpdates:||run",
                                               "-",
                                               "Quitter Velmóra|terminate:|q|run",
                                               "Notifications : connexion nécessaire||",
                                               // Login start has already shown its real state.
                                               "Démarrage automatique : activé|toggleLoginStart||run",
                                               "Tester la notification Velmóra|testNativeNotice||run",
                                               "Arrêter Velmóra et les notifications|stopNativeService||run",
                                           }));
    EXPECT_TRUE(r.item("toggleLoginStart").checked);
    // The edit items have no handler: the platform sends them to the web view.
    EXPECT_EQ(r.menu().submenus[1]->title, "Édition");
    EXPECT_EQ(rows(*r.menu().submenus[1]), (Calls{"Annuler|undo:|z", "Couper|cut:|x", "Copier|copy:|c",
                                                  "Coller|paste:|v", "Tout sélectionner|selectAll:|a"}));
    EXPECT_EQ(r.menu().submenus[2]->title, "Navigation");
    EXPECT_EQ(rows(*r.menu().submenus[2]), (Calls{"Changer d’espace|changeSpace||run", "Actualiser|reload|r|run",
                                                  "Ouvrir dans le navigateur|safari||run"}));
}

TEST(Menus, CommandsReachTheirTargets) {
    Rig r;
    r.console(std::nullopt);
    r.fake.log.clear();
    r.menu().choose("checkForUpdates:");
    r.menu().choose("orderFrontStandardAboutPanel:");
    r.menu().choose("safari");  // no page yet: the sign-in page
    r.web().showPage("https://salon.example/admin?x=1");
    r.menu().choose("safari");
    r.menu().choose("reload");
    r.fake.defaults.values["velmoraInstanceHost"] = std::string("salon.example");
    r.menu().choose("changeSpace");
    r.menu().choose("terminate:");  // an ordinary quit: back to the background, the service lives on
    EXPECT_EQ(r.fake.log.calls, (Calls{
                                    "updater.checkForUpdates",
                                    "panels.showAboutPanel",
                                    "workspace.openUrl(https://velmora.fr/connexion.html)",
                                    "workspace.openUrl(https://salon.example/admin?x=1)",
                                    "web.reload",
                                    "web.load(https://velmora.fr/connexion.html)",
                                    "application.terminate",
                                    "window.orderOut",
                                    "application.setActivationPolicy(accessory)",
                                    "timers.scheduleOneShot(60)",
                                }));
    EXPECT_FALSE(r.fake.application.terminated);
    // The poll, the installed-build watch, and the wait before the rest.
    EXPECT_EQ(r.fake.timers.withInterval(60.0).size() + r.fake.timers.withInterval(2.0).size(), 3u);
    // The remembered console is kept: a restart without signing in opens it again.
    EXPECT_EQ(r.fake.defaults.string("velmoraInstanceHost"), "salon.example");
}

TEST(Menus, TheAboutPanelShowsTheVersionAndTheBuildNumber) {
    const struct {
        const char* behaviour;
        std::map<std::string, std::string> info;
        const char* version;
    } cases[] = {
        {"both", {{"CFBundleShortVersionString", "1.4.2"}, {"CFBundleVersion", "41"}}, "Version 1.4.2 (41)"},
        {"no build number", {{"CFBundleShortVersionString", "1.4.2"}}, "Version 1.4.2"},
        {"no version", {{"CFBundleVersion", "41"}}, "Version 41"},
        {"the same number twice", {{"CFBundleShortVersionString", "41"}, {"CFBundleVersion", "41"}}, "Version 41"},
        {"neither", {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Rig r;
        r.fake.bundle.info = c.info;
        r.launch();
        r.menu().choose("orderFrontStandardAboutPanel:");
        ASSERT_TRUE(r.fake.panels.about);
        EXPECT_EQ(r.fake.panels.about->applicationName, "Velmóra");
        EXPECT_EQ(r.fake.panels.about->version, c.version);
        EXPECT_EQ(r.fake.panels.about->comments,
                  "La console d’administration de votre espace, avec ses notifications.");
    }
}

// The desktop object as the bundle gives it, frozen and in the main frame only, and the size
// bounds as the engine applies them, are tested end to end (tests/e2e/test_bridge.py).
TEST(WebView, GetsTheBridgeHandlersAndAnEscapedDesktopObject) {
    Rig r;
    r.fake.bundle.info = {{"CFBundleShortVersionString", "1.0 \"beta\"</script>"}};
    r.launch();
    const auto& configuration = r.web().configuration;
    // Print requests may carry a PDF document of 64 MiB as Base64; nothing else needs more than 1 MiB.
    const std::size_t mebibyte = 1 << 20, print = 89'478'488 + mebibyte;
    EXPECT_EQ(configuration.messageHandlers,
              (std::vector<platform::PageMessageHandler>{{"velmoraInstance", mebibyte},
                                                         {"velmoraPrint", print},
                                                         {"velmoraUpdate", mebibyte},
                                                         {"velmoraMailRead", mebibyte},
                                                         {"velmoraNoticeRead", mebibyte}}));
    ASSERT_EQ(configuration.userScripts.size(), 2u);
    EXPECT_EQ(configuration.userScripts[0].source,
              R"(Object.defineProperty(window,'velmoraDesktop',{value:Object.freeze({"build":"","version":)"
              R"("1.0 \"beta\"</script>"})});)");
    // The about item carries the short version as it is.
    EXPECT_EQ(r.menu().submenus[0]->items[0]->command.title, "À propos de Velmóra — version 1.0 \"beta\"</script>");
}

// Each gate once: a quit with a reason (the end of the session, a shutdown, SIGTERM) is tested
// end to end (tests/e2e/test_background.py).
TEST(Background, TerminationEndsTheProcessOnlyThroughAnOpenGate) {
    const auto handOverToNewerBuild = [](Rig& r) {
        r.installInfo(infoPlist("42"));
        r.fake.files.executables.insert(kHelper);
        r.fake.timers.advance(4.0);
        ASSERT_EQ(r.fake.processes.launched.size(), 1u);
    };
    const struct {
        const char* behaviour;
        std::function<void(Rig&)> open;
        int terminateAsks;  // how often opening asked the application to terminate
        TerminateReply reply;
    } cases[] = {
        {"no gate: the request becomes a return to the background", [](Rig&) {}, 0, TerminateReply::Cancel},
        {"a script's quit opens no gate", [](Rig& r) { r.controller->handleQuitEvent(false); }, 1,
         TerminateReply::Cancel},
        {"the stop command opens the stop gate", [](Rig& r) { r.menu().choose("stopNativeService"); }, 1,
         TerminateReply::Now},
        {"a relaunch into a newer build opens the restart gate", handOverToNewerBuild, 1, TerminateReply::Now},
        {"the updater installing opens the update gate",
         [](Rig& r) { r.fake.updaters.delegate->updaterWillInstallUpdate(); }, 0, TerminateReply::Now},
        {"an installation given up closes the update gate again",
         [](Rig& r) {
             r.fake.updaters.delegate->updaterWillInstallUpdate();
             r.fake.updaters.delegate->updaterDidAbortInstall();
         },
         0, TerminateReply::Cancel},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Rig r;
        r.launch();
        r.fake.log.clear();
        c.open(r);
        EXPECT_EQ(r.fake.log.count("application.terminate"), c.terminateAsks);
        r.window().visible = true;
        r.fake.application.policy = ActivationPolicy::Regular;
        // Asked twice: once open, a gate stays open.
        for (int round = 0; round < 2; ++round) {
            r.fake.log.clear();
            EXPECT_EQ(r.controller->applicationShouldTerminate(), c.reply);
            const bool hides = c.reply == TerminateReply::Cancel;
            EXPECT_EQ(r.fake.log.calls, (hides ? Calls{"window.orderOut", "application.setActivationPolicy(accessory)",
                                                       "timers.scheduleOneShot(60)"}
                                               : Calls{}));
            EXPECT_EQ(r.window().visible, !hides);
        }
    }
}

// A minute after the window went (or at a login launch, which never shows it), the window and the
// view give back what drawing needs; a window back before then costs nothing, and one back
// after wakes the view. Only the rest's own calls are compared.
TEST(Background, RestsAMinuteAfterTheWindowWentAndWakesWhenItComesBack) {
    const auto restCalls = [](const Calls& calls) {
        Calls rest;
        for (const auto& call : calls)
            if (call == "window.releaseDrawingResources" || call.starts_with("web.setResting")) rest.push_back(call);
        return rest;
    };
    const Calls rests{"window.releaseDrawingResources", "web.setResting(true)"};
    const struct {
        const char* behaviour;
        std::vector<std::string> arguments;
        std::function<void(Rig&)> hide;
    } ways[] = {
        {"an ordinary quit", {kProgram}, [](Rig& r) { r.controller->applicationShouldTerminate(); }},
        {"closing the window",
         {kProgram},
         [](Rig& r) {
             r.window().visible = false;
             r.controller->applicationShouldTerminateAfterLastWindowClosed();
         }},
        {"a login launch", {kProgram, "--background"}, [](Rig&) {}},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.behaviour);
        Rig r;
        r.launch(way.arguments);
        way.hide(r);
        r.fake.log.clear();
        r.fake.timers.advance(59.0);
        EXPECT_EQ(restCalls(r.fake.log.calls), Calls{});
        r.fake.timers.advance(1.0);
        EXPECT_EQ(restCalls(r.fake.log.calls), rests);

        r.fake.log.clear();
        r.controller->showNativeWindow();
        EXPECT_EQ(restCalls(r.fake.log.calls), Calls{"web.setResting(false)"});

        // Hidden and back within the minute: no rest, and none later.
        r.controller->applicationShouldTerminate();
        r.fake.timers.advance(30.0);
        r.controller->showNativeWindow();
        r.fake.log.clear();
        r.fake.timers.advance(120.0);
        EXPECT_EQ(restCalls(r.fake.log.calls), Calls{});
    }
}

TEST(Background, StopCommandEndsThePollAndLeavesTheRestToTheEndOfTheProcess) {
    Rig r;
    r.launch();
    r.show("velmora-notification-test-1");
    const auto noticeTimer = r.fake.timers.withInterval(60.0).at(0);
    const auto watchTimer = r.fake.timers.withInterval(2.0).at(0);
    r.fake.log.clear();
    r.menu().choose("stopNativeService");
    EXPECT_TRUE(r.fake.application.terminated);
    EXPECT_FALSE(noticeTimer->isValid());
    EXPECT_TRUE(watchTimer->isValid());
    EXPECT_EQ(r.fake.notifications.shown.size(), 1u);
    EXPECT_EQ(r.fake.loginItems.agent.status, platform::LoginServiceStatus::Enabled);
    EXPECT_EQ(r.fake.log.calls, Calls{"application.terminate"});
}

}  // namespace
}  // namespace velmora::testing
