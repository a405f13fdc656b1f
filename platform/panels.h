// Dialogs of the application, modal on the main window.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Window;

struct AlertSpec {
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;  // empty: one default button
    // With a value, the alert carries a text field 320 wide prefilled with it.
    std::optional<std::string> textField;
};

// What the about panel shows beside the application's icon.
struct AboutPanel {
    std::string applicationName;
    std::string version;  // the version line as shown; empty for none
    std::string comments;
};

struct AlertResult {
    int button = -1;   // index of the chosen button (0 for the default one); -1 when closed without one
    std::string text;  // the text field's content when the alert had one
};

class Panels {
public:
    virtual ~Panels() = default;
    // Shows the alert modal on `window` and returns at once; `done` runs when it is closed.
    virtual void beginAlert(Window& window, const AlertSpec& alert, std::function<void(AlertResult)> done) = 0;
    // Shows the alert modal and returns when it is dismissed (used outside the page's flow).
    virtual void runModalAlert(const AlertSpec& alert) = 0;
    // Shows a file chooser modal on `window`; `done` gets the chosen paths, nullopt on cancel.
    virtual void beginOpenPanel(Window& window, bool multiple, bool directories,
                                std::function<void(std::optional<std::vector<std::string>>)> done) = 0;
    // Shows a save dialog prefilled with `suggestedName`; `done` gets the path, nullopt on cancel.
    virtual void beginSavePanel(Window& window, const std::string& suggestedName,
                                std::function<void(std::optional<std::string>)> done) = 0;
    // Shows the application's about panel with these texts.
    virtual void showAboutPanel(const AboutPanel& about) = 0;
};

}  // namespace platform
