// The controller: the one object that holds the application's state and every operation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/js_value.h"
#include "platform/foundation/url.h"
#include "platform/platform.h"

namespace velmora {

// Values fixed when the program is built.
struct BuildConstants {
    std::string publicHost;                   // the service's public site, where the sign-in page lives
    std::set<std::string> retiredHosts = {};  // instances that no longer exist
};

class Velmora final : public platform::ApplicationDelegate,
                      public platform::NavigationDelegate,
                      public platform::UIDelegate,
                      public platform::DownloadDelegate,
                      public platform::ScriptMessageHandler,
                      public platform::NotificationCenterDelegate,
                      public platform::UpdaterDelegate {
public:
    // `arguments` are the process's command-line arguments, the program path included.
    Velmora(platform::Platform& platform, const BuildConstants& constants, const std::vector<std::string>& arguments);
    ~Velmora() override;
    Velmora(const Velmora&) = delete;
    Velmora& operator=(const Velmora&) = delete;
    Velmora(Velmora&&) = delete;
    Velmora& operator=(Velmora&&) = delete;

    // ApplicationDelegate overrides:
    void applicationWillFinishLaunching() override;
    void applicationDidFinishLaunching() override;
    bool applicationShouldHandleReopen(bool hasVisibleWindows) override;
    platform::TerminateReply applicationShouldTerminate() override;
    bool applicationShouldTerminateAfterLastWindowClosed() override;
    void handleQuitEvent(bool hasQuitReason) override;

    // NavigationDelegate overrides:
    platform::NavigationPolicy decidePolicyForNavigationAction(const platform::NavigationAction& action) override;
    platform::ResponsePolicy decidePolicyForNavigationResponse(const platform::NavigationResponse& response) override;
    void navigationActionDidBecomeDownload(platform::Download& download) override;
    void navigationResponseDidBecomeDownload(platform::Download& download) override;
    void requestNewWebView(const platform::NavigationAction& action) override;
    void didStartProvisionalNavigation() override;
    void didFinishNavigation() override;
    void didFailProvisionalNavigation(const platform::NavigationError& error) override;
    void didFailNavigation(const platform::NavigationError& error) override;
    void webContentProcessDidTerminate() override;

    // UIDelegate overrides:
    void runJavaScriptAlert(const std::string& message, std::function<void()> done) override;
    void runJavaScriptConfirm(const std::string& message, std::function<void(bool)> done) override;
    void runJavaScriptTextInput(const std::string& prompt, const std::optional<std::string>& defaultText,
                                std::function<void(std::optional<std::string>)> done) override;
    void runOpenPanel(const platform::OpenPanelParameters& parameters,
                      std::function<void(std::optional<std::vector<std::string>>)> done) override;

    // DownloadDelegate overrides:
    void decideDestination(platform::Download& download, const std::string& suggestedFilename,
                           std::function<void(std::optional<std::string> path)> done) override;

    // ScriptMessageHandler overrides:
    void didReceiveScriptMessage(const platform::ScriptMessage& message) override;

    // NotificationCenterDelegate overrides:
    void didReceiveNotificationResponse(const platform::NotificationRequest& request,
                                        std::function<void()> done) override;

    // UpdaterDelegate overrides:
    void updaterWillInstallUpdate() override;
    void updaterWillRelaunchApplication() override;
    void updaterDidAbortInstall() override;

    // Launch mode.
    bool isLoginLaunchEvent();

    // Window and reopen.
    void showNativeWindow();

    // Quit and the background service.
    void stopNativeService();
    // The window has gone (or never came): after a while without it, the process rests.
    void restWhileHidden();
    // The window is back: the rest, or the wait for it, ends.
    void endRest();
    // The window and the view give back what only drawing needs, unless the window is shown.
    void rest();

    // Instance host registry.
    std::optional<foundation::Url> currentInstanceURL(const foundation::Url& url) const;

    // Navigation menu.
    void changeSpace();
    void reload();
    void safari();

    // Printing.
    void print(const foundation::JsValue& body);
    void printFinished(const platform::PrintResult& result);

    // Notifications.
    void pollNativeNotifications();
    void deliverNativeNotice(const std::string& id, const std::string& title, const std::string& body,
                             const std::string& path, bool sound);
    void testNativeNotice();
    void clearSharedNotices(const std::vector<std::string>& ids, const std::string& host);
    void clearReadMailNotice(const platform::ScriptMessage& message);

    // Login start.
    void configureLoginStart();
    void toggleLoginStart();
    void updateLoginStatus();

    // Installed-build watch.
    void checkInstalledBuild();
    // Schedules the installed-build watch: a tick every 2 seconds, from 2 seconds on.
    void startInstalledBuildWatch();

    // Read-only views for tests and the adapter.
    const std::set<std::string>& allowed() const { return allowedInstanceHosts; }
    bool isLoginLaunch() const { return loginLaunch; }
    const std::string& build() const { return runningBuild; }
    const std::optional<foundation::Url>& pendingURL() const { return pendingConnectionURL; }

private:
    // Wraps `work` so that it runs only while this controller exists: timers and platform
    // answers hold the controller weakly through this. The wrapper takes whatever arguments
    // the platform passes and hands them on.
    template <typename Work>
    auto weakly(Work work) {
        return [alive = std::weak_ptr<bool>(alive_), work = std::move(work)](auto&&... arguments) {
            if (const auto token = alive.lock(); token && *token) work(std::forward<decltype(arguments)>(arguments)...);
        };
    }

    void runPrintOperation(std::unique_ptr<platform::PrintOperation> operation);
    void buildMainMenu();
    void keepAppEntryInStep();
    void buildWebViewAndWindow();
    platform::WebViewConfiguration webViewConfiguration();
    std::string aboutTitle() const;
    std::string aboutVersion() const;
    std::string versionText() const;

    void postNotice(const std::string& host, const std::string& id, const std::string& title, const std::string& body,
                    const std::string& path, bool sound);

    // The icon in the tray and the badge in the docks (app/shell/status_item.cpp).
    void buildStatusItemAndBadge();
    void showNoticeStatus(const std::string& title);
    void showUnreadCount(std::optional<std::int64_t> count);
    void refreshStatusItemToolTip();

    // Inbox poll steps.
    std::optional<foundation::Url> consoleToPoll() const;
    void handlePollResult(const foundation::Url& pollURL, const platform::ScriptResult& result);
    void runSelectionPass(const foundation::JsValue::Array& entries, const foundation::JsValue::Object& preferences,
                          const std::string& host);
    void removeNoticesOfReadEntries(const foundation::JsValue::Array& entries, const std::string& host);

    bool isInstanceOrigin(const platform::SecurityOrigin& origin) const;
    bool isInstancePage(const foundation::Url& url) const;
    void restoreKnownHosts();
    foundation::Url startURL() const;
    void admitHost(const std::string& host);
    void recordConsoleHost(const foundation::Url& url);
    foundation::Url signInURL() const;

    platform::Platform& platform_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    // The controller's state, in declaration order with its initial values.
    std::unique_ptr<platform::Window> window;
    std::unique_ptr<platform::WebView> web;
    std::unique_ptr<platform::Updater> updaterController;
    std::shared_ptr<platform::Timer> installedVersionTimer;
    std::optional<std::string> newBuildObserved;
    bool restartPending = false;
    bool updateInstalling = false;
    const std::string activeInstanceHost;
    const std::set<std::string> retiredInstanceHosts;
    std::set<std::string> allowedInstanceHosts;
    const std::string runningBuild;
    std::shared_ptr<platform::Timer> noticeTimer;
    std::set<std::string> currentDeliveredNoticeIds;
    bool noticeBusy = false;
    bool stopEverything = false;
    std::shared_ptr<platform::MenuItem> noticeStatus;
    std::shared_ptr<platform::MenuItem> loginStatus;
    // The icon in the tray, its menu's copy of the notification status, and the number of
    // unread inbox entries the last poll found (nullopt: no signed-in poll keeps it up to date).
    std::unique_ptr<platform::StatusItem> statusItem;
    std::shared_ptr<platform::MenuItem> statusItemNoticeStatus;
    std::optional<std::int64_t> unreadCount;
    std::unique_ptr<platform::ActivityToken> backgroundActivity;
    bool loginLaunch;
    std::shared_ptr<platform::Timer> connectionRetry;
    std::optional<foundation::Url> pendingConnectionURL;
    // Reloading the page after its web process ended, the wait before the next such reload, and
    // when a load last finished.
    std::shared_ptr<platform::Timer> crashReload;
    double crashReloadDelay = 1.0;
    std::optional<double> lastFinishedLoad;
    // The wait from the window's going to the rest, and whether the process rests.
    std::shared_ptr<platform::Timer> restTimer;
    bool resting = false;
};

}  // namespace velmora
