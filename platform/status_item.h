// The application's icon in the desktop's tray, with a menu, where the desktop has a tray.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/menu.h"

namespace platform {

// The icon shown for as long as this object lives.
class StatusItem {
public:
    virtual ~StatusItem() = default;
    // The icon's menu, empty at first; items added or retitled at any time show at once, and an
    // item without handler is shown insensitive (the tray has no web view to send edits to).
    virtual Menu& menu() = 0;
    // Replaces the tooltip: `title` as its heading and `text`, plain text whose lines are split
    // by "\n", under it.
    virtual void setToolTip(const std::string& title, const std::string& text) = 0;
};

class StatusItems {
public:
    virtual ~StatusItems() = default;
    // Shows the application's icon, titled `title`, in the tray now and whenever a tray appears
    // later, until the item is destroyed; where there is no tray nothing shows and nothing
    // fails. `activated` runs on the main loop when the user activates the icon itself.
    virtual std::unique_ptr<StatusItem> makeStatusItem(const std::string& title, std::function<void()> activated) = 0;
};

}  // namespace platform
