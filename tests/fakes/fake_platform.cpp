#include "tests/fakes/fake_platform.h"

#include <algorithm>

namespace fakes {

namespace {
std::string policyName(platform::ActivationPolicy policy) {
    return policy == platform::ActivationPolicy::Regular ? "regular" : "accessory";
}
std::string number(double value) {
    std::string text = std::to_string(value);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
    return text;
}
}  // namespace

bool CallLog::has(const std::string& call) const { return std::ranges::find(calls, call) != calls.end(); }
int CallLog::count(const std::string& call) const { return static_cast<int>(std::ranges::count(calls, call)); }

std::shared_ptr<platform::Timer> FakeTimers::scheduleRepeating(double seconds, std::function<void()> fire) {
    log_.add("timers.scheduleRepeating(" + number(seconds) + ")");
    auto timer = std::make_shared<FakeTimer>(seconds, true, clock_.now() + seconds, std::move(fire));
    timers.push_back(timer);
    return timer;
}

std::shared_ptr<platform::Timer> FakeTimers::scheduleOneShot(double seconds, std::function<void()> fire) {
    log_.add("timers.scheduleOneShot(" + number(seconds) + ")");
    auto timer = std::make_shared<FakeTimer>(seconds, false, clock_.now() + seconds, std::move(fire));
    timers.push_back(timer);
    return timer;
}

void FakeTimers::advance(double seconds) {
    const double end = clock_.now() + seconds;
    for (;;) {
        std::shared_ptr<FakeTimer> next;
        for (const auto& timer : timers)
            if (timer->valid && timer->due <= end && (!next || timer->due < next->due)) next = timer;
        if (!next) break;
        clock_.set(next->due);
        if (next->repeats) {
            next->due += next->interval;
        } else {
            next->valid = false;
        }
        next->fire();
    }
    clock_.set(end);
}

std::vector<std::shared_ptr<FakeTimer>> FakeTimers::withInterval(double seconds) const {
    std::vector<std::shared_ptr<FakeTimer>> found;
    for (const auto& timer : timers)
        if (timer->valid && timer->interval == seconds) found.push_back(timer);
    return found;
}

std::shared_ptr<platform::MenuItem> FakeMenu::addItem(const platform::MenuCommand& command,
                                                      std::function<void()> handler) {
    log_.add("menu.addItem(" + command.title + ")");
    auto item = std::make_shared<FakeMenuItem>();
    item->command = command;
    item->handler = std::move(handler);
    items.push_back(item);
    return item;
}

void FakeMenu::addSeparator() {
    auto item = std::make_shared<FakeMenuItem>();
    item->separator = true;
    items.push_back(item);
}

platform::Menu& FakeMenu::addSubmenu(const std::string& title) {
    log_.add("menu.addSubmenu(" + title + ")");
    submenus.push_back(std::make_unique<FakeMenu>(log_, title));
    return *submenus.back();
}

FakeMenuItem* FakeMenu::findAction(const std::string& action) {
    for (const auto& item : items)
        if (!item->separator && item->command.action == action) return item.get();
    for (const auto& submenu : submenus)
        if (auto* item = submenu->findAction(action)) return item;
    return nullptr;
}

void FakeMenu::choose(const std::string& action) {
    if (auto* item = findAction(action); item && item->handler) item->handler();
}

void FakeApplication::setActivationPolicy(platform::ActivationPolicy p) {
    policy = p;
    log_.add("application.setActivationPolicy(" + policyName(p) + ")");
}

void FakeApplication::activateIgnoringOtherApps() { log_.add("application.activate"); }

void FakeApplication::terminate() {
    log_.add("application.terminate");
    if (delegate && delegate->applicationShouldTerminate() == platform::TerminateReply::Now) terminated = true;
}

bool FakeApplication::currentLaunchIsLoginItem() {
    log_.add("application.currentLaunchIsLoginItem");
    return loginItemLaunch;
}

void FakeApplication::installQuitEventHandler() { log_.add("application.installQuitEventHandler"); }

std::unique_ptr<platform::ActivityToken> FakeApplication::beginBackgroundActivity(const std::string& reason) {
    log_.add("application.beginBackgroundActivity(" + reason + ")");
    return std::make_unique<platform::ActivityToken>();
}

std::unique_ptr<platform::Menu> FakeApplication::makeMainMenu() {
    log_.add("application.makeMainMenu");
    return std::make_unique<FakeMenu>(log_);
}

void FakeApplication::setMainMenu(std::unique_ptr<platform::Menu> menu) {
    log_.add("application.setMainMenu");
    mainMenu.reset(static_cast<FakeMenu*>(menu.release()));
}

std::optional<std::vector<std::string>> FakeUserDefaults::stringArray(const std::string& key) const {
    const auto it = values.find(key);
    if (it == values.end()) return std::nullopt;
    if (const auto* array = std::get_if<std::vector<std::string>>(&it->second)) return *array;
    return std::nullopt;
}

std::optional<std::string> FakeUserDefaults::string(const std::string& key) const {
    const auto it = values.find(key);
    if (it == values.end()) return std::nullopt;
    if (const auto* text = std::get_if<std::string>(&it->second)) return *text;
    return std::nullopt;
}

bool FakeUserDefaults::boolean(const std::string& key) const {
    const auto it = values.find(key);
    if (it == values.end()) return false;
    const auto* flag = std::get_if<bool>(&it->second);
    return flag && *flag;
}

void FakeUserDefaults::setStringArray(const std::string& key, const std::vector<std::string>& value) {
    log_.add("defaults.set(" + key + ")");
    values[key] = value;
    ++writes;
}

void FakeUserDefaults::setString(const std::string& key, const std::string& value) {
    log_.add("defaults.set(" + key + ")");
    values[key] = value;
    ++writes;
}

void FakeUserDefaults::setBoolean(const std::string& key, bool value) {
    log_.add("defaults.set(" + key + ")");
    values[key] = value;
    ++writes;
}

std::optional<std::string> FakeBundle::infoString(const std::string& key) const {
    const auto it = info.find(key);
    if (it == info.end()) return std::nullopt;
    return it->second;
}

std::optional<std::vector<std::uint8_t>> FakeFiles::read(const std::string& path) const {
    const auto it = contents.find(path);
    if (it == contents.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> FakeProcesses::launch(const std::string& executable,
                                                 const std::vector<std::string>& arguments) {
    log_.add("processes.launch(" + executable + ")");
    if (launchError) return launchError;
    std::vector<std::string> line{executable};
    line.insert(line.end(), arguments.begin(), arguments.end());
    launched.push_back(line);
    return std::nullopt;
}

bool FakeWorkspace::openUrl(const foundation::Url& url) {
    log_.add("workspace.openUrl(" + url.string() + ")");
    opened.push_back(url.string());
    return succeeds;
}

namespace {
class FakeLoginService final : public platform::LoginService {
public:
    FakeLoginService(CallLog& log, std::string name, FakeLoginItems::Service& state)
        : log_(log), name_(std::move(name)), state_(state) {}
    platform::LoginServiceStatus status() const override { return state_.status; }
    std::optional<std::string> registerService() override {
        log_.add(name_ + ".register");
        if (state_.registerError) return state_.registerError;
        state_.status = state_.statusAfterRegister;
        return std::nullopt;
    }
    std::optional<std::string> unregisterService() override {
        log_.add(name_ + ".unregister");
        if (state_.unregisterError) return state_.unregisterError;
        state_.status = platform::LoginServiceStatus::NotRegistered;
        return std::nullopt;
    }

private:
    CallLog& log_;
    std::string name_;
    FakeLoginItems::Service& state_;
};
}  // namespace

std::unique_ptr<platform::LoginService> FakeLoginItems::agentService(const std::string& plistName) {
    log_.add("loginItems.agentService(" + plistName + ")");
    return std::make_unique<FakeLoginService>(log_, "agent", agent);
}

std::unique_ptr<platform::LoginService> FakeLoginItems::mainAppService() {
    return std::make_unique<FakeLoginService>(log_, "mainApp", mainApp);
}

void FakeLoginItems::openSystemSettingsLoginItems() {
    log_.add("loginItems.openSystemSettings");
    ++settingsOpened;
}

void FakeNotificationCenter::setDelegate(platform::NotificationCenterDelegate* d) {
    log_.add("notifications.setDelegate");
    delegate = d;
}

void FakeNotificationCenter::requestAuthorization(std::function<void(bool)> done) {
    log_.add("notifications.requestAuthorization");
    done(true);
}

void FakeNotificationCenter::add(platform::NotificationRequest request,
                                 std::function<void(std::optional<std::string>)> done) {
    log_.add("notifications.add(" + request.identifier + ")");
    added.push_back(request);
    if (!refusal) {
        std::erase_if(shown, [&](const auto& r) { return r.identifier == request.identifier; });
        shown.push_back(request);
    }
    if (done) done(refusal);
}

void FakeNotificationCenter::delivered(std::function<void(std::vector<platform::NotificationRequest>)> done) {
    log_.add("notifications.delivered");
    if (holdDeliveredAnswers) {
        heldDelivered.push_back(std::move(done));
    } else {
        done(shown);
    }
}

void FakeNotificationCenter::answerDelivered() {
    auto held = std::move(heldDelivered);
    heldDelivered.clear();
    for (auto& done : held) done(shown);
}

void FakeNotificationCenter::removeDelivered(const std::vector<std::string>& identifiers) {
    log_.add("notifications.removeDelivered");
    removals.push_back(identifiers);
    std::erase_if(shown,
                  [&](const auto& r) { return std::ranges::find(identifiers, r.identifier) != identifiers.end(); });
}

bool FakeUpdater::automaticallyChecksForUpdates() const {
    log_.add("updater.automaticallyChecksForUpdates");
    return automatic;
}
void FakeUpdater::checkForUpdatesInBackground() { log_.add("updater.checkForUpdatesInBackground"); }
void FakeUpdater::checkForUpdates() { log_.add("updater.checkForUpdates"); }

std::unique_ptr<platform::Updater> FakeUpdaterFactory::makeUpdater(platform::UpdaterDelegate& d) {
    log_.add("updaters.makeUpdater");
    delegate = &d;
    return std::make_unique<FakeUpdater>(log_, automatic);
}

void FakePrintOperation::runModal(platform::Window&, std::function<void(bool)> done) {
    log_.add("print.runModal(" + what + ")");
    // Printing ends at once in the fake: the answer of the dialog is "printed".
    done(true);
}

void FakeWebView::setNavigationDelegate(platform::NavigationDelegate* d) {
    log_.add("web.setNavigationDelegate");
    navigationDelegate = d;
}

void FakeWebView::setUIDelegate(platform::UIDelegate* d) {
    log_.add("web.setUIDelegate");
    uiDelegate = d;
}

void FakeWebView::load(const foundation::Url& url) {
    log_.add("web.load(" + url.string() + ")");
    loads.push_back(url.string());
    currentUrl = url;
}

void FakeWebView::reload() {
    log_.add("web.reload");
    ++reloads;
}

void FakeWebView::callAsyncJavaScript(const std::string& body, std::function<void(platform::ScriptResult)> done) {
    log_.add("web.callAsyncJavaScript");
    scripts.push_back({body, std::move(done)});
}

void FakeWebView::evaluateJavaScript(const std::string& source) {
    log_.add("web.evaluateJavaScript(" + source + ")");
    evaluated.push_back(source);
}

std::unique_ptr<platform::PrintOperation> FakeWebView::printOperation() {
    return std::make_unique<FakePrintOperation>(log_, "page");
}

void FakeWebView::showPage(const std::string& text) { currentUrl = foundation::Url::parse(text); }

void FakeWindow::setContentView(platform::WebView& view) {
    log_.add("window.setContentView");
    content = &view;
}
void FakeWindow::setReleasedWhenClosed(bool released) {
    log_.add(std::string("window.setReleasedWhenClosed(") + (released ? "true" : "false") + ")");
    releasedWhenClosed = released;
}
void FakeWindow::center() { log_.add("window.center"); }
void FakeWindow::makeKeyAndOrderFront() {
    log_.add("window.makeKeyAndOrderFront");
    visible = true;
}
void FakeWindow::orderOut() {
    log_.add("window.orderOut");
    visible = false;
}

std::unique_ptr<platform::WebView> FakeViews::makeWebView(const platform::WebViewConfiguration& configuration) {
    log_.add("views.makeWebView");
    auto view = std::make_unique<FakeWebView>(log_, configuration);
    web = view.get();
    return view;
}

std::unique_ptr<platform::Window> FakeViews::makeWindow(int width, int height, const std::string& title) {
    log_.add("views.makeWindow(" + std::to_string(width) + "x" + std::to_string(height) + ", " + title + ")");
    auto made = std::make_unique<FakeWindow>(log_);
    made->width = width;
    made->height = height;
    made->title = title;
    window = made.get();
    return made;
}

void FakePanels::beginAlert(platform::Window&, const platform::AlertSpec& alert,
                            std::function<void(platform::AlertResult)> done) {
    log_.add("panels.beginAlert(" + alert.messageText + ")");
    alerts.push_back(alert);
    pendingAlert = std::move(done);
}

void FakePanels::runModalAlert(const platform::AlertSpec& alert) {
    log_.add("panels.runModalAlert(" + alert.messageText + ")");
    modalAlerts.push_back(alert);
}

void FakePanels::beginOpenPanel(platform::Window&, bool multiple, bool directories,
                                std::function<void(std::optional<std::vector<std::string>>)> done) {
    log_.add("panels.beginOpenPanel");
    lastOpenMultiple = multiple;
    lastOpenDirectories = directories;
    pendingOpen = std::move(done);
}

void FakePanels::beginSavePanel(platform::Window&, const std::string& suggestedName,
                                std::function<void(std::optional<std::string>)> done) {
    log_.add("panels.beginSavePanel(" + suggestedName + ")");
    lastSuggestedName = suggestedName;
    pendingSave = std::move(done);
}

void FakePanels::showAboutPanel() { log_.add("panels.showAboutPanel"); }

std::unique_ptr<platform::PrintOperation> FakePrinting::pdfPrintOperation(const std::vector<std::uint8_t>& bytes) {
    documents.push_back(bytes);
    const bool looksLikePdf =
        bytes.size() >= 4 && bytes[0] == '%' && bytes[1] == 'P' && bytes[2] == 'D' && bytes[3] == 'F';
    if (!opensAsPdf || !looksLikePdf) return nullptr;
    return std::make_unique<FakePrintOperation>(log_, "pdf");
}

}  // namespace fakes
