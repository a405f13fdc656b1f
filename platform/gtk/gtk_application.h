// The application port on GtkApplication.
#pragma once

#include <string>

#include "platform/application.h"
#include "platform/gtk/context.h"
#include "platform/gtk/session_manager_client.h"
#include "platform/gtk/shutdown_inhibitor.h"

namespace gtk {

class GtkApplicationAdapter final : public platform::Application {
public:
    // Reads the session manager's start id for this process, for registering with it later.
    explicit GtkApplicationAdapter(Context& context);

    // Application overrides:
    void setDelegate(platform::ApplicationDelegate* delegate) override;
    void setActivationPolicy(platform::ActivationPolicy policy) override;
    void activateIgnoringOtherApps() override;
    void terminate() override;
    bool currentLaunchIsLoginItem() override;
    void installQuitEventHandler() override;
    std::unique_ptr<platform::ActivityToken> beginBackgroundActivity(const std::string& reason) override;
    std::unique_ptr<platform::Menu> makeMainMenu() override;
    void setMainMenu(std::unique_ptr<platform::Menu> menu) override;

private:
    // A quit with a reason: the session ends or the machine shuts down.
    void systemQuit() const;

    Context& context_;
    std::unique_ptr<platform::Menu> mainMenu_;
    std::string startupId_;
    std::unique_ptr<SessionManagerClient> sessionClient_;
    std::unique_ptr<ShutdownInhibitor> shutdownInhibitor_;
};

}  // namespace gtk
