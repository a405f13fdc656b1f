#include "platform/gtk/notification_ledger.h"

#include <glib.h>

#include <utility>
#include <vector>

// The file holds the bus in one group and each entry in a group of its own, numbered in the
// order of the identifiers. The identifier is a value, not the group's name, because group
// names cannot hold every character an identifier may contain:
//
//     [Ledger]
//     bus=4b1e…
//
//     [Notification 0]
//     identifier=shared:salon.velmora.fr:notice:7
//     server=:1.12
//     server-id=31
//     poster=:1.40
//     title=Nouvel avis
//     body=…
//     sound=true
//     user-info-keys=url;
//     user-info-values=https://salon.velmora.fr/admin?notification=notice&noticeId=notice%3A7;
//
// GKeyFile escapes line breaks and list separators itself.

namespace gtk {

namespace {

constexpr const char* kLedgerGroup = "Ledger";
constexpr const char* kEntryGroupPrefix = "Notification ";

std::optional<std::string> stringValue(GKeyFile* file, const char* group, const char* key) {
    g_autofree char* value = g_key_file_get_string(file, group, key, nullptr);
    if (!value) return std::nullopt;
    return std::string(value);
}

std::vector<std::string> stringList(GKeyFile* file, const char* group, const char* key) {
    gsize length = 0;
    g_auto(GStrv) list = g_key_file_get_string_list(file, group, key, &length, nullptr);
    if (!list) return {};
    return {list, list + length};
}

void setStringList(GKeyFile* file, const char* group, const char* key, const std::vector<std::string>& values) {
    std::vector<const char*> pointers;
    pointers.reserve(values.size() + 1);
    for (const auto& value : values) pointers.push_back(value.c_str());
    pointers.push_back(nullptr);
    g_key_file_set_string_list(file, group, key, pointers.data(), values.size());
}

// The entry saved in `group`, or nullopt when a part of it is missing.
std::optional<std::pair<std::string, LedgerEntry>> readEntry(GKeyFile* file, const char* group) {
    const auto identifier = stringValue(file, group, "identifier");
    const auto server = stringValue(file, group, "server");
    g_autoptr(GError) error = nullptr;
    const guint64 serverId = g_key_file_get_uint64(file, group, "server-id", &error);
    if (!identifier || !server || error || serverId == 0 || serverId > G_MAXUINT32) return std::nullopt;

    // A ledger of an earlier version names no poster: it is another connection's, like any other
    // of an earlier run.
    LedgerEntry entry{
        *server, static_cast<std::uint32_t>(serverId), {}, stringValue(file, group, "poster").value_or("")};
    entry.content.title = stringValue(file, group, "title").value_or("");
    entry.content.body = stringValue(file, group, "body").value_or("");
    entry.content.sound = g_key_file_get_boolean(file, group, "sound", nullptr);
    const auto keys = stringList(file, group, "user-info-keys");
    const auto values = stringList(file, group, "user-info-values");
    if (keys.size() != values.size()) return std::nullopt;
    for (std::size_t i = 0; i < keys.size(); ++i) entry.content.userInfo[keys[i]] = values[i];
    return std::make_pair(*identifier, std::move(entry));
}

void writeEntry(GKeyFile* file, const char* group, const std::string& identifier, const LedgerEntry& entry) {
    g_key_file_set_string(file, group, "identifier", identifier.c_str());
    g_key_file_set_string(file, group, "server", entry.server.c_str());
    g_key_file_set_uint64(file, group, "server-id", entry.serverId);
    g_key_file_set_string(file, group, "poster", entry.poster.c_str());
    g_key_file_set_string(file, group, "title", entry.content.title.c_str());
    g_key_file_set_string(file, group, "body", entry.content.body.c_str());
    g_key_file_set_boolean(file, group, "sound", entry.content.sound);
    std::vector<std::string> keys;
    std::vector<std::string> values;
    for (const auto& [key, value] : entry.content.userInfo) {
        keys.push_back(key);
        values.push_back(value);
    }
    setStringList(file, group, "user-info-keys", keys);
    setStringList(file, group, "user-info-values", values);
}

}  // namespace

NotificationLedger::NotificationLedger(std::string path) : path_(std::move(path)) { load(); }

std::string NotificationLedger::defaultPath() {
    g_autofree char* path = g_build_filename(g_get_user_state_dir(), VELMORA_BUNDLE_ID, "notifications", nullptr);
    return path;
}

const LedgerEntry* NotificationLedger::find(const std::string& identifier) const {
    const auto found = entries_.find(identifier);
    return found == entries_.end() ? nullptr : &found->second;
}

std::optional<std::string> NotificationLedger::identifierOf(const std::string& server, std::uint32_t serverId) const {
    for (const auto& [identifier, entry] : entries_)
        if (entry.server == server && entry.serverId == serverId) return identifier;
    return std::nullopt;
}

void NotificationLedger::useBus(const std::string& guid) {
    if (guid == bus_) return;
    bus_ = guid;
    entries_.clear();
    save();
}

void NotificationLedger::put(const std::string& identifier, LedgerEntry entry) {
    entries_[identifier] = std::move(entry);
    save();
}

void NotificationLedger::remove(const std::vector<std::string>& identifiers) {
    std::size_t dropped = 0;
    for (const auto& identifier : identifiers) dropped += entries_.erase(identifier);
    if (dropped > 0) save();
}

void NotificationLedger::keepOnlyServer(const std::string& server) {
    const std::size_t dropped =
        std::erase_if(entries_, [&server](const auto& item) { return item.second.server != server; });
    if (dropped > 0) save();
}

void NotificationLedger::load() {
    g_autoptr(GKeyFile) file = g_key_file_new();
    if (!g_key_file_load_from_file(file, path_.c_str(), G_KEY_FILE_NONE, nullptr)) return;
    bus_ = stringValue(file, kLedgerGroup, "bus").value_or("");
    g_auto(GStrv) groups = g_key_file_get_groups(file, nullptr);
    for (char** group = groups; group && *group; ++group) {
        if (!g_str_has_prefix(*group, kEntryGroupPrefix)) continue;
        // An entry that cannot be read is forgotten; the others still count.
        if (auto entry = readEntry(file, *group)) entries_.insert(std::move(*entry));
    }
}

void NotificationLedger::save() const {
    g_autoptr(GKeyFile) file = g_key_file_new();
    g_key_file_set_string(file, kLedgerGroup, "bus", bus_.c_str());
    int number = 0;
    for (const auto& [identifier, entry] : entries_) {
        const std::string group = kEntryGroupPrefix + std::to_string(number++);
        writeEntry(file, group.c_str(), identifier, entry);
    }
    gsize length = 0;
    g_autofree char* data = g_key_file_to_data(file, &length, nullptr);
    g_autofree char* folder = g_path_get_dirname(path_.c_str());
    // The titles and bodies of notifications are the user's business only.
    g_mkdir_with_parents(folder, 0700);
    g_autoptr(GError) error = nullptr;
    // Written to a temporary file and renamed over the old one, so a crash leaves either file whole.
    if (!g_file_set_contents_full(path_.c_str(), data, static_cast<gssize>(length), G_FILE_SET_CONTENTS_CONSISTENT,
                                  0600, &error))
        g_warning("Could not save the delivered notifications to %s: %s", path_.c_str(), error->message);
}

}  // namespace gtk
