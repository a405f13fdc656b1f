// Login start through the login-start agent, and the watch for a newer installed build.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using platform::LoginServiceStatus;
constexpr auto kEnabled = LoginServiceStatus::Enabled, kApproval = LoginServiceStatus::RequiresApproval,
               kNotRegistered = LoginServiceStatus::NotRegistered, kNotFound = LoginServiceStatus::NotFound,
               kProgramGone = LoginServiceStatus::StartsMissingProgram;

constexpr const char* kEnabledTitle = "Démarrage automatique : activé";
constexpr const char* kApprovalTitle = "Démarrage automatique : autoriser dans Réglages";
constexpr const char* kOffTitle = "Activer le démarrage automatique";

// The calls that change a registration, open the settings or write a key, in order and
// shortened: "unregister app", "register", "migrated", "configured", "settings".
std::string registrationCalls(const fakes::CallLog& log) {
    std::string kept;
    for (const auto& call : log.calls) {
        const std::string shortened = call == "mainApp.unregister"                             ? "unregister app"
                                      : call == "agent.register"                               ? "register"
                                      : call == "agent.unregister"                             ? "unregister"
                                      : call == "defaults.set(velmoraBackgroundAgentMigrated)" ? "migrated"
                                      : call == "defaults.set(velmoraLoginStartConfigured)"    ? "configured"
                                      : call == "loginItems.openSystemSettings"                ? "settings"
                                                                                               : "";
        if (!shortened.empty()) kept += (kept.empty() ? "" : ", ") + shortened;
    }
    return kept;
}

// The item shows the agent's state; it is checked exactly when login start is on.
void expectLoginItem(Rig& r, const char* title) {
    EXPECT_EQ(r.item("toggleLoginStart").title(), title);
    EXPECT_EQ(r.item("toggleLoginStart").checked, std::string_view(title) == kEnabledTitle);
}

// A fresh install, an older login item of the application replaced, an earlier choice kept and
// the entry of a deleted copy taken over are tested end to end (tests/e2e/test_background.py).
TEST(LoginStart, EachLaunchConfiguresLoginStartAccordingToWhatWasThere) {
    const std::string marks = "migrated, configured", replaced = "unregister app, register, " + marks;
    const struct {
        const char* behaviour;
        LoginServiceStatus mainApp, agent;
        const char* failing;  // the service whose change fails: "app", "agent" or none
        LoginServiceStatus afterRegister;
        bool migrated, configured;
        std::string calls;
        const char* title;
    } cases[] = {
        {"fresh install, approval needed", kNotRegistered, kNotRegistered, nullptr, kApproval, false, false,
         "register, " + marks, kApprovalTitle},
        {"app login item awaiting approval", kApproval, kNotRegistered, nullptr, kEnabled, false, false, replaced,
         kEnabledTitle},
        {"app login item, configured before", kEnabled, kNotRegistered, nullptr, kEnabled, false, true, replaced,
         kEnabledTitle},
        {"app login item not removed", kEnabled, kNotRegistered, "app", kEnabled, false, false, "unregister app",
         kOffTitle},
        {"agent not registered", kNotRegistered, kNotRegistered, "agent", kEnabled, false, false, "register",
         kOffTitle},
        {"app removed, agent not registered", kEnabled, kNotRegistered, "agent", kEnabled, false, false,
         "unregister app, register", kOffTitle},
        // The user's earlier choice is kept.
        {"configured before, app not found", kNotFound, kNotRegistered, nullptr, kEnabled, false, true, marks,
         kOffTitle},
        {"already migrated: only the item is refreshed", kEnabled, kNotRegistered, nullptr, kEnabled, true, false, "",
         kOffTitle},
        {"migrated, the agent enabled", kNotRegistered, kEnabled, nullptr, kEnabled, true, true, "", kEnabledTitle},
        {"migrated, the agent awaiting approval", kNotRegistered, kApproval, nullptr, kEnabled, true, true, "",
         kApprovalTitle},
        {"migrated, no agent in the bundle", kNotRegistered, kNotFound, nullptr, kEnabled, true, true, "", kOffTitle},
        // An entry left by a copy that moved or was deleted starts nothing; every launch takes it over.
        {"migrated, the entry's program gone, not registered", kNotRegistered, kProgramGone, "agent", kEnabled, true,
         true, "register", kOffTitle},
        {"configured before, the entry's program gone", kNotRegistered, kProgramGone, nullptr, kEnabled, false, true,
         "register, " + marks, kEnabledTitle},
        {"fresh install, the entry's program gone: registered once", kNotRegistered, kProgramGone, nullptr, kEnabled,
         false, false, "register, " + marks, kEnabledTitle},
        {"fresh install, the entry's program gone: tried once", kNotRegistered, kProgramGone, "agent", kEnabled, false,
         false, "register", kOffTitle},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Rig r;
        auto& items = r.fake.loginItems;
        items.mainApp.status = c.mainApp;
        items.agent.status = c.agent;
        const std::string_view failing = c.failing ? c.failing : "";
        if (failing == "app") items.mainApp.unregisterError = "Accès refusé";
        if (failing == "agent") items.agent.registerError = "Accès refusé";
        items.agent.statusAfterRegister = c.afterRegister;
        if (c.migrated) r.fake.defaults.values["velmoraBackgroundAgentMigrated"] = true;
        if (c.configured) r.fake.defaults.values["velmoraLoginStartConfigured"] = true;
        r.launch();
        EXPECT_EQ(registrationCalls(r.fake.log), c.calls);
        EXPECT_EQ(r.fake.systemLog.lines,
                  c.failing ? Calls{"Velmóra: démarrage automatique indisponible: Accès refusé"} : Calls{});
        // Both keys are written together, and only as true; after a failure neither is.
        const bool marked = c.calls.ends_with(marks);
        EXPECT_EQ(r.fake.defaults.boolean("velmoraBackgroundAgentMigrated"), marked || c.migrated);
        EXPECT_EQ(r.fake.defaults.boolean("velmoraLoginStartConfigured"), marked || c.configured);
        expectLoginItem(r, c.title);
    }
}

