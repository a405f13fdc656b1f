// Starting at login through the login-start agent: the one-time configuration at launch, the
// user's switch in the application menu, and the menu item that shows the agent's state.
#include <memory>
#include <optional>
#include <string>

#include "app/texts.h"
#include "app/velmora.h"

namespace velmora {

namespace {

using platform::LoginServiceStatus;

// The bundle's launch agent property list, which starts the login launcher at login.
constexpr const char* kAgentPlistName = "fr.velmora.universal.background.plist";
// Set once the automatic configuration has run without error; later launches only refresh the item.
constexpr const char* kAgentMigratedKey = "velmoraBackgroundAgentMigrated";
// Set once login start has been configured, automatically or by the user.
constexpr const char* kLoginStartConfiguredKey = "velmoraLoginStartConfigured";

// The agent is asked for afresh each time, never kept: the desktop owns its registration state,
// and a stored object could describe a registration the user has since changed elsewhere.
std::unique_ptr<platform::LoginService> loginStartAgent(platform::LoginItems& loginItems) {
    return loginItems.agentService(kAgentPlistName);
}

struct Presentation {
    const char* title;
    bool checked;
};

Presentation presentationFor(LoginServiceStatus status) {
    switch (status) {
        case LoginServiceStatus::Enabled:
            return {texts::kLoginStartEnabled, true};
        case LoginServiceStatus::RequiresApproval:
            return {texts::kLoginStartNeedsApproval, false};
        // An entry that starts a missing program is not this copy's registration either.
        default:
            return {texts::kLoginStartOff, false};
    }
}

}  // namespace

void Velmora::configureLoginStart() {
    const auto agent = loginStartAgent(platform_.loginItems);
    // An entry whose program is gone was written by a copy of the application that has since
    // moved or been deleted: the user had chosen login start, and at login it starts nothing.
    // Every launch hands it over to this copy, whatever the configuration below has recorded.
    bool registerAgent = agent->status() == LoginServiceStatus::StartsMissingProgram;
    const bool configuring = !platform_.defaults.boolean(kAgentMigratedKey);
    std::optional<std::string> error;
    if (configuring) {
        // An older arrangement registered the application itself at login; the agent replaces it.
        const auto mainApp = platform_.loginItems.mainAppService();
        const LoginServiceStatus mainAppStatus = mainApp->status();
        const bool appIsLoginItem =
            mainAppStatus == LoginServiceStatus::Enabled || mainAppStatus == LoginServiceStatus::RequiresApproval;
        // A fresh installation gets login start on by default; a user's earlier choice is kept.
        registerAgent = registerAgent || appIsLoginItem || !platform_.defaults.boolean(kLoginStartConfiguredKey);
        if (appIsLoginItem) error = mainApp->unregisterService();
    }
    if (!error && registerAgent) error = agent->registerService();
    if (error) {
        // Both keys stay as they were, so the whole configuration is tried again next launch.
        platform_.log.write(texts::kLogLoginStartUnavailable + *error);
    } else if (configuring) {
        platform_.defaults.setBoolean(kAgentMigratedKey, true);
        platform_.defaults.setBoolean(kLoginStartConfiguredKey, true);
    }
    updateLoginStatus();
}

void Velmora::toggleLoginStart() {
    const auto agent = loginStartAgent(platform_.loginItems);
    if (agent->status() == LoginServiceStatus::RequiresApproval) {
        // Only the user can approve the agent, in the desktop's own settings.
        platform_.loginItems.openSystemSettingsLoginItems();
    } else {
        const std::optional<std::string> error =
            agent->status() == LoginServiceStatus::Enabled ? agent->unregisterService() : agent->registerService();
        if (error) {
            // The user gets guidance rather than the system's own error text.
            platform_.panels.runModalAlert(
                {texts::kLoginStartAlertMessage, texts::kLoginStartAlertInformative, {}, {}});
        } else {
            platform_.defaults.setBoolean(kLoginStartConfiguredKey, true);
        }
    }
    updateLoginStatus();
}

void Velmora::updateLoginStatus() {
    const auto agent = loginStartAgent(platform_.loginItems);
    const Presentation shown = presentationFor(agent->status());
    if (!loginStatus) return;
    loginStatus->setTitle(shown.title);
    loginStatus->setChecked(shown.checked);
}

}  // namespace velmora
