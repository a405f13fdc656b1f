#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using platform::LoginServiceStatus;
using Calls = std::vector<std::string>;

constexpr const char* kMigrated = "velmoraBackgroundAgentMigrated";
constexpr const char* kConfigured = "velmoraLoginStartConfigured";
constexpr const char* kAgentRequest = "loginItems.agentService(fr.velmora.universal.background.plist)";
constexpr const char* kLogLine = "Velmóra: démarrage automatique indisponible: ";

constexpr const char* kEnabledTitle = "Démarrage automatique : activé";
constexpr const char* kApprovalTitle = "Démarrage automatique : autoriser dans Réglages";
constexpr const char* kOffTitle = "Activer le démarrage automatique";

// The calls that change a registration, open the settings or write a key, in order.
Calls registrationCallsIn(const fakes::CallLog& log) {
    Calls kept;
    for (const auto& call : log.calls)
        if (call.starts_with("agent.") || call.starts_with("mainApp.") || call.starts_with("defaults.set(") ||
            call == "loginItems.openSystemSettings")
            kept.push_back(call);
    return kept;
}

// The Boolean stored under `name`, nullopt when nothing was ever stored there.
std::optional<bool> storedFlag(const fakes::FakeUserDefaults& defaults, const std::string& name) {
    const auto it = defaults.values.find(name);
    if (it == defaults.values.end()) return std::nullopt;
    return std::get<bool>(it->second);
}

// A controller on fakes of its own, so that every row of a table starts from a clean machine.
struct Machine {
    void launch() {
        controller =
            std::make_unique<Velmora>(fake.platform, BuildConstants{kPublicHost}, std::vector<std::string>{"Velmora"});
        fake.application.setDelegate(controller.get());
        controller->applicationWillFinishLaunching();
        controller->applicationDidFinishLaunching();
    }
    fakes::FakeMenuItem& loginItem() { return *fake.application.mainMenu->findAction("toggleLoginStart"); }
    std::optional<bool> key(const std::string& name) const { return storedFlag(fake.defaults, name); }

    fakes::FakePlatform fake;
    std::unique_ptr<Velmora> controller;
};

class LoginStartTest : public ControllerTest {
protected:
    Calls registrationCalls() const { return registrationCallsIn(fake.log); }
    std::optional<bool> key(const std::string& name) const { return storedFlag(fake.defaults, name); }
    fakes::FakeMenuItem& loginItem() { return item("toggleLoginStart"); }
};

// The machine before the launch, and what the launch leaves; a row names only what differs
// from a fresh installation whose agent registers fine.
struct MigrationCase {
    const char* behaviour;
    LoginServiceStatus mainAppStatus = LoginServiceStatus::NotRegistered;
    std::optional<std::string> mainAppUnregisterError = {};
    std::optional<std::string> agentRegisterError = {};
    LoginServiceStatus agentStatusAfterRegister = LoginServiceStatus::Enabled;
    bool migrated = false;
    bool configured = false;
    Calls calls = {};
    std::vector<std::string> log = {};
    std::optional<bool> migratedAfter = std::nullopt;
    std::optional<bool> configuredAfter = std::nullopt;
    const char* title = kOffTitle;
    bool checked = false;
};

