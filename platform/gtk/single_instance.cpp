#include "platform/gtk/single_instance.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace gtk {

InstanceLock::InstanceLock(std::string path) : path_(std::move(path)) {}

InstanceLock::~InstanceLock() {
    if (descriptor_ >= 0) close(descriptor_);
}

std::string InstanceLock::defaultPath(const std::string& applicationId) {
    const std::string name = applicationId + ".lock";
    g_autofree char* path = g_build_filename(g_get_user_runtime_dir(), name.c_str(), nullptr);
    return path;
}

bool InstanceLock::acquire() {
    if (descriptor_ >= 0) return true;
    g_autofree char* folder = g_path_get_dirname(path_.c_str());
    g_mkdir_with_parents(folder, 0700);
    // Close-on-exec, so that no web process or helper started later keeps the lock after we end.
    const int descriptor = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) return true;
    int locked = 0;
    do {
        locked = flock(descriptor, LOCK_EX | LOCK_NB);
    } while (locked < 0 && errno == EINTR);
    if (locked < 0) {
        const bool heldElsewhere = errno == EWOULDBLOCK;
        close(descriptor);
        return !heldElsewhere;
    }
    // The lock lives as long as this descriptor, that is until the process ends.
    descriptor_ = descriptor;
    return true;
}

bool instanceRunsOnSessionBus(const std::string& applicationId) {
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return false;
    g_autoptr(GVariant) reply =
        g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                    "NameHasOwner", g_variant_new("(s)", applicationId.c_str()), G_VARIANT_TYPE("(b)"),
                                    G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    gboolean owned = FALSE;
    if (reply) g_variant_get(reply, "(b)", &owned);
    return owned;
}

}  // namespace gtk
