// A menu served over D-Bus with the com.canonical.dbusmenu protocol: the tray's hosts draw it
// themselves and send back what the user chose.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/menu.h"

namespace gtk {

// The whole menu tree, its root being this menu. Every item has a number of its own, which the
// hosts use to name it; item 0 is the root. An item without handler is shown insensitive, a
// separator is an item of type "separator", a submenu is an item whose children are displayed
// as a submenu. Changes to the tree reach the hosts as one LayoutUpdated per turn of the main
// loop; new titles and check marks as ItemsPropertiesUpdated, at once.
class DBusMenu final : public platform::Menu {
public:
    // Serves the menu at `path` on `connection`; with nullptr, or when the path is taken, the
    // menu is only built, and served nowhere.
    DBusMenu(GDBusConnection* connection, std::string path);
    ~DBusMenu() override;
    DBusMenu(const DBusMenu&) = delete;
    DBusMenu& operator=(const DBusMenu&) = delete;

    // Menu overrides:
    std::shared_ptr<platform::MenuItem> addItem(const platform::MenuCommand& command,
                                                std::function<void()> handler) override;
    void addSeparator() override;
    platform::Menu& addSubmenu(const std::string& title) override;

    // The object path the menu is served at.
    const std::string& path() const { return path_; }

private:
    class Item;
    class Branch;
    struct Node {
        int parent = 0;
        std::string title;
        std::string keyEquivalent;
        std::function<void()> handler;
        bool separator = false;
        bool submenu = false;
        std::optional<bool> checked;  // nullopt: the item has no check mark to show
        std::vector<int> children;
    };

    static void onMethodCall(GDBusConnection* connection, const char* sender, const char* path, const char* interface,
                             const char* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                             gpointer data);
    static GVariant* onGetProperty(GDBusConnection* connection, const char* sender, const char* path,
                                   const char* interface, const char* property, GError** error, gpointer data);

    int append(int parent, Node node);
    void retitle(int id, const std::string& title);
    void check(int id, bool checked);
    void layoutChanged();
    void emitLayoutUpdated();
    void propertiesChanged(int id);

    void handle(const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation);
    GVariant* layout(int id, int depth, const std::vector<std::string>& names) const;
    GVariant* properties(int id, const std::vector<std::string>& names) const;
    void event(int id, const std::string& kind);

    GDBusConnection* connection_;
    std::string path_;
    guint registration_ = 0;
    guint layoutIdle_ = 0;
    unsigned revision_ = 1;
    int nextId_ = 1;
    std::map<int, Node> nodes_;
    std::vector<std::unique_ptr<Branch>> submenus_;
    // Lets items, idle callbacks and the bus find out that the menu is gone.
    std::shared_ptr<DBusMenu*> self_;
};

}  // namespace gtk
