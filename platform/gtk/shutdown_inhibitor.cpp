#include "platform/gtk/shutdown_inhibitor.h"

#include <unistd.h>

#include <utility>

namespace gtk {

namespace {

constexpr const char* kLogindName = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kManagerInterface = "org.freedesktop.login1.Manager";

}  // namespace

ShutdownInhibitor::ShutdownInhibitor(GDBusConnection* systemBus, std::function<void()> onShutdown)
    : onShutdown_(std::move(onShutdown)) {
    if (!systemBus) return;
    bus_ = G_DBUS_CONNECTION(g_object_ref(systemBus));
    cancellable_ = g_cancellable_new();
    // Only logind may announce a shutdown: GDBus follows the owner of its well-known name.
    subscription_ =
        g_dbus_connection_signal_subscribe(bus_, kLogindName, kManagerInterface, "PrepareForShutdown", kLogindPath,
                                           nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onPrepareForShutdown, this, nullptr);
    inhibit();
}

ShutdownInhibitor::~ShutdownInhibitor() {
    if (subscription_) g_dbus_connection_signal_unsubscribe(bus_, subscription_);
    // A cancelled call still reports back later; onInhibited sees the cancellation first and
    // does not touch the object, which is gone by then.
    if (cancellable_) {
        g_cancellable_cancel(cancellable_);
        g_object_unref(cancellable_);
    }
    release();
    if (bus_) g_object_unref(bus_);
}

void ShutdownInhibitor::inhibit() {
    if (inhibiting_ || holdsInhibitor()) return;
    inhibiting_ = true;
    // Not started on demand: without a running logind there is no shutdown to wait for. A delay
    // inhibitor holds the shutdown up only until it is released, at most logind's InhibitDelayMaxSec.
    g_dbus_connection_call_with_unix_fd_list(
        bus_, kLogindName, kLogindPath, kManagerInterface, "Inhibit",
        g_variant_new("(ssss)", "shutdown", "Velmóra", "Fermeture propre", "delay"), G_VARIANT_TYPE("(h)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, cancellable_, onInhibited, this);
}

void ShutdownInhibitor::release() {
    if (inhibitor_ < 0) return;
    // Closing our copy of the descriptor is what tells logind that we are ready.
    close(inhibitor_);
    inhibitor_ = -1;
}

void ShutdownInhibitor::onInhibited(GObject* source, GAsyncResult* result, gpointer data) {
    g_autoptr(GUnixFDList) descriptors = nullptr;
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply =
        g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source), &descriptors, result, &error);
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
    auto* self = static_cast<ShutdownInhibitor*>(data);
    self->inhibiting_ = false;
    // Refused (by policy, or no logind): the shutdown then only waits for nobody, and the
    // announcement still reaches us if it comes.
    if (!reply || !descriptors) return;
    gint32 index = -1;
    g_variant_get(reply, "(h)", &index);
    self->inhibitor_ = g_unix_fd_list_get(descriptors, index, nullptr);
}

void ShutdownInhibitor::onPrepareForShutdown(GDBusConnection* /*bus*/, const char* /*sender*/, const char* /*path*/,
                                             const char* /*interface*/, const char* /*signal*/, GVariant* parameters,
                                             gpointer data) {
    auto* self = static_cast<ShutdownInhibitor*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) return;
    gboolean starting = FALSE;
    g_variant_get(parameters, "(b)", &starting);
    if (!starting) {
        // The shutdown was called off; be ready for the next one.
        self->inhibit();
        return;
    }
    if (self->onShutdown_) self->onShutdown_();
    self->release();
}

}  // namespace gtk
