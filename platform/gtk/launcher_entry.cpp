#include "platform/gtk/launcher_entry.h"

#include <algorithm>

#include "platform/gtk/callback_handle.h"

namespace gtk {

namespace {

constexpr const char* kInterface = "com.canonical.Unity.LauncherEntry";
constexpr const char* kDockName = "com.canonical.Unity";

using Handle = CallbackHandle<UnityLauncherEntry>;

// "fr.velmora.universal" gives "/fr/velmora/universal/LauncherEntry".
std::string pathOf(const std::string& applicationId) {
    std::string path = "/" + applicationId + "/LauncherEntry";
    std::ranges::replace(path, '.', '/');
    return path;
}

}  // namespace

UnityLauncherEntry::UnityLauncherEntry(GDBusConnection* connection, const std::string& applicationId)
    : connection_(connection ? G_DBUS_CONNECTION(g_object_ref(connection)) : nullptr),
      appUri_("application://" + applicationId + ".desktop"),
      path_(pathOf(applicationId)),
      self_(std::make_shared<UnityLauncherEntry*>(this)) {
    if (!connection_) return;
    dockWatch_ = g_bus_watch_name_on_connection(connection_, kDockName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                                &UnityLauncherEntry::onDockAppeared, nullptr, Handle::make(self_),
                                                Handle::release);
}

UnityLauncherEntry::~UnityLauncherEntry() {
    self_.reset();
    if (dockWatch_ != 0) g_bus_unwatch_name(dockWatch_);
    if (connection_) g_object_unref(connection_);
}

void UnityLauncherEntry::setBadge(std::optional<std::int64_t> count) {
    badge_ = count;
    send();
}

// A dock that has just come has no badge to hide: only a shown one is sent again.
void UnityLauncherEntry::onDockAppeared(GDBusConnection* /*connection*/, const char* /*name*/, const char* /*owner*/,
                                        gpointer data) {
    UnityLauncherEntry* entry = Handle::of(data);
    if (entry && entry->badge_) entry->send();
}

void UnityLauncherEntry::send() const {
    if (!connection_) return;
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    // Docks merge what they receive into what they keep: a hidden badge resets the count too.
    g_variant_builder_add(&properties, "{sv}", "count", g_variant_new_int64(badge_.value_or(0)));
    g_variant_builder_add(&properties, "{sv}", "count-visible", g_variant_new_boolean(badge_.has_value()));
    g_dbus_connection_emit_signal(connection_, nullptr, path_.c_str(), kInterface, "Update",
                                  g_variant_new("(sa{sv})", appUri_.c_str(), &properties), nullptr);
}

}  // namespace gtk
