// Services whose desktop side is not connected yet, and the workspace on GIO.
#pragma once

#include "platform/login_items.h"
#include "platform/notification_center.h"
#include "platform/printing.h"
#include "platform/updater.h"
#include "platform/workspace.h"

namespace gtk {

// Refuses every notification, so the controller reports that notifications need checking.
class NullNotificationCenter final : public platform::NotificationCenter {
public:
    void setDelegate(platform::NotificationCenterDelegate* delegate) override;
    void requestAuthorization(std::function<void(bool)> done) override;
    void add(platform::NotificationRequest request, std::function<void(std::optional<std::string>)> done) override;
    void delivered(std::function<void(std::vector<platform::NotificationRequest>)> done) override;
    void removeDelivered(const std::vector<std::string>& identifiers) override;
};

// Reports the login-start agent as not found; registering fails.
class NullLoginItems final : public platform::LoginItems {
public:
    std::unique_ptr<platform::LoginService> agentService(const std::string& plistName) override;
    std::unique_ptr<platform::LoginService> mainAppService() override;
    void openSystemSettingsLoginItems() override;
};

// An updater that never finds anything and does not check by itself.
class NullUpdaterFactory final : public platform::UpdaterFactory {
public:
    std::unique_ptr<platform::Updater> makeUpdater(platform::UpdaterDelegate& delegate) override;
};

// No PDF document opens: PDF print requests fall back to the page.
class NullPrinting final : public platform::Printing {
public:
    std::unique_ptr<platform::PrintOperation> pdfPrintOperation(const std::vector<std::uint8_t>& bytes) override;
};

// Opens URLs with the desktop's default handler for their scheme.
class GioWorkspace final : public platform::Workspace {
public:
    bool openUrl(const foundation::Url& url) override;
};

}  // namespace gtk
