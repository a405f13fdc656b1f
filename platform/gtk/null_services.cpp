#include "platform/gtk/null_services.h"

#include <gio/gio.h>

namespace gtk {

namespace {

class NullLoginService final : public platform::LoginService {
public:
    platform::LoginServiceStatus status() const override { return platform::LoginServiceStatus::NotFound; }
    std::optional<std::string> registerService() override { return "Démarrage automatique non pris en charge"; }
    std::optional<std::string> unregisterService() override { return std::nullopt; }
};

class NullUpdater final : public platform::Updater {
public:
    bool automaticallyChecksForUpdates() const override { return false; }
    void checkForUpdatesInBackground() override {}
    void checkForUpdates() override {}
};

}  // namespace

void NullNotificationCenter::setDelegate(platform::NotificationCenterDelegate*) {}

void NullNotificationCenter::requestAuthorization(std::function<void(bool)> done) { done(true); }

void NullNotificationCenter::add(platform::NotificationRequest, std::function<void(std::optional<std::string>)> done) {
    if (done) done(std::string("Aucun serveur de notifications"));
}

void NullNotificationCenter::delivered(std::function<void(std::vector<platform::NotificationRequest>)> done) {
    done({});
}

void NullNotificationCenter::removeDelivered(const std::vector<std::string>&) {}

std::unique_ptr<platform::LoginService> NullLoginItems::agentService(const std::string&) {
    return std::make_unique<NullLoginService>();
}

std::unique_ptr<platform::LoginService> NullLoginItems::mainAppService() {
    return std::make_unique<NullLoginService>();
}

void NullLoginItems::openSystemSettingsLoginItems() {}

std::unique_ptr<platform::Updater> NullUpdaterFactory::makeUpdater(platform::UpdaterDelegate&) {
    return std::make_unique<NullUpdater>();
}

std::unique_ptr<platform::PrintOperation> NullPrinting::pdfPrintOperation(const std::vector<std::uint8_t>&) {
    return nullptr;
}

bool GioWorkspace::openUrl(const foundation::Url& url) {
    GError* error = nullptr;
    const bool opened = g_app_info_launch_default_for_uri(url.string().c_str(), nullptr, &error);
    g_clear_error(&error);
    return opened;
}

}  // namespace gtk
