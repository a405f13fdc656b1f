// The application as a client of the GNOME session manager, so that the end of the session
// reaches it as a quit with a reason.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>

namespace gtk {

// The start id the session manager gave this process in DESKTOP_AUTOSTART_ID, "" when it gave none.
std::string sessionStartId();

// Registers with org.gnome.SessionManager and answers its end-of-session protocol: a query is
// agreed to at once, the end of the session (or the manager's request to stop) runs
// `onEndOfSession`. GtkApplication's own "register-session" client is not used because it quits
// the main loop itself at the end of the session, so the application's delegate would never learn
// why the process ends.
class SessionManagerClient {
public:
    // Registers `applicationId` with the session start id `startupId` ("" when the session did
    // not start this process) when, and only when, the session manager's name has an owner on
    // `bus`; otherwise the client does nothing. The callback runs on the main loop.
    SessionManagerClient(GDBusConnection* bus, const std::string& applicationId, const std::string& startupId,
                         std::function<void()> onEndOfSession);
    // Stops listening; a registration still under way is abandoned.
    ~SessionManagerClient();
    SessionManagerClient(const SessionManagerClient&) = delete;
    SessionManagerClient& operator=(const SessionManagerClient&) = delete;
    SessionManagerClient(SessionManagerClient&&) = delete;
    SessionManagerClient& operator=(SessionManagerClient&&) = delete;

    // Whether the session manager has accepted the registration.
    bool registered() const { return !clientPath_.empty(); }

private:
    static void onRegistered(GObject* source, GAsyncResult* result, gpointer data);
    static void onClientSignal(GDBusConnection* bus, const char* sender, const char* path, const char* interface,
                               const char* signal, GVariant* parameters, gpointer data);
    void answerEndOfSession();

    GDBusConnection* bus_ = nullptr;
    GCancellable* cancellable_ = nullptr;
    std::function<void()> onEndOfSession_;
    std::string clientPath_;
    guint subscription_ = 0;
};

}  // namespace gtk
