// What this application has shown through the desktop's notification server, kept across runs.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/notification_center.h"

namespace gtk {

// One notification the server shows for us.
struct LedgerEntry {
    std::string server;          // the unique bus name of the server that showed it
    std::uint32_t serverId = 0;  // the server's id of it, for replacing and closing it
    platform::NotificationContent content;
    std::string poster;  // our own unique bus name when we posted it: the server's signals go there
};

// The notifications by request identifier, saved whole to a key file after every change, so
// that the next run can still replace or close what this one showed. The server's ids only mean
// something on the bus and to the server process that gave them, so the ledger records the
// bus and each entry its server, and forgets entries once either is gone.
class NotificationLedger {
public:
    // Loads the ledger saved at `path`; a missing or unreadable file is an empty ledger.
    explicit NotificationLedger(std::string path);

    // The application's own file: "$XDG_STATE_HOME/fr.velmora.universal/notifications".
    static std::string defaultPath();

    // Every entry, ordered by identifier.
    const std::map<std::string, LedgerEntry>& entries() const { return entries_; }
    // The entry of `identifier`, or nullptr.
    const LedgerEntry* find(const std::string& identifier) const;
    // The identifier of the entry the server `server` knows as `serverId`, or nullopt.
    std::optional<std::string> identifierOf(const std::string& server, std::uint32_t serverId) const;

    // Records that the entries belong to the bus with this GUID; entries of another bus are dropped.
    void useBus(const std::string& guid);
    // Records `entry` under `identifier`, replacing what was there.
    void put(const std::string& identifier, LedgerEntry entry);
    // Drops the entries of these identifiers; unknown identifiers change nothing.
    void remove(const std::vector<std::string>& identifiers);
    // Drops every entry shown by another server than `server`; an empty name drops them all.
    void keepOnlyServer(const std::string& server);

private:
    void load();
    void save() const;

    std::string path_;
    std::string bus_;
    std::map<std::string, LedgerEntry> entries_;
};

}  // namespace gtk
