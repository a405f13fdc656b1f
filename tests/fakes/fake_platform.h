// Fakes of every port, each with a control face for the tests: set state, read the calls
// they received, fire timers, advance the clock. Every fake writes its calls into one shared
// CallLog so that a test can check the order in which the controller used the platform.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "platform/platform.h"

namespace fakes {

struct CallLog {
    std::vector<std::string> calls;
    void add(std::string call) { calls.push_back(std::move(call)); }
    // Whether `call` was recorded.
    bool has(const std::string& call) const;
    // How many times `call` was recorded.
    int count(const std::string& call) const;
    void clear() { calls.clear(); }
};

class FakeClock final : public platform::Clock {
public:
    double now() const override { return now_; }
    void set(double seconds) { now_ = seconds; }
    double now_ = 1'750'000'000.0;
};

class FakeTimer final : public platform::Timer {
public:
    FakeTimer(double interval, bool repeats, double due, std::function<void()> fire)
        : interval(interval), repeats(repeats), due(due), fire(std::move(fire)) {}
    void invalidate() override { valid = false; }
    bool isValid() const override { return valid; }

    double interval;
    bool repeats;
    double due;
    std::function<void()> fire;
    bool valid = true;
};

class FakeTimers final : public platform::Timers {
public:
    FakeTimers(CallLog& log, FakeClock& clock) : log_(log), clock_(clock) {}
    std::shared_ptr<platform::Timer> scheduleRepeating(double seconds, std::function<void()> fire) override;
    std::shared_ptr<platform::Timer> scheduleOneShot(double seconds, std::function<void()> fire) override;

    // Moves the clock forward by `seconds`, firing every due timer in time order.
    void advance(double seconds);
    // The valid timers with this interval.
    std::vector<std::shared_ptr<FakeTimer>> withInterval(double seconds) const;

    std::vector<std::shared_ptr<FakeTimer>> timers;

private:
    CallLog& log_;
    FakeClock& clock_;
};

class FakeMenuItem final : public platform::MenuItem {
public:
    void setTitle(const std::string& title) override { command.title = title; }
    std::string title() const override { return command.title; }
    void setChecked(bool checked) override { this->checked = checked; }

    platform::MenuCommand command;
    std::function<void()> handler;
    bool separator = false;
    bool checked = false;
};

class FakeMenu final : public platform::Menu {
public:
    explicit FakeMenu(CallLog& log, std::string title = {}) : title(std::move(title)), log_(log) {}
    std::shared_ptr<platform::MenuItem> addItem(const platform::MenuCommand& command,
                                                std::function<void()> handler) override;
    void addSeparator() override;
    platform::Menu& addSubmenu(const std::string& title) override;

    // The first item with this action, searched through the submenus.
    FakeMenuItem* findAction(const std::string& action);
    // Runs the handler of the item with this action.
    void choose(const std::string& action);

    std::string title;
    std::vector<std::shared_ptr<FakeMenuItem>> items;
    std::vector<std::unique_ptr<FakeMenu>> submenus;

private:
    CallLog& log_;
};

class FakeApplication final : public platform::Application {
public:
    explicit FakeApplication(CallLog& log) : log_(log) {}
    void setDelegate(platform::ApplicationDelegate* d) override { delegate = d; }
    void setActivationPolicy(platform::ActivationPolicy policy) override;
    void activateIgnoringOtherApps() override;
    void terminate() override;
    bool currentLaunchIsLoginItem() override;
    void installQuitEventHandler() override;
    std::unique_ptr<platform::ActivityToken> beginBackgroundActivity(const std::string& reason) override;
    std::unique_ptr<platform::Menu> makeMainMenu() override;
    void setMainMenu(std::unique_ptr<platform::Menu> menu) override;

    platform::ApplicationDelegate* delegate = nullptr;
    platform::ActivationPolicy policy = platform::ActivationPolicy::Regular;
    bool loginItemLaunch = false;
    bool terminated = false;  // a terminate() was answered with Now
    std::unique_ptr<FakeMenu> mainMenu;

private:
    CallLog& log_;
};

class FakeUserDefaults final : public platform::UserDefaults {
public:
    using Value = std::variant<std::vector<std::string>, std::string, bool>;
    explicit FakeUserDefaults(CallLog& log) : log_(log) {}
    std::optional<std::vector<std::string>> stringArray(const std::string& key) const override;
    std::optional<std::string> string(const std::string& key) const override;
    bool boolean(const std::string& key) const override;
    void setStringArray(const std::string& key, const std::vector<std::string>& value) override;
    void setString(const std::string& key, const std::string& value) override;
    void setBoolean(const std::string& key, bool value) override;

