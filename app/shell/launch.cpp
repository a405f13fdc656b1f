// The launch sequence: the same steps in the same order at every launch.
#include "app/texts.h"
#include "app/velmora.h"

namespace velmora {

namespace {
constexpr double kNotificationPollInterval = 60.0;
}  // namespace

void Velmora::applicationWillFinishLaunching() {
    if (!loginLaunch) loginLaunch = isLoginLaunchEvent();
}

void Velmora::applicationDidFinishLaunching() {
    // The launch event may only be readable once launching has finished; ask again.
    if (!loginLaunch) loginLaunch = isLoginLaunchEvent();

    backgroundActivity = platform_.application.beginBackgroundActivity(texts::kBackgroundActivityReason);
    platform_.application.installQuitEventHandler();
    startInstalledBuildWatch();
    updaterController = platform_.updaters.makeUpdater(*this);

    // The delegate must be in place before the first click on a notification can arrive.
    platform_.notifications.setDelegate(this);
    platform_.notifications.requestAuthorization([](bool) {});
    noticeTimer =
        platform_.timers.scheduleRepeating(kNotificationPollInterval, weakly([this] { pollNativeNotifications(); }));

    buildMainMenu();
    // Before the window exists, so that the desktop names it after the entry from the start.
    keepAppEntryInStep();
    buildWebViewAndWindow();
    buildStatusItemAndBadge();

    if (loginLaunch) {
        platform_.application.setActivationPolicy(platform::ActivationPolicy::Accessory);
        restWhileHidden();
    } else {
        window->makeKeyAndOrderFront();
        platform_.application.activateIgnoringOtherApps();
    }

    if (updaterController->automaticallyChecksForUpdates()) updaterController->checkForUpdatesInBackground();

    restoreKnownHosts();
    pendingConnectionURL = startURL();
    web->load(*pendingConnectionURL);
}

// The desktop names the window and the notifications after the application's entry, and shows
// the bare application id without one. A package installs its entry for every user; a copy the
// user unpacked writes one of its own, naming its own program, and keeps it in step when the
// copy moves or another build runs. An entry the user made is theirs and stays as it is.
void Velmora::keepAppEntryInStep() {
    std::optional<std::string> error;
    switch (platform_.appEntry.state()) {
        case platform::AppEntryState::Missing:
        case platform::AppEntryState::OutOfStep:
            error = platform_.appEntry.installThisCopy();
            break;
        // An entry of the user's own hides the package's from every menu: one written by a copy
        // run before the package was installed would have the menu start that copy, which the
        // package manager does not update, instead of the packaged one. It goes.
        case platform::AppEntryState::WrittenOverSystem:
            error = platform_.appEntry.removeWritten();
            break;
        case platform::AppEntryState::ThisCopy:
        case platform::AppEntryState::UsersOwn:
        case platform::AppEntryState::System:
            break;
    }
    if (error) platform_.log.write(texts::kLogAppEntryUnavailable + *error);
}

}  // namespace velmora