// Switching off and on again is tested end to end (tests/e2e/test_background.py).
TEST(LoginStart, ToggleActsOnTheAgentAccordingToItsStatus) {
    const struct {
        const char* behaviour;
        LoginServiceStatus status;
        bool fails;
        LoginServiceStatus afterRegister;
        const char* calls;
        const char* title;
    } cases[] = {
        {"awaiting approval opens the settings", kApproval, false, kEnabled, "settings", kApprovalTitle},
        {"switched on, approval needed", kNotRegistered, false, kApproval, "register, configured", kApprovalTitle},
        {"not found is tried as a registration", kNotFound, false, kEnabled, "register, configured", kEnabledTitle},
        {"an entry whose program is gone is switched on", kProgramGone, false, kEnabled, "register, configured",
         kEnabledTitle},
        {"failed registration", kNotRegistered, true, kEnabled, "register", kOffTitle},
        {"failed registration of a missing agent", kNotFound, true, kEnabled, "register", kOffTitle},
        {"failed unregistration stays enabled", kEnabled, true, kEnabled, "unregister", kEnabledTitle},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Rig r;
        r.fake.defaults.values["velmoraBackgroundAgentMigrated"] = true;  // the launch registers nothing
        r.launch();
        auto& agent = r.fake.loginItems.agent;
        agent.status = c.status;
        if (c.fails) agent.registerError = agent.unregisterError = "Accès refusé";
        agent.statusAfterRegister = c.afterRegister;
        r.fake.log.clear();
        r.menu().choose("toggleLoginStart");
        EXPECT_EQ(registrationCalls(r.fake.log), c.calls);
        EXPECT_TRUE(r.fake.systemLog.lines.empty());
        ASSERT_EQ(r.fake.panels.alerts.size(), c.fails ? 1u : 0u);
        if (c.fails) {
            // The user gets guidance rather than the system's own error text.
            EXPECT_TRUE(r.fake.log.has("panels.runModalAlert(Démarrage automatique indisponible)"));
            const auto& alert = r.fake.panels.alerts.front();
            EXPECT_EQ(alert.informativeText,
                      "Activez Velmóra dans les applications au démarrage des paramètres de votre session.");
            EXPECT_TRUE(alert.buttons.empty());
            EXPECT_FALSE(alert.textField);
        }
        expectLoginItem(r, c.title);
    }
}