    std::map<std::string, Value> values;
    int writes = 0;

private:
    CallLog& log_;
};

class FakeBundle final : public platform::Bundle {
public:
    std::optional<std::string> infoString(const std::string& key) const override;
    std::string bundlePath() const override { return path; }

    std::map<std::string, std::string> info{{"CFBundleVersion", "41"}, {"CFBundleShortVersionString", "1.4.2"}};
    std::string path = "/opt/velmora/Velmora.app";
};

class FakeFiles final : public platform::Files {
public:
    std::optional<std::vector<std::uint8_t>> read(const std::string& path) const override;
    bool isExecutableFile(const std::string& path) const override { return executables.contains(path); }

    std::map<std::string, std::vector<std::uint8_t>> contents;
    std::set<std::string> executables;
};

class FakeProcesses final : public platform::Processes {
public:
    explicit FakeProcesses(CallLog& log) : log_(log) {}
    int processIdentifier() const override { return pid; }
    std::optional<std::string> launch(const std::string& executable,
                                      const std::vector<std::string>& arguments) override;

    int pid = 4242;
    std::optional<std::string> launchError;
    std::vector<std::vector<std::string>> launched;  // executable followed by its arguments

private:
    CallLog& log_;
};

class FakeLog final : public platform::Log {
public:
    void write(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class FakeWorkspace final : public platform::Workspace {
public:
    explicit FakeWorkspace(CallLog& log) : log_(log) {}
    bool openUrl(const foundation::Url& url) override;
    std::vector<std::string> opened;
    bool succeeds = true;

private:
    CallLog& log_;
};

class FakeLoginItems final : public platform::LoginItems {
public:
    struct Service {
        platform::LoginServiceStatus status = platform::LoginServiceStatus::NotRegistered;
        std::optional<std::string> registerError;
        std::optional<std::string> unregisterError;
        // The status a successful registration leaves (Enabled, or RequiresApproval).
        platform::LoginServiceStatus statusAfterRegister = platform::LoginServiceStatus::Enabled;
    };
    explicit FakeLoginItems(CallLog& log) : log_(log) {}
    std::unique_ptr<platform::LoginService> agentService(const std::string& plistName) override;
    std::unique_ptr<platform::LoginService> mainAppService() override;
    void openSystemSettingsLoginItems() override;

    Service agent;
    Service mainApp;
    int settingsOpened = 0;

private:
    CallLog& log_;
};

class FakeNotificationCenter final : public platform::NotificationCenter {
public:
    explicit FakeNotificationCenter(CallLog& log) : log_(log) {}
    void setDelegate(platform::NotificationCenterDelegate* d) override;
    void requestAuthorization(std::function<void(bool)> done) override;
    void add(platform::NotificationRequest request, std::function<void(std::optional<std::string>)> done) override;
    void delivered(std::function<void(std::vector<platform::NotificationRequest>)> done) override;
    void removeDelivered(const std::vector<std::string>& identifiers) override;

    // Answers the delivered() calls held back while `holdDeliveredAnswers` was true.
    void answerDelivered();

    platform::NotificationCenterDelegate* delegate = nullptr;
    std::vector<platform::NotificationRequest> shown;  // what the centre holds now
    std::vector<platform::NotificationRequest> added;  // every request posted, in order
    std::vector<std::vector<std::string>> removals;
    std::optional<std::string> refusal;  // the error every add() reports, when set
    bool holdDeliveredAnswers = false;
    std::vector<std::function<void(std::vector<platform::NotificationRequest>)>> heldDelivered;

private:
    CallLog& log_;
};

class FakeUpdater final : public platform::Updater {
public:
    explicit FakeUpdater(CallLog& log, bool automatic) : automatic(automatic), log_(log) {}
    bool automaticallyChecksForUpdates() const override;
    void checkForUpdatesInBackground() override;
    void checkForUpdates() override;
    bool automatic;

private:
    CallLog& log_;
};

class FakeUpdaterFactory final : public platform::UpdaterFactory {
public:
    explicit FakeUpdaterFactory(CallLog& log) : log_(log) {}
    std::unique_ptr<platform::Updater> makeUpdater(platform::UpdaterDelegate& delegate) override;
    platform::UpdaterDelegate* delegate = nullptr;
    bool automatic = true;

private:
    CallLog& log_;
};

class FakePrintOperation final : public platform::PrintOperation {
public:
    FakePrintOperation(CallLog& log, std::string what) : what(std::move(what)), log_(log) {}
    void setShowsPrintPanel(bool shows) override { printPanel = shows; }
    void setShowsProgressPanel(bool shows) override { progressPanel = shows; }
    void runModal(platform::Window& window, std::function<void(bool)> done) override;
    std::string what;
    bool printPanel = false;
    bool progressPanel = false;

private:
    CallLog& log_;
};

class FakeWebView final : public platform::WebView {
public:
    FakeWebView(CallLog& log, platform::WebViewConfiguration configuration)
        : configuration(std::move(configuration)), log_(log) {}
    void setNavigationDelegate(platform::NavigationDelegate* d) override;
    void setUIDelegate(platform::UIDelegate* d) override;
    void load(const foundation::Url& url) override;
    void reload() override;
    std::optional<foundation::Url> url() const override { return currentUrl; }
    void callAsyncJavaScript(const std::string& body, std::function<void(platform::ScriptResult)> done) override;
    void evaluateJavaScript(const std::string& source) override;
    std::unique_ptr<platform::PrintOperation> printOperation() override;

    // Sets the page URL as if a load of `text` had committed.
    void showPage(const std::string& text);

    platform::WebViewConfiguration configuration;
    platform::NavigationDelegate* navigationDelegate = nullptr;
    platform::UIDelegate* uiDelegate = nullptr;
    std::optional<foundation::Url> currentUrl;
    std::vector<std::string> loads;
    int reloads = 0;
    std::vector<std::string> evaluated;
    struct PendingScript {
        std::string body;
        std::function<void(platform::ScriptResult)> done;
    };
    std::vector<PendingScript> scripts;  // async scripts not yet answered

private:
    CallLog& log_;
};

class FakeWindow final : public platform::Window {
public:
    explicit FakeWindow(CallLog& log) : log_(log) {}
    void setContentView(platform::WebView& view) override;
    void setReleasedWhenClosed(bool released) override;
    void center() override;
    void makeKeyAndOrderFront() override;
    void orderOut() override;
    bool isVisible() const override { return visible; }
    bool hasAttachedSheet() const override { return sheet; }

    int width = 0, height = 0;
    std::string title;
    bool visible = false;
    bool sheet = false;
    bool releasedWhenClosed = true;
    platform::WebView* content = nullptr;

private:
    CallLog& log_;
};

class FakeViews final : public platform::Views {
public:
    explicit FakeViews(CallLog& log) : log_(log) {}
    std::unique_ptr<platform::WebView> makeWebView(const platform::WebViewConfiguration& configuration) override;
    std::unique_ptr<platform::Window> makeWindow(int width, int height, const std::string& title) override;

    FakeWebView* web = nullptr;  // owned by the controller
    FakeWindow* window = nullptr;

private:
    CallLog& log_;
};

class FakePanels final : public platform::Panels {
public:
    explicit FakePanels(CallLog& log) : log_(log) {}
    void beginAlert(platform::Window& window, const platform::AlertSpec& alert,
                    std::function<void(platform::AlertResult)> done) override;
    void runModalAlert(const platform::AlertSpec& alert) override;
    void beginOpenPanel(platform::Window& window, bool multiple, bool directories,
                        std::function<void(std::optional<std::vector<std::string>>)> done) override;
    void beginSavePanel(platform::Window& window, const std::string& suggestedName,
                        std::function<void(std::optional<std::string>)> done) override;
    void showAboutPanel() override;

    std::vector<platform::AlertSpec> alerts;
    std::vector<platform::AlertSpec> modalAlerts;
    std::function<void(platform::AlertResult)> pendingAlert;
    std::function<void(std::optional<std::vector<std::string>>)> pendingOpen;
    std::function<void(std::optional<std::string>)> pendingSave;
    bool lastOpenMultiple = false, lastOpenDirectories = false;
    std::string lastSuggestedName;

private:
    CallLog& log_;
};

class FakePrinting final : public platform::Printing {
public:
    explicit FakePrinting(CallLog& log) : log_(log) {}
    std::unique_ptr<platform::PrintOperation> pdfPrintOperation(const std::vector<std::uint8_t>& bytes) override;
    bool opensAsPdf = true;  // whether bytes starting with "%PDF" open
    std::vector<std::vector<std::uint8_t>> documents;

private:
    CallLog& log_;
};

// Every fake, wired into one Platform.
struct FakePlatform {
    CallLog log;
    FakeClock clock;
    FakeTimers timers{log, clock};
    FakeApplication application{log};
    FakeUserDefaults defaults{log};
    FakeBundle bundle;
    FakeFiles files;
    FakeProcesses processes{log};
    FakeLog systemLog;
    FakeWorkspace workspace{log};
    FakeLoginItems loginItems{log};
    FakeNotificationCenter notifications{log};
    FakeUpdaterFactory updaters{log};
    FakeViews views{log};
    FakePanels panels{log};
    FakePrinting printing{log};
    platform::Platform platform{application, timers,     clock,         defaults, bundle, files,  processes, systemLog,
                                workspace,   loginItems, notifications, updaters, views,  panels, printing};
};

}  // namespace fakes
