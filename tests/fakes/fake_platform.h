// Fakes of every port, each with a control face for the tests: set state, read what the
// controller left, fire timers, advance the clock. The fakes write their calls into one shared
// CallLog, so that a test can check the order in which the controller used the platform.
#pragma once

#include <algorithm>
#include <cstdint>
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
    bool has(const std::string& call) const { return count(call) > 0; }
    int count(const std::string& call) const { return static_cast<int>(std::ranges::count(calls, call)); }
    void clear() { calls.clear(); }
};

// A fake that records its calls in the shared log.
class Logging {
public:
    explicit Logging(CallLog& log) : log_(log) {}

protected:
    CallLog& log_;
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

class FakeTimers final : public platform::Timers, Logging {
public:
    FakeTimers(CallLog& log, FakeClock& clock) : Logging(log), clock_(clock) {}
    std::shared_ptr<platform::Timer> scheduleRepeating(double seconds, std::function<void()> fire) override {
        return schedule(seconds, true, std::move(fire));
    }
    std::shared_ptr<platform::Timer> scheduleOneShot(double seconds, std::function<void()> fire) override {
        return schedule(seconds, false, std::move(fire));
    }
    // Moves the clock forward by `seconds`, firing every due timer in time order.
    void advance(double seconds);
    // The valid timers with this interval.
    std::vector<std::shared_ptr<FakeTimer>> withInterval(double seconds) const;

    std::vector<std::shared_ptr<FakeTimer>> timers;

private:
    std::shared_ptr<platform::Timer> schedule(double seconds, bool repeats, std::function<void()> fire);
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

class FakeMenu final : public platform::Menu, Logging {
public:
    explicit FakeMenu(CallLog& log, std::string title = {}) : Logging(log), title(std::move(title)) {}
    std::shared_ptr<platform::MenuItem> addItem(const platform::MenuCommand& command,
                                                std::function<void()> handler) override;
    void addSeparator() override { items.emplace_back(std::make_shared<FakeMenuItem>())->separator = true; }
    platform::Menu& addSubmenu(const std::string& title) override {
        return *submenus.emplace_back(std::make_unique<FakeMenu>(log_, title));
    }

    // The first item with this action, searched through the submenus.
    FakeMenuItem* findAction(const std::string& action);
    // Runs the handler of the item with this action.
    void choose(const std::string& action) {
        if (auto* item = findAction(action); item && item->handler) item->handler();
    }

    std::string title;
    std::vector<std::shared_ptr<FakeMenuItem>> items;
    std::vector<std::unique_ptr<FakeMenu>> submenus;
};

class FakeApplication final : public platform::Application, Logging {
public:
    using Logging::Logging;
    void setDelegate(platform::ApplicationDelegate* d) override { delegate = d; }
    void setActivationPolicy(platform::ActivationPolicy p) override {
        policy = p;
        log_.add(std::string("application.setActivationPolicy(") +
                 (p == platform::ActivationPolicy::Regular ? "regular)" : "accessory)"));
    }
    void activateIgnoringOtherApps() override { log_.add("application.activate"); }
    void terminate() override {
        log_.add("application.terminate");
        if (delegate && delegate->applicationShouldTerminate() == platform::TerminateReply::Now) terminated = true;
    }
    bool currentLaunchIsLoginItem() override {
        log_.add("application.currentLaunchIsLoginItem");
        return loginItemLaunch;
    }
    void installQuitEventHandler() override { log_.add("application.installQuitEventHandler"); }
    std::unique_ptr<platform::ActivityToken> beginBackgroundActivity(const std::string& reason) override {
        log_.add("application.beginBackgroundActivity(" + reason + ")");
        return std::make_unique<platform::ActivityToken>();
    }
    std::unique_ptr<platform::Menu> makeMainMenu() override {
        log_.add("application.makeMainMenu");
        return std::make_unique<FakeMenu>(log_);
    }
    void setMainMenu(std::unique_ptr<platform::Menu> menu) override {
        log_.add("application.setMainMenu");
        mainMenu.reset(static_cast<FakeMenu*>(menu.release()));
    }

