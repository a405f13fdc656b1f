// The launcher entry port on the protocol of Ubuntu's dock, Dash to Dock, KDE's task manager and
// Plank: com.canonical.Unity.LauncherEntry.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/launcher_entry.h"

namespace gtk {

// Sends the badge as an Update signal for the application's desktop entry. Docks listen to
// everyone's Update and forget what a process sent once it leaves the bus; a dock that starts
// later has heard nothing, so the badge goes out again when a new dock takes the name
// com.canonical.Unity, as Ubuntu's dock and Dash to Dock do (KDE's task manager and Plank take
// no name, and see the badge at its next change).
class UnityLauncherEntry final : public platform::LauncherEntry {
public:
    // Speaks for the application `applicationId` (its desktop entry is "<id>.desktop") on
    // `connection` (nullptr: nothing is sent), from an object path under the application's own,
    // as GApplication makes it ("/fr/velmora/universal/LauncherEntry").
    UnityLauncherEntry(GDBusConnection* connection, const std::string& applicationId);
    ~UnityLauncherEntry() override;
    UnityLauncherEntry(const UnityLauncherEntry&) = delete;
    UnityLauncherEntry& operator=(const UnityLauncherEntry&) = delete;

    // LauncherEntry overrides:
    void setBadge(std::optional<std::int64_t> count) override;

private:
    static void onDockAppeared(GDBusConnection* connection, const char* name, const char* owner, gpointer data);
    void send() const;

    GDBusConnection* connection_;
    std::string appUri_;
    std::string path_;
    std::optional<std::int64_t> badge_;
    guint dockWatch_ = 0;
    // Lets the name watch find out that the entry is gone.
    std::shared_ptr<UnityLauncherEntry*> self_;
};

}  // namespace gtk
