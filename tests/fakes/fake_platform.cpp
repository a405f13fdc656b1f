#include "tests/fakes/fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace fakes {

std::shared_ptr<platform::Timer> FakeTimers::schedule(double seconds, bool repeats, std::function<void()> fire) {
    char interval[32];
    std::snprintf(interval, sizeof interval, "%g", seconds);  // "2", "0.5"
    log_.add(std::string(repeats ? "timers.scheduleRepeating(" : "timers.scheduleOneShot(") + interval + ")");
    return timers.emplace_back(std::make_shared<FakeTimer>(seconds, repeats, clock_.now() + seconds, std::move(fire)));
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
    return items.emplace_back(item);
}

FakeMenuItem* FakeMenu::findAction(const std::string& action) {
    for (const auto& item : items)
        if (!item->separator && item->command.action == action) return item.get();
    for (const auto& submenu : submenus)
        if (auto* item = submenu->findAction(action)) return item;
    return nullptr;
}

namespace {
// A login service whose state lives in the FakeLoginItems, so that every service object the
// controller asks for sees the same registration.
class FakeLoginService final : public platform::LoginService, Logging {
public:
    FakeLoginService(CallLog& log, std::string name, FakeLoginItems::Service& state)
        : Logging(log), name_(std::move(name)), state_(state) {}
    platform::LoginServiceStatus status() const override { return state_.status; }
    std::optional<std::string> registerService() override {
        log_.add(name_ + ".register");
        if (!state_.registerError) state_.status = state_.statusAfterRegister;
        return state_.registerError;
    }
    std::optional<std::string> unregisterService() override {
        log_.add(name_ + ".unregister");
        if (!state_.unregisterError) state_.status = platform::LoginServiceStatus::NotRegistered;
        return state_.unregisterError;
    }

private:
    std::string name_;
    FakeLoginItems::Service& state_;
};

// An updater that checks automatically.
class FakeUpdater final : public platform::Updater, Logging {
public:
    using Logging::Logging;
    bool automaticallyChecksForUpdates() const override {
        log_.add("updater.automaticallyChecksForUpdates");
        return true;
    }
    void checkForUpdatesInBackground() override { log_.add("updater.checkForUpdatesInBackground"); }
    void checkForUpdates() override { log_.add("updater.checkForUpdates"); }
};

// Printing ends at once in the fake.
class FakePrintOperation final : public platform::PrintOperation, Logging {
public:
    FakePrintOperation(CallLog& log, std::string what, platform::PrintResult result)
        : Logging(log), what_(std::move(what)), result_(result) {}
    void setShowsPrintPanel(bool) override {}
    void setShowsProgressPanel(bool) override {}
    void runModal(platform::Window&, std::function<void(platform::PrintResult)> done) override {
        log_.add("print.runModal(" + what_ + ")");
        done(result_);
    }

private:
    std::string what_;
    platform::PrintResult result_;
};
}  // namespace

std::unique_ptr<platform::LoginService> FakeLoginItems::agentService(const std::string& plistName) {
    log_.add("loginItems.agentService(" + plistName + ")");
    return std::make_unique<FakeLoginService>(log_, "agent", agent);
}

std::unique_ptr<platform::LoginService> FakeLoginItems::mainAppService() {
    return std::make_unique<FakeLoginService>(log_, "mainApp", mainApp);
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
        held_.push_back(std::move(done));
    } else {
        done(shown);
    }
}

void FakeNotificationCenter::answerDelivered() {
    for (auto& done : std::exchange(held_, {})) done(shown);
}

void FakeNotificationCenter::removeDelivered(const std::vector<std::string>& identifiers) {
    log_.add("notifications.removeDelivered");
    removals.push_back(identifiers);
    std::erase_if(shown,
                  [&](const auto& r) { return std::ranges::find(identifiers, r.identifier) != identifiers.end(); });
}

std::unique_ptr<platform::Updater> FakeUpdaterFactory::makeUpdater(platform::UpdaterDelegate& d) {
    log_.add("updaters.makeUpdater");
    delegate = &d;
    return std::make_unique<FakeUpdater>(log_);
}

std::unique_ptr<platform::PrintOperation> FakeWebView::printOperation() {
    // Printed, the engine having sent the page its own "afterprint".
    return std::make_unique<FakePrintOperation>(log_, "page", platform::PrintResult{true, true});
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
    window = made.get();
    return made;
}

void FakePrinting::openPdf(std::vector<std::uint8_t> bytes,
                           std::function<void(std::unique_ptr<platform::PrintOperation>)> done) {
    log_.add("printing.openPdf(" + std::to_string(bytes.size()) + " bytes)");
    if (!std::string(bytes.begin(), bytes.end()).starts_with("%PDF")) {
        done(nullptr);
        return;
    }
    done(std::make_unique<FakePrintOperation>(log_, "pdf", platform::PrintResult{true, false}));
}

}  // namespace fakes
