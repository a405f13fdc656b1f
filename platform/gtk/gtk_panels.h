// The application's dialogs on GTK.
#pragma once

#include <string>

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
    void showAboutPanel(const platform::AboutPanel& about) override;

private:
    // The folder the next save dialog opens in.
    std::string saveFolder() const;

    Context& context_;
    // The folder of the file last saved through a save dialog in this run; empty before the first.
    std::string lastSaveFolder_;
};

}  // namespace gtk
