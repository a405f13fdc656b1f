// The desktop's notification centre: a server of org.freedesktop.Notifications on the session bus.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/gtk/app_bundle.h"
#include "platform/gtk/context.h"
#include "platform/gtk/glib_timers.h"
#include "platform/gtk/notification_ledger.h"
#include "platform/notification_center.h"

namespace gtk {

// Posts, lists and withdraws this application's notifications through the server that owns
// org.freedesktop.Notifications, and hands clicks on them to the delegate. The protocol has no
// way to list notifications, so a ledger keeps what was shown: the server's id of each
// identifier, for replacing and closing, and its content, for listing and for clicks. One
// connection posts and receives the signals, since some servers send them to the poster only.
class DBusNotificationCenter final : public platform::NotificationCenter {
public:
    struct Settings {
        std::string ledgerPath;  // where the ledger is kept across runs
        std::string soundFile;   // the chime; empty: notifications stay silent
        // Plays the chime here when the server cannot play sound files; GStreamer when empty.
        std::function<void(const std::string& soundFile)> playSound;
    };

    // Works on `connection` (a message bus connection; nullptr: there is no session bus, and
    // every notification is refused). The window to present on a click is the context's.
    DBusNotificationCenter(Context& context, GDBusConnection* connection, Settings settings);
    ~DBusNotificationCenter() override;

    // The application's settings: the ledger in the user's state folder, the bundle's chime.
    static Settings settingsFor(const AppBundle& bundle);

    DBusNotificationCenter(const DBusNotificationCenter&) = delete;
    DBusNotificationCenter& operator=(const DBusNotificationCenter&) = delete;
    DBusNotificationCenter(DBusNotificationCenter&&) = delete;
    DBusNotificationCenter& operator=(DBusNotificationCenter&&) = delete;

    // Makes `delegate` receive the clicks on this application's notifications.
    void setDelegate(platform::NotificationCenterDelegate* delegate) override;
    // Grants at once: the desktop asks no permission to show notifications.
    void requestAuthorization(std::function<void(bool granted)> done) override;
    // Posts the request, after its delay; `done` runs on the main loop with an error text when
    // there is no server or the server refused it.
    void add(platform::NotificationRequest request,
             std::function<void(std::optional<std::string> error)> done) override;
    // Lists the notifications of the ledger, once it is known which server shows them.
    void delivered(std::function<void(std::vector<platform::NotificationRequest>)> done) override;
    // Closes the delivered notifications with these identifiers; unknown ones are ignored.
    void removeDelivered(const std::vector<std::string>& identifiers) override;

private:
    // One operation of the queue; it calls finished() once, at once or when its answer came.
    using Step = std::function<void()>;
    using Reply = std::function<void(GDBusMessage* reply, const GError* error)>;

    static void onNameAppeared(GDBusConnection* connection, const char* name, const char* owner, gpointer data);
    static void onNameVanished(GDBusConnection* connection, const char* name, gpointer data);
    static void onSignal(GDBusConnection* connection, const char* sender, const char* path, const char* interface,
                         const char* signal, GVariant* parameters, gpointer data);

    void ownerChanged(const std::string& owner);
    void takeOver();
    void takeOverNext(const std::vector<std::string>& identifiers, std::size_t next);
    void withCapabilities(const std::function<void(std::optional<std::string> error)>& then);
    void enqueue(Step step);
    void pump();
    void finished();
    void post(const platform::NotificationRequest& request,
              const std::function<void(std::optional<std::string>)>& done);
    void notify(const platform::NotificationRequest& request,
                const std::function<void(std::optional<std::string>)>& done);
    GVariant* notifyArguments(const platform::NotificationRequest& request) const;
    void closed(const std::string& sender, std::uint32_t serverId);
    void actionInvoked(const std::string& sender, std::uint32_t serverId, const std::string& action);
    void activationToken(const std::string& sender, std::uint32_t serverId, const std::string& token);
    void call(const char* method, GVariant* body, Reply onReply);

    Context& context_;
    GDBusConnection* connection_;
    Settings settings_;
    NotificationLedger ledger_;
    platform::NotificationCenterDelegate* delegate_ = nullptr;
    GLibTimers timers_;
    std::vector<std::shared_ptr<platform::Timer>> delays_;
    GCancellable* cancellable_;
    // Lets callbacks that outlive this object find out that it is gone.
    std::shared_ptr<DBusNotificationCenter*> self_;

    guint nameWatch_ = 0;
    guint subscription_ = 0;
    // Whether the first answer about the server's name has come; until then the ledger may
    // still hold the notifications of a server that is gone, and the queue waits.
    bool ownerKnown_ = false;
    std::string owner_;  // the server's unique name; empty while there is none

    // The server's capabilities, asked once and again for each new server.
    std::optional<std::set<std::string>> capabilities_;
    std::string capabilitiesServer_;

    // Every operation in order, one at a time, so that a repost knows the id its predecessor
    // got and a list or a removal sees every post requested before it.
    std::deque<Step> queue_;
    bool busy_ = false;
    bool pumping_ = false;

    // Tokens the server sent for presenting the window, by the server's notification id.
    std::map<std::uint32_t, std::string> activationTokens_;
};

}  // namespace gtk