TEST(LoginStart, ItemShowsTheAgentStatus) {
    const struct {
        LoginServiceStatus status;
        const char* title;
    } cases[] = {{kEnabled, kEnabledTitle},
                 {kApproval, kApprovalTitle},
                 {kNotRegistered, kOffTitle},
                 {kNotFound, kOffTitle},
                 {kProgramGone, kOffTitle}};
    Rig r;
    r.fake.defaults.values["velmoraBackgroundAgentMigrated"] = true;
    r.launch();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        // Start from the opposite presentation, so that a step left out shows.
        r.item("toggleLoginStart").setTitle("ancien titre");
        r.item("toggleLoginStart").checked = std::string_view(c.title) != kEnabledTitle;
        r.fake.loginItems.agent.status = c.status;
        r.controller->updateLoginStatus();
        expectLoginItem(r, c.title);
    }
}

// What one tick finds: the bytes of Contents/Info.plist (nullopt: the file cannot be read) and
// whether a dialog of ours is open on the window.
struct Tick {
    std::optional<std::string> info;
    bool sheet = false;
};

Tick build(const std::string& number) { return {infoPlist(number)}; }
Tick underDialog(const std::string& number) { return {infoPlist(number), true}; }
const Tick kUnreadable{std::nullopt};
const Tick kNotAPropertyList{"PK\x03\x04 partially copied archive"};
const Tick kNoBuildNumber{plist("<key>CFBundleIdentifier</key><string>fr.velmora.universal</string>")};
const Tick kBuildNumberNotText{plist("<key>CFBundleVersion</key><integer>42</integer>")};

struct WatchRig : Rig {
    explicit WatchRig(const std::string& runningBuild, const std::vector<std::string>& arguments = {kProgram}) {
        fake.bundle.info["CFBundleVersion"] = runningBuild;
        fake.files.executables.insert(kHelper);
        launch(arguments);
    }
    // Puts `state` in place and lets the watch timer fire once.
    void tick(const Tick& state) {
        installInfo(state.info);
        window().sheet = state.sheet;
        fake.timers.advance(2.0);
    }
    // Runs the ticks and returns the number (from 1) of the tick at which the helper was
    // started, 0 when it never was.
    int handoverTick(const std::vector<Tick>& ticks) {
        int handedOverAt = 0;
        for (size_t i = 0; i < ticks.size(); ++i) {
            tick(ticks[i]);
            if (handedOverAt == 0 && !fake.processes.launched.empty()) handedOverAt = static_cast<int>(i) + 1;
        }
        EXPECT_LE(fake.processes.launched.size(), 1u) << "the helper is started once";
        return handedOverAt;
    }
};

