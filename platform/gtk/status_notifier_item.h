// The status item port on the StatusNotifierItem protocol, which the trays of KDE Plasma, XFCE,
// Cinnamon, Budgie and GNOME's AppIndicator extension host.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/app_bundle.h"
#include "platform/gtk/context.h"
#include "platform/gtk/dbus_menu.h"
#include "platform/status_item.h"
#include "platform/system.h"

namespace gtk {

// An image of the icon as the protocol carries it: ARGB32 in network byte order, row by row.
struct IconPixmap {
    int width = 0, height = 0;
    std::vector<std::uint8_t> argb;
};

// What identifies the item and draws its icon.
struct StatusNotifierIdentity {
    std::string id;                   // the application's id, the same in every run
    std::string iconName;             // a name of the icon theme
    std::string iconThemePath;        // a folder holding the icon file itself, for hosts that look there
    std::vector<IconPixmap> pixmaps;  // for hosts that find the name in neither place
};

// One org.kde.StatusNotifierItem at /StatusNotifierItem, under a bus name of its own, with its
// menu at /StatusNotifierItem/Menu. It registers with the org.kde.StatusNotifierWatcher each time
// one appears on the bus (a tray that starts, or restarts, after the application); with no
// watcher it waits, silently. The hosts, which draw the icon, learn of it from the watcher.
// A process has one: the protocol fixes the item's object path.
class StatusNotifierItem final : public platform::StatusItem {
public:
    // Serves the item on `connection` (nullptr: nothing is served). `activated` runs when a host
    // activates the icon; the window that a host's activation token is for is the context's.
    StatusNotifierItem(Context& context, GDBusConnection* connection, StatusNotifierIdentity identity,
                       std::string title, std::function<void()> activated, platform::Log& log);
    ~StatusNotifierItem() override;
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    // StatusItem overrides:
    platform::Menu& menu() override { return menu_; }
    void setToolTip(const std::string& title, const std::string& text) override;

    // The bus name the item is registered under.
    const std::string& busName() const { return busName_; }

private:
    static void onMethodCall(GDBusConnection* connection, const char* sender, const char* path, const char* interface,
                             const char* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                             gpointer data);
    static GVariant* onGetProperty(GDBusConnection* connection, const char* sender, const char* path,
                                   const char* interface, const char* property, GError** error, gpointer data);
    static void onNameAcquired(GDBusConnection* connection, const char* name, gpointer data);
    static void onWatcherAppeared(GDBusConnection* connection, const char* name, const char* owner, gpointer data);
    static void onWatcherVanished(GDBusConnection* connection, const char* name, gpointer data);

    void handle(const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation);
    GVariant* property(const std::string& name) const;
    GVariant* toolTip() const;
    void registerWithWatcher();

    Context& context_;
    GDBusConnection* connection_;
    StatusNotifierIdentity identity_;
    std::string title_;
    std::function<void()> activated_;
    platform::Log& log_;
    std::string busName_;
    DBusMenu menu_;
    std::string toolTipTitle_, toolTipText_;

    guint registration_ = 0;
    guint nameOwnership_ = 0;
    guint watcherWatch_ = 0;
    bool nameOwned_ = false;
    std::string watcher_;  // the watcher's unique name; empty while there is none
    // Lets callbacks that outlive this object find out that it is gone.
    std::shared_ptr<StatusNotifierItem*> self_;
};

// Makes the application's status items, with its id and the bundle's icon.
class StatusNotifierItems final : public platform::StatusItems {
public:
    StatusNotifierItems(Context& context, GDBusConnection* connection, const AppBundle& bundle, platform::Log& log);
    ~StatusNotifierItems() override;
    StatusNotifierItems(const StatusNotifierItems&) = delete;
    StatusNotifierItems& operator=(const StatusNotifierItems&) = delete;

    // StatusItems overrides:
    std::unique_ptr<platform::StatusItem> makeStatusItem(const std::string& title,
                                                         std::function<void()> activated) override;

    // The application's identity, with the icon of `bundle` (one without path: no icon files).
    static StatusNotifierIdentity identityOf(const AppBundle& bundle);

private:
    Context& context_;
    GDBusConnection* connection_;
    StatusNotifierIdentity identity_;
    platform::Log& log_;
};

}  // namespace gtk