TEST_F(LoginStartTest, LaunchConfiguresLoginStartOnceAccordingToWhatWasThere) {
    const Calls marks = {"defaults.set(velmoraBackgroundAgentMigrated)", "defaults.set(velmoraLoginStartConfigured)"};
    const Calls registersAndMarks = {"agent.register", marks[0], marks[1]};
    const Calls replacesTheAppAndMarks = {"mainApp.unregister", "agent.register", marks[0], marks[1]};
    const std::string unwritable = "Dossier non inscriptible";
    const MigrationCase cases[] = {
        {.behaviour = "fresh install registers the agent and sets both keys",
         .calls = registersAndMarks,
         .migratedAfter = true,
         .configuredAfter = true,
         .title = kEnabledTitle,
         .checked = true},
        {.behaviour = "fresh install whose agent awaits approval still counts as configured",
         .agentStatusAfterRegister = LoginServiceStatus::RequiresApproval,
         .calls = registersAndMarks,
         .migratedAfter = true,
         .configuredAfter = true,
         .title = kApprovalTitle},
        {.behaviour = "enabled app login item is replaced by the agent",
         .mainAppStatus = LoginServiceStatus::Enabled,
         .calls = replacesTheAppAndMarks,
         .migratedAfter = true,
         .configuredAfter = true,
         .title = kEnabledTitle,
         .checked = true},
        {.behaviour = "app login item awaiting approval is replaced by the agent",
         .mainAppStatus = LoginServiceStatus::RequiresApproval,
         .calls = replacesTheAppAndMarks,
         .migratedAfter = true,
         .configuredAfter = true,
         .title = kEnabledTitle,
         .checked = true},
        {.behaviour = "app login item is replaced even when login start was configured",
         .mainAppStatus = LoginServiceStatus::Enabled,
         .configured = true,
         .calls = replacesTheAppAndMarks,
         .migratedAfter = true,
         .configuredAfter = true,
         .title = kEnabledTitle,
         .checked = true},
        {.behaviour = "failed removal of the app login item is logged, registers nothing, writes no key",
         .mainAppStatus = LoginServiceStatus::Enabled,
         .mainAppUnregisterError = "Accès refusé",
         .calls = {"mainApp.unregister"},
         .log = {std::string(kLogLine) + "Accès refusé"}},
        {.behaviour = "failed agent registration on a fresh install is logged and writes no key",
         .agentRegisterError = unwritable,
         .calls = {"agent.register"},
         .log = {kLogLine + unwritable}},
        {.behaviour = "app login item removed but agent registration failing writes no key",
         .mainAppStatus = LoginServiceStatus::Enabled,
         .agentRegisterError = unwritable,
         .calls = {"mainApp.unregister", "agent.register"},
         .log = {kLogLine + unwritable}},
        {.behaviour = "configured before and app not a login item: no registration changes, both keys end true",
         .configured = true,
         .calls = marks,
         .migratedAfter = true,
         .configuredAfter = true},
        {.behaviour = "configured before and app login item not found: no registration changes",
         .mainAppStatus = LoginServiceStatus::NotFound,
         .configured = true,
         .calls = marks,
         .migratedAfter = true,
         .configuredAfter = true},
        {.behaviour = "already migrated: only the item is refreshed, even with the app still a login item",
         .mainAppStatus = LoginServiceStatus::Enabled,
         .migrated = true,
         .migratedAfter = true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Machine run;
        run.fake.loginItems.mainApp.status = c.mainAppStatus;
        run.fake.loginItems.mainApp.unregisterError = c.mainAppUnregisterError;
        run.fake.loginItems.agent.registerError = c.agentRegisterError;
        run.fake.loginItems.agent.statusAfterRegister = c.agentStatusAfterRegister;
        if (c.migrated) run.fake.defaults.values[kMigrated] = true;
        if (c.configured) run.fake.defaults.values[kConfigured] = true;

        run.launch();

        EXPECT_EQ(registrationCallsIn(run.fake.log), c.calls);
        EXPECT_EQ(run.fake.systemLog.lines, c.log);
        EXPECT_EQ(run.key(kMigrated), c.migratedAfter);
        EXPECT_EQ(run.key(kConfigured), c.configuredAfter);
        EXPECT_EQ(run.loginItem().title(), c.title);
        EXPECT_EQ(run.loginItem().checked, c.checked);
    }
}

TEST_F(LoginStartTest, ConfigurationRunsRightAfterTheLoginItemIsAddedAndBeforeTheLaterItems) {
    launch();
    const auto& calls = fake.log.calls;
    const auto loginItemAdded = std::ranges::find(calls, "menu.addItem(Démarrage automatique…)");
    const auto firstAgentRequest = std::ranges::find(calls, kAgentRequest);
    const auto testItemAdded = std::ranges::find(calls, "menu.addItem(Tester la notification Velmóra)");
    ASSERT_NE(loginItemAdded, calls.end());
    ASSERT_NE(firstAgentRequest, calls.end());
    ASSERT_NE(testItemAdded, calls.end());
    EXPECT_LT(loginItemAdded, firstAgentRequest);
    EXPECT_LT(firstAgentRequest, testItemAdded);
    // Every step of the configuration, the refresh of the item included, is done by then.
    EXPECT_EQ(std::count(testItemAdded, calls.end(), std::string(kAgentRequest)), 0);
    EXPECT_EQ(std::count(testItemAdded, calls.end(), std::string("agent.register")), 0);
}

TEST_F(LoginStartTest, FailedMigrationIsTriedAgainAtTheNextLaunch) {
    fake.loginItems.mainApp.status = LoginServiceStatus::Enabled;
    fake.loginItems.mainApp.unregisterError = "Accès refusé";
    launch();
    ASSERT_FALSE(key(kMigrated));

    controller.reset();
    fake.log.clear();
    fake.loginItems.mainApp.unregisterError.reset();
    launch();
    EXPECT_EQ(registrationCalls(),
              (Calls{"mainApp.unregister", "agent.register", "defaults.set(velmoraBackgroundAgentMigrated)",
                     "defaults.set(velmoraLoginStartConfigured)"}));
    EXPECT_EQ(loginItem().title(), kEnabledTitle);
}

TEST_F(LoginStartTest, AppRemovedButAgentFailedRetriesOnlyTheAgentAtTheNextLaunch) {
    fake.loginItems.mainApp.status = LoginServiceStatus::Enabled;
    fake.loginItems.agent.registerError = "Dossier non inscriptible";
    launch();
    ASSERT_EQ(fake.loginItems.mainApp.status, LoginServiceStatus::NotRegistered);

    controller.reset();
    fake.log.clear();
    fake.loginItems.agent.registerError.reset();
    launch();
    EXPECT_EQ(registrationCalls(), (Calls{"agent.register", "defaults.set(velmoraBackgroundAgentMigrated)",
                                          "defaults.set(velmoraLoginStartConfigured)"}));
}

TEST_F(LoginStartTest, SwitchedOffByTheUserStaysOffAtLaterLaunches) {
    launch();
    ASSERT_EQ(fake.loginItems.agent.status, LoginServiceStatus::Enabled);
    menu().choose("toggleLoginStart");
    ASSERT_EQ(fake.loginItems.agent.status, LoginServiceStatus::NotRegistered);
    EXPECT_EQ(loginItem().title(), kOffTitle);

    controller.reset();
    fake.log.clear();
    launch();
    EXPECT_EQ(registrationCalls(), Calls{});
    EXPECT_EQ(loginItem().title(), kOffTitle);
    EXPECT_FALSE(loginItem().checked);
}

// The agent before the user chooses the item, and what the choice leaves.
struct ToggleCase {
    const char* behaviour;
    LoginServiceStatus status;
    std::optional<std::string> registerError = {};
    std::optional<std::string> unregisterError = {};
    LoginServiceStatus statusAfterRegister = LoginServiceStatus::Enabled;
    Calls calls = {};
    bool alert = false;
    std::optional<bool> configuredAfter = std::nullopt;
    const char* title = kOffTitle;
    bool checked = false;
};

TEST_F(LoginStartTest, ToggleActsOnTheAgentAccordingToItsStatus) {
    const std::string configuredMark = "defaults.set(velmoraLoginStartConfigured)";
    const ToggleCase cases[] = {
        {.behaviour = "awaiting approval opens the settings and changes nothing",
         .status = LoginServiceStatus::RequiresApproval,
         .calls = {"loginItems.openSystemSettings"},
         .title = kApprovalTitle},
        {.behaviour = "enabled is switched off",
         .status = LoginServiceStatus::Enabled,
         .calls = {"agent.unregister", configuredMark},
         .configuredAfter = true},
        {.behaviour = "not registered is switched on",
         .status = LoginServiceStatus::NotRegistered,
         .calls = {"agent.register", configuredMark},
         .configuredAfter = true,
         .title = kEnabledTitle,
         .checked = true},
        {.behaviour = "switched on but awaiting approval shows where to approve",
         .status = LoginServiceStatus::NotRegistered,
         .statusAfterRegister = LoginServiceStatus::RequiresApproval,
         .calls = {"agent.register", configuredMark},
         .configuredAfter = true,
         .title = kApprovalTitle},
        {.behaviour = "not found is tried as a registration",
         .status = LoginServiceStatus::NotFound,
         .calls = {"agent.register", configuredMark},
         .configuredAfter = true,
         .title = kEnabledTitle,
         .checked = true},
        {.behaviour = "failed registration shows the alert and writes no key",
         .status = LoginServiceStatus::NotRegistered,
         .registerError = "Dossier non inscriptible",
         .calls = {"agent.register"},
         .alert = true},
        {.behaviour = "failed registration of a missing agent shows the alert",
         .status = LoginServiceStatus::NotFound,
         .registerError = "Liste de propriétés absente",
         .calls = {"agent.register"},
         .alert = true},
        {.behaviour = "failed unregistration shows the alert and stays enabled",
         .status = LoginServiceStatus::Enabled,
         .unregisterError = "Accès refusé",
         .calls = {"agent.unregister"},
         .alert = true,
         .title = kEnabledTitle,
         .checked = true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Machine run;
        // Already migrated: the launch itself registers nothing.
        run.fake.defaults.values[kMigrated] = true;
        run.launch();
        run.fake.loginItems.agent.status = c.status;
        run.fake.loginItems.agent.registerError = c.registerError;
        run.fake.loginItems.agent.unregisterError = c.unregisterError;
        run.fake.loginItems.agent.statusAfterRegister = c.statusAfterRegister;
        run.fake.log.clear();

        run.fake.application.mainMenu->choose("toggleLoginStart");

        EXPECT_EQ(registrationCallsIn(run.fake.log), c.calls);
        EXPECT_TRUE(run.fake.systemLog.lines.empty());
        ASSERT_EQ(run.fake.panels.modalAlerts.size(), c.alert ? 1u : 0u);
        if (c.alert) {
            const auto& alert = run.fake.panels.modalAlerts.front();
            EXPECT_EQ(alert.messageText, "Démarrage automatique indisponible");
            EXPECT_EQ(alert.informativeText,
                      "Activez Velmóra dans Réglages Système > Général > Ouverture et extensions.");
            EXPECT_TRUE(alert.buttons.empty());
            EXPECT_FALSE(alert.textField);
        }
        EXPECT_EQ(run.key(kConfigured), c.configuredAfter);
        EXPECT_EQ(run.loginItem().title(), c.title);
        EXPECT_EQ(run.loginItem().checked, c.checked);
    }
}

TEST_F(LoginStartTest, ItemShowsTheAgentStatus) {
    const struct {
        LoginServiceStatus status;
        const char* title;
        bool checked;
    } cases[] = {
        {LoginServiceStatus::Enabled, kEnabledTitle, true},
        {LoginServiceStatus::RequiresApproval, kApprovalTitle, false},
        {LoginServiceStatus::NotRegistered, kOffTitle, false},
        {LoginServiceStatus::NotFound, kOffTitle, false},
    };
    fake.defaults.values[kMigrated] = true;
    launch();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        // Start from the opposite presentation, so that a step left out shows.
        loginItem().setTitle("ancien titre");
        loginItem().checked = !c.checked;
        fake.loginItems.agent.status = c.status;
        controller->updateLoginStatus();
        EXPECT_EQ(loginItem().title(), c.title);
        EXPECT_EQ(loginItem().checked, c.checked);
    }
}

TEST_F(LoginStartTest, EveryOperationAsksAfreshForTheAgentOfTheBundledPlist) {
    fake.defaults.values[kMigrated] = true;
    launch();
    const auto agentRequests = [&] {
        return std::ranges::count_if(fake.log.calls,
                                     [](const std::string& call) { return call.starts_with("loginItems.agent"); });
    };
    const struct {
        const char* operation;
        std::function<void()> run;
    } operations[] = {
        {"configureLoginStart", [&] { controller->configureLoginStart(); }},
        {"toggleLoginStart", [&] { controller->toggleLoginStart(); }},
        {"updateLoginStatus", [&] { controller->updateLoginStatus(); }},
    };
    for (const auto& op : operations) {
        SCOPED_TRACE(op.operation);
        fake.log.clear();
        op.run();
        EXPECT_GE(agentRequests(), 1);
        EXPECT_EQ(agentRequests(), fake.log.count(kAgentRequest));  // always by that plist name
    }
}

TEST_F(LoginStartTest, WithoutTheMenuItemNothingIsShownAndNothingFails) {
    create();
    controller->configureLoginStart();
    EXPECT_EQ(fake.loginItems.agent.status, LoginServiceStatus::Enabled);
    EXPECT_EQ(key(kMigrated), true);
    controller->toggleLoginStart();
    EXPECT_EQ(fake.loginItems.agent.status, LoginServiceStatus::NotRegistered);
    controller->updateLoginStatus();
}

}  // namespace
}  // namespace velmora::testing
