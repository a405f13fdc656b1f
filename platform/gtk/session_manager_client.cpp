#include "platform/gtk/session_manager_client.h"

#include <cstring>
#include <utility>

namespace gtk {

namespace {

constexpr const char* kManagerName = "org.gnome.SessionManager";
constexpr const char* kManagerPath = "/org/gnome/SessionManager";
constexpr const char* kManagerInterface = "org.gnome.SessionManager";
constexpr const char* kClientInterface = "org.gnome.SessionManager.ClientPrivate";

// Asked of the bus daemon itself, which always answers at once, so the launch does not wait on
// the session manager. Calling the manager's name without an owner could start one on a bus with
// service files, which is not ours to do.
bool nameHasOwner(GDBusConnection* bus, const char* name) {
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    gboolean owned = FALSE;
    if (reply) g_variant_get(reply, "(b)", &owned);
    return owned;
}

}  // namespace

std::string sessionStartId() {
    // GTK 4 takes DESKTOP_AUTOSTART_ID out of the environment in a constructor of its library,
    // before main runs, and keeps the value to itself (gdk.c, stash_and_unset_environment); the
    // kernel still shows the environment the process was started with. Read the variable again
    // once GTK offers the id publicly.
    constexpr const char* kPrefix = "DESKTOP_AUTOSTART_ID=";
    g_autofree char* block = nullptr;
    gsize length = 0;
    if (!g_file_get_contents("/proc/self/environ", &block, &length, nullptr)) {
        const char* value = g_getenv("DESKTOP_AUTOSTART_ID");
        return value ? value : "";
    }
    for (const char* entry = block; entry < block + length; entry += std::strlen(entry) + 1) {
        if (g_str_has_prefix(entry, kPrefix)) return entry + std::strlen(kPrefix);
    }
    return "";
}

SessionManagerClient::SessionManagerClient(GDBusConnection* bus, const std::string& applicationId,
                                           const std::string& startupId, std::function<void()> onEndOfSession)
    : onEndOfSession_(std::move(onEndOfSession)) {
    if (!bus || !nameHasOwner(bus, kManagerName)) return;
    bus_ = G_DBUS_CONNECTION(g_object_ref(bus));
    cancellable_ = g_cancellable_new();
    // Only the manager may end the session: GDBus follows the owner of the well-known name, so
    // another client sending the same signals is not heard. Listening starts before registering
    // so that GDBus knows that owner by the time the manager has a reason to speak.
    subscription_ = g_dbus_connection_signal_subscribe(bus_, kManagerName, kClientInterface, nullptr, nullptr, nullptr,
                                                       G_DBUS_SIGNAL_FLAGS_NONE, onClientSignal, this, nullptr);
    g_dbus_connection_call(bus_, kManagerName, kManagerPath, kManagerInterface, "RegisterClient",
                           g_variant_new("(ss)", applicationId.c_str(), startupId.c_str()), G_VARIANT_TYPE("(o)"),
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, cancellable_, onRegistered, this);
}

SessionManagerClient::~SessionManagerClient() {
    if (subscription_) g_dbus_connection_signal_unsubscribe(bus_, subscription_);
    // The cancelled call still reports back, later; onRegistered then sees the cancellation
    // before it looks at the client, which is gone by then.
    if (cancellable_) {
        g_cancellable_cancel(cancellable_);
        g_object_unref(cancellable_);
    }
    if (bus_) g_object_unref(bus_);
}

void SessionManagerClient::onRegistered(GObject* source, GAsyncResult* result, gpointer data) {
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
    // A manager that refuses the client leaves the application to end with the session's signals.
    if (!reply) return;
    auto* self = static_cast<SessionManagerClient*>(data);
    const char* path = nullptr;
    g_variant_get(reply, "(&o)", &path);
    self->clientPath_ = path;
}

void SessionManagerClient::onClientSignal(GDBusConnection* /*bus*/, const char* /*sender*/, const char* path,
                                          const char* /*interface*/, const char* signal, GVariant* /*parameters*/,
                                          gpointer data) {
    auto* self = static_cast<SessionManagerClient*>(data);
    // The manager speaks to each client on its own object; before the registration is answered
    // none of them is ours.
    if (!self->registered() || self->clientPath_ != path) return;
    const std::string name(signal);
    if (name == "QueryEndSession") {
        // The application keeps nothing that a log out could lose, so it never holds one up.
        self->answerEndOfSession();
    } else if (name == "EndSession") {
        // The answer is queued before the application is told: ending may not return here
        // (from inside a modal alert the process ends on the spot, after flushing the bus).
        self->answerEndOfSession();
        if (self->onEndOfSession_) self->onEndOfSession_();
    } else if (name == "Stop") {
        if (self->onEndOfSession_) self->onEndOfSession_();
    }
    // CancelEndSession needs nothing: the application did not prepare anything for the end.
}

void SessionManagerClient::answerEndOfSession() {
    g_dbus_connection_call(bus_, kManagerName, clientPath_.c_str(), kClientInterface, "EndSessionResponse",
                           g_variant_new("(bs)", TRUE, ""), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr,
                           nullptr, nullptr);
}

}  // namespace gtk