    platform::ApplicationDelegate* delegate = nullptr;
    platform::ActivationPolicy policy = platform::ActivationPolicy::Regular;
    bool loginItemLaunch = false;
    bool terminated = false;  // a terminate() was answered with Now
    std::unique_ptr<FakeMenu> mainMenu;
};

class FakeUserDefaults final : public platform::UserDefaults, Logging {
public:
    using Value = std::variant<std::vector<std::string>, std::string, bool>;
    using Logging::Logging;
    std::optional<std::vector<std::string>> stringArray(const std::string& key) const override {
        return get<std::vector<std::string>>(key);
    }
    std::optional<std::string> string(const std::string& key) const override { return get<std::string>(key); }
    bool boolean(const std::string& key) const override { return get<bool>(key).value_or(false); }
    void setStringArray(const std::string& key, const std::vector<std::string>& value) override { set(key, value); }
    void setString(const std::string& key, const std::string& value) override { set(key, value); }
    void setBoolean(const std::string& key, bool value) override { set(key, value); }

    std::map<std::string, Value> values;

private:
    // The value under `key` when it has type T; a value of another type reads as absent.
    template <typename T>
    std::optional<T> get(const std::string& key) const {
        const auto it = values.find(key);
        if (it == values.end() || !std::holds_alternative<T>(it->second)) return std::nullopt;
        return std::get<T>(it->second);
    }
    void set(const std::string& key, Value value) {
        log_.add("defaults.set(" + key + ")");
        values[key] = std::move(value);
    }
};

class FakeBundle final : public platform::Bundle {
public:
    std::optional<std::string> infoString(const std::string& key) const override {
        const auto it = info.find(key);
        return it == info.end() ? std::nullopt : std::optional(it->second);
    }
    std::string bundlePath() const override { return path; }

    std::map<std::string, std::string> info{{"CFBundleVersion", "41"}, {"CFBundleShortVersionString", "1.4.2"}};
    std::string path = "/opt/velmora/Velmora.app";
};

class FakeFiles final : public platform::Files {
public:
    std::optional<std::vector<std::uint8_t>> read(const std::string& path) const override {
        const auto it = contents.find(path);
        return it == contents.end() ? std::nullopt : std::optional(it->second);
    }
    bool isExecutableFile(const std::string& path) const override { return executables.contains(path); }

    std::map<std::string, std::vector<std::uint8_t>> contents;
    std::set<std::string> executables;
};

class FakeProcesses final : public platform::Processes, Logging {
public:
    using Logging::Logging;
    int processIdentifier() const override { return pid; }
    std::optional<std::string> launch(const std::string& executable,
                                      const std::vector<std::string>& arguments) override {
        log_.add("processes.launch(" + executable + ")");
        if (launchError) return launchError;
        launched.push_back(arguments);
        launched.back().insert(launched.back().begin(), executable);
        return std::nullopt;
    }

