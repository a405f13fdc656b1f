// The launch sequence: the same steps in the same order at every launch.
#include "app/texts.h"
#include "app/velmora.h"

namespace velmora {

namespace {
constexpr double kInstalledBuildInterval = 2.0;
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
    installedVersionTimer =
        platform_.timers.scheduleRepeating(kInstalledBuildInterval, weakly([this] { checkInstalledBuild(); }));
    updaterController = platform_.updaters.makeUpdater(*this);

    // The delegate must be in place before the first click on a notification can arrive.
    platform_.notifications.setDelegate(this);
    platform_.notifications.requestAuthorization([](bool) {});
    noticeTimer =
        platform_.timers.scheduleRepeating(kNotificationPollInterval, weakly([this] { pollNativeNotifications(); }));

    buildMainMenu();
    buildWebViewAndWindow();

    if (loginLaunch) {
        platform_.application.setActivationPolicy(platform::ActivationPolicy::Accessory);
    } else {
        window->makeKeyAndOrderFront();
        platform_.application.activateIgnoringOtherApps();
    }

    if (updaterController->automaticallyChecksForUpdates()) updaterController->checkForUpdatesInBackground();

    restoreKnownHosts();
    pendingConnectionURL = startURL();
    web->load(*pendingConnectionURL);
}

}  // namespace velmora
