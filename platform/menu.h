// Menus of the application's menu bar.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

// One item of a menu; its title and check state may change while the application runs.
class MenuItem {
public:
    virtual ~MenuItem() = default;
    // Replaces the title shown for the item.
    virtual void setTitle(const std::string& title) = 0;
    // The title shown for the item.
    virtual std::string title() const = 0;
    // Shows or hides the item's check mark.
    virtual void setChecked(bool checked) = 0;
};

// What an item is: its title, its action (a selector name such as "reload" or "copy:";
// empty for an item without action, which is shown insensitive) and its key equivalent
// (a lower-case letter used with the platform's command modifier, or empty).
struct MenuCommand {
    std::string title;
    std::string action;
    std::string keyEquivalent;
};

class Menu {
public:
    virtual ~Menu() = default;
    // Appends an item. `handler` runs on the main loop when the item is chosen; an empty
    // handler leaves the action to the platform's standard handling of that selector (the
    // editing commands "undo:", "cut:", "copy:", "paste:", "selectAll:" of the web view).
    virtual std::shared_ptr<MenuItem> addItem(const MenuCommand& command, std::function<void()> handler) = 0;
    // Appends a separator line.
    virtual void addSeparator() = 0;
    // Appends a top-level item with an empty title carrying a new submenu titled `title`, and
    // returns that submenu; it lives as long as this menu.
    virtual Menu& addSubmenu(const std::string& title) = 0;
};

}  // namespace platform