    int pid = 4242;
    std::optional<std::string> launchError;
    std::vector<std::vector<std::string>> launched;  // executable followed by its arguments
};

class FakeLog final : public platform::Log {
public:
    void write(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class FakeWorkspace final : public platform::Workspace, Logging {
public:
    using Logging::Logging;
    bool openUrl(const foundation::Url& url) override {
        log_.add("workspace.openUrl(" + url.string() + ")");
        return true;
    }
};

class FakeLoginItems final : public platform::LoginItems, Logging {
public:
    struct Service {
        platform::LoginServiceStatus status = platform::LoginServiceStatus::NotRegistered;
        std::optional<std::string> registerError;
        std::optional<std::string> unregisterError;
        // The status a successful registration leaves (Enabled, or RequiresApproval).
        platform::LoginServiceStatus statusAfterRegister = platform::LoginServiceStatus::Enabled;
    };
    using Logging::Logging;
    std::unique_ptr<platform::LoginService> agentService(const std::string& plistName) override;
    std::unique_ptr<platform::LoginService> mainAppService() override;
    void openSystemSettingsLoginItems() override { log_.add("loginItems.openSystemSettings"); }

    Service agent;
    Service mainApp;
};

// The application's entries on a machine where none exists yet, until the controller acts.
class FakeAppEntry final : public platform::AppEntry, Logging {
public:
    using Logging::Logging;
    platform::AppEntryState state() const override { return current; }
    std::optional<std::string> installThisCopy() override {
        log_.add("appEntry.installThisCopy");
        if (!installError) current = platform::AppEntryState::ThisCopy;
        return installError;
    }
    std::optional<std::string> removeWritten() override {
        log_.add("appEntry.removeWritten");
        if (!removeError) current = platform::AppEntryState::System;
        return removeError;
    }

    platform::AppEntryState current = platform::AppEntryState::Missing;
    std::optional<std::string> installError;
    std::optional<std::string> removeError;
};

class FakeNotificationCenter final : public platform::NotificationCenter, Logging {
public:
    using Logging::Logging;
    void setDelegate(platform::NotificationCenterDelegate*) override { log_.add("notifications.setDelegate"); }
    void requestAuthorization(std::function<void(bool)> done) override {
        log_.add("notifications.requestAuthorization");
        done(true);
    }
    void add(platform::NotificationRequest request, std::function<void(std::optional<std::string>)> done) override;
    void delivered(std::function<void(std::vector<platform::NotificationRequest>)> done) override;
    void removeDelivered(const std::vector<std::string>& identifiers) override;

    // Answers the delivered() calls held back while `holdDeliveredAnswers` was true.
    void answerDelivered();

    std::vector<platform::NotificationRequest> shown;  // what the centre holds now
    std::vector<platform::NotificationRequest> added;  // every request posted, in order
    std::vector<std::vector<std::string>> removals;
    std::optional<std::string> refusal;  // the error every add() reports, when set
    bool holdDeliveredAnswers = false;

private:
    std::vector<std::function<void(std::vector<platform::NotificationRequest>)>> held_;
};

class FakeUpdaterFactory final : public platform::UpdaterFactory, Logging {
public:
    using Logging::Logging;
    std::unique_ptr<platform::Updater> makeUpdater(platform::UpdaterDelegate& delegate) override;
    platform::UpdaterDelegate* delegate = nullptr;
};

class FakeWebView final : public platform::WebView, Logging {
public:
    FakeWebView(CallLog& log, platform::WebViewConfiguration configuration)
        : Logging(log), configuration(std::move(configuration)) {}
    void setNavigationDelegate(platform::NavigationDelegate*) override { log_.add("web.setNavigationDelegate"); }
    void setUIDelegate(platform::UIDelegate*) override { log_.add("web.setUIDelegate"); }
    void load(const foundation::Url& url) override {
        log_.add("web.load(" + url.string() + ")");
        loads.push_back(url.string());
        currentUrl = url;
    }
    void reload() override { log_.add("web.reload"); }
    std::optional<foundation::Url> url() const override { return currentUrl; }
    void callAsyncJavaScript(const std::string& body, std::function<void(platform::ScriptResult)> done) override {
        log_.add("web.callAsyncJavaScript");
        scripts.push_back({std::move(done), body});
    }
    void evaluateJavaScript(const std::string& source) override { log_.add("web.evaluateJavaScript(" + source + ")"); }
    void setResting(bool resting) override {
        log_.add(std::string("web.setResting(") + (resting ? "true)" : "false)"));
    }
    std::unique_ptr<platform::PrintOperation> printOperation() override;

    // Sets the page URL as if a load of `text` had committed.
    void showPage(const std::string& text) { currentUrl = foundation::Url::parse(text); }

    platform::WebViewConfiguration configuration;
    std::optional<foundation::Url> currentUrl;
    std::vector<std::string> loads;
    struct PendingScript {
        std::function<void(platform::ScriptResult)> done;
        std::string body;
    };
    std::vector<PendingScript> scripts;  // async scripts not yet answered
};

class FakeWindow final : public platform::Window, Logging {
public:
    using Logging::Logging;
    void setContentView(platform::WebView&) override { log_.add("window.setContentView"); }
    void setReleasedWhenClosed(bool released) override {
        log_.add(std::string("window.setReleasedWhenClosed(") + (released ? "true)" : "false)"));
    }
    void center() override { log_.add("window.center"); }
    void makeKeyAndOrderFront() override {
        log_.add("window.makeKeyAndOrderFront");
        visible = true;
    }
    void orderOut() override {
        log_.add("window.orderOut");
        visible = false;
    }
    bool isVisible() const override { return visible; }
    bool hasAttachedSheet() const override { return sheet; }
    void releaseDrawingResources() override { log_.add("window.releaseDrawingResources"); }

    bool visible = false;
    bool sheet = false;
};

class FakeViews final : public platform::Views, Logging {
public:
    using Logging::Logging;
    std::unique_ptr<platform::WebView> makeWebView(const platform::WebViewConfiguration& configuration) override;
    std::unique_ptr<platform::Window> makeWindow(int width, int height, const std::string& title) override;

    FakeWebView* web = nullptr;  // owned by the controller
    FakeWindow* window = nullptr;
};

// The panels keep what they showed, and the open panel's answer callback for the test to call.
class FakePanels final : public platform::Panels, Logging {
public:
    using Logging::Logging;
    void beginAlert(platform::Window&, const platform::AlertSpec& alert,
                    std::function<void(platform::AlertResult)>) override {
        log_.add("panels.beginAlert(" + alert.messageText + ")");
        alerts.push_back(alert);
    }
    void runModalAlert(const platform::AlertSpec& alert) override {
        log_.add("panels.runModalAlert(" + alert.messageText + ")");
        alerts.push_back(alert);
    }
    void beginOpenPanel(platform::Window&, bool multiple, bool directories,
                        std::function<void(std::optional<std::vector<std::string>>)> done) override {
        log_.add(std::string("panels.beginOpenPanel(") + (multiple ? "multiple " : "single ") +
                 (directories ? "directories)" : "files)"));
        pendingOpen = std::move(done);
    }
    void beginSavePanel(platform::Window&, const std::string& suggestedName,
                        std::function<void(std::optional<std::string>)>) override {
        log_.add("panels.beginSavePanel(" + suggestedName + ")");
    }
    void showAboutPanel(const platform::AboutPanel& shown) override {
        log_.add("panels.showAboutPanel");
        about = shown;
    }

    std::vector<platform::AlertSpec> alerts;  // sheets and modal alerts, in order
    std::function<void(std::optional<std::vector<std::string>>)> pendingOpen;
    std::optional<platform::AboutPanel> about;  // the texts of the last about panel shown
};

class FakePrinting final : public platform::Printing, Logging {
public:
    using Logging::Logging;
    // Opens only bytes that start with "%PDF", and answers at once.
    void openPdf(std::vector<std::uint8_t> bytes,
                 std::function<void(std::unique_ptr<platform::PrintOperation>)> done) override;
};

// The icon in the tray: its title, menu and tooltip, and the activation the user would do.
class FakeStatusItem final : public platform::StatusItem, Logging {
public:
    FakeStatusItem(CallLog& log, std::string title, std::function<void()> activated)
        : Logging(log), title(std::move(title)), activated(std::move(activated)), items(log) {}
    platform::Menu& menu() override { return items; }
    void setToolTip(const std::string& heading, const std::string& text) override {
        log_.add("statusItem.setToolTip");
        toolTip = heading + "|" + text;
    }
    // Activates the icon, as a click on it in the tray does.
    void activate() const { activated(); }

    std::string title;
    std::function<void()> activated;
    FakeMenu items;
    std::string toolTip;  // heading and text, split by "|"
};

class FakeStatusItems final : public platform::StatusItems, Logging {
public:
    using Logging::Logging;
    std::unique_ptr<platform::StatusItem> makeStatusItem(const std::string& title,
                                                         std::function<void()> activated) override {
        log_.add("statusItems.makeStatusItem(" + title + ")");
        auto made = std::make_unique<FakeStatusItem>(log_, title, std::move(activated));
        item = made.get();
        return made;
    }

    FakeStatusItem* item = nullptr;  // owned by the controller
};

class FakeLauncherEntry final : public platform::LauncherEntry, Logging {
public:
    using Logging::Logging;
    void setBadge(std::optional<std::int64_t> count) override {
        log_.add("launcherEntry.setBadge(" + (count ? std::to_string(*count) : std::string("hidden")) + ")");
        badges.push_back(count);
    }

    std::vector<std::optional<std::int64_t>> badges;  // every badge published, in order
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
    FakeAppEntry appEntry{log};
    FakeNotificationCenter notifications{log};
    FakeUpdaterFactory updaters{log};
    FakeViews views{log};
    FakePanels panels{log};
    FakePrinting printing{log};
    FakeStatusItems statusItems{log};
    FakeLauncherEntry launcherEntry{log};
    platform::Platform platform{application, timers,    clock,     defaults,   bundle,      files,
                                processes,   systemLog, workspace, loginItems, appEntry,    notifications,
                                updaters,    views,     panels,    printing,   statusItems, launcherEntry};
};

}  // namespace fakes
