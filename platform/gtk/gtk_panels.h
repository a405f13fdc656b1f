// The application's dialogs on GTK.
#pragma once

#include "platform/gtk/context.h"
#include "platform/panels.h"

namespace gtk {

class GtkPanels final : public platform::Panels {
public:
    explicit GtkPanels(Context& context) : context_(context) {}

    // Panels overrides:
    void beginAlert(platform::Window& window, const platform::AlertSpec& alert,
                    std::function<void(platform::AlertResult)> done) override;
    void runModalAlert(const platform::AlertSpec& alert) override;
    void beginOpenPanel(platform::Window& window, bool multiple, bool directories,
                        std::function<void(std::optional<std::vector<std::string>>)> done) override;
    void beginSavePanel(platform::Window& window, const std::string& suggestedName,
                        std::function<void(std::optional<std::string>)> done) override;
    void showAboutPanel() override;

private:
    Context& context_;
};

}  // namespace gtk