TEST(BuildWatch, HandsOverOnlyAfterTheSameNewerBuildAtTwoConsecutiveTicks) {
    const struct {
        const char* behaviour;
        const char* running;
        std::vector<Tick> ticks;
        int handoverTick;  // counted from 1; 0 for never
    } cases[] = {
        {"41 then 42 installed hands over at the second tick", "41", {build("42"), build("42")}, 2},
        {"10 follows 9 by number, not by text", "9", {build("10"), build("10")}, 2},
        {"a build seen once does nothing yet", "41", {build("42")}, 0},
        {"the same build never hands over", "41", {build("41"), build("41"), build("41")}, 0},
        {"unreadable in between", "41", {build("42"), kUnreadable, build("42"), build("42")}, 4},
        {"older in between", "41", {build("42"), build("41"), build("42"), build("42")}, 4},
        {"a different newer build", "41", {build("42"), build("43"), build("43")}, 3},
        {"no property list", "41", {build("42"), kNotAPropertyList, build("42"), build("42")}, 4},
        {"no build number", "41", {build("42"), kNoBuildNumber, build("42"), build("42")}, 4},
        {"a build number that is no text", "41", {build("42"), kBuildNumberNotText, build("42"), build("42")}, 4},
        {"an open dialog skips ticks", "41", {build("42"), underDialog("42"), underDialog("42"), build("42")}, 4},
        {"a dialog over an unreadable file", "41", {build("42"), {std::nullopt, true}, build("42")}, 3},
        {"a dialog that stays open", "41", {underDialog("42"), underDialog("42"), underDialog("42")}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        WatchRig r(c.running);
        EXPECT_EQ(r.handoverTick(c.ticks), c.handoverTick);
    }
}

// The relaunch itself, from a shown and from a hidden window, is tested end to end
// (tests/e2e/test_updates.py).
TEST(BuildWatch, HandOverStartsTheHelperWithPidAndBundlePathOnce) {
    WatchRig r("41");
    r.fake.processes.pid = 31337;
    r.tick(build("42"));
    r.tick(build("42"));
    EXPECT_EQ(r.fake.processes.launched, (std::vector<Calls>{{kHelper, "31337", "/opt/velmora/Velmora.app"}}));
    EXPECT_TRUE(r.fake.application.terminated);
    // After the hand-over the watch does nothing more.
    for (int i = 0; i < 3; ++i) r.tick(build("43"));
    EXPECT_EQ(r.fake.processes.launched.size(), 1u);
}

// Without the helper nothing happens and nothing is logged; a helper that fails to start is
// logged at every tick. Either way the observation is kept, and the next tick that can hands over.
TEST(BuildWatch, AHelperMissingOrFailingToStartIsTriedAgainAtEveryTick) {
    const std::string failed = "Velmóra: automatic relaunch unavailable: Permission non accordée";
    for (const bool missing : {true, false}) {
        SCOPED_TRACE(missing ? "missing" : "failing to start");
        WatchRig r("41");
        if (missing) r.fake.files.executables.clear();
        if (!missing) r.fake.processes.launchError = "Permission non accordée";
        // An even number of ticks, so that dropping the observation at every other one would show.
        for (int i = 0; i < 4; ++i) r.tick(build("42"));
        EXPECT_TRUE(r.fake.processes.launched.empty());
        EXPECT_FALSE(r.fake.application.terminated);
        EXPECT_EQ(r.fake.systemLog.lines, (missing ? Calls{} : Calls{failed, failed, failed}));
        r.fake.files.executables.insert(kHelper);
        r.fake.processes.launchError.reset();
        r.tick(build("42"));
        EXPECT_EQ(r.fake.processes.launched.size(), 1u);
        EXPECT_TRUE(r.fake.application.terminated);
    }
}

// The watch stops while the updater installs, so that it never races the updater with a second
// relaunch; an installation given up leaves the old build running, and the watch resumes.
TEST(BuildWatch, TheUpdaterStopsTheWatchUntilItGivesAnInstallationUp) {
    for (const auto announce : {&platform::UpdaterDelegate::updaterWillInstallUpdate,
                                &platform::UpdaterDelegate::updaterWillRelaunchApplication}) {
        WatchRig r("41");
        const auto watchTimer = r.fake.timers.withInterval(2.0).at(0);
        r.tick(build("42"));
        (r.fake.updaters.delegate->*announce)();
        EXPECT_FALSE(watchTimer->isValid());
        for (int i = 0; i < 4; ++i) r.tick(build("42"));
        EXPECT_TRUE(r.fake.processes.launched.empty());

        r.fake.updaters.delegate->updaterDidAbortInstall();
        // The observation made before the installation does not count: two fresh ticks.
        r.tick(build("42"));
        EXPECT_TRUE(r.fake.processes.launched.empty());
        r.tick(build("42"));
        EXPECT_EQ(r.fake.processes.launched.size(), 1u);
    }
}

}  // namespace
}  // namespace velmora::testing
