// The application port on GtkApplication.
#pragma once

#include "platform/application.h"
#include "platform/gtk/context.h"

namespace gtk {

class GtkApplicationAdapter final : public platform::Application {
public:
    explicit GtkApplicationAdapter(Context& context) : context_(context) {}

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
    Context& context_;
    std::unique_ptr<platform::Menu> mainMenu_;
};

}  // namespace gtk
