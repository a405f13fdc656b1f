// The notification inbox and notification preferences of each instance.
#include "state.h"

#include "text.h"

#include <algorithm>

namespace service {

namespace {

constexpr int64_t kMinuteMs = 60 * 1000;
constexpr int64_t kHourMs = 60 * kMinuteMs;
constexpr int64_t kDayMs = 24 * kHourMs;

const char* const kPreferenceKeys[] = {"booking", "payable", "notice", "message"};

std::string entryUrl(const std::string& id) { return "/admin?notification=notice&noticeId=" + percentEncodeId(id); }

json::Object seededEntry(const char* id, const char* kind, const char* title, const char* body, int64_t createdMs,
                         std::optional<int64_t> readMs) {
    json::Object entry = json::newObject();
    json_object_set_string_member(entry.get(), "id", id);
    json_object_set_string_member(entry.get(), "kind", kind);
    json_object_set_string_member(entry.get(), "title", title);
    json_object_set_string_member(entry.get(), "body", body);
    if (readMs) {
        json_object_set_string_member(entry.get(), "read_at", isoTimeMs(*readMs).c_str());
    } else {
        json_object_set_null_member(entry.get(), "read_at");
    }
    json_object_set_int_member(entry.get(), "dismissed", 0);
    json_object_set_string_member(entry.get(), "created_at", isoTimeMs(createdMs).c_str());
    json_object_set_string_member(entry.get(), "url", entryUrl(id).c_str());
    return entry;
}

}  // namespace

void ServiceState::seedInstance(const std::string& host, int64_t nowMs) {
    // The seeded entries are all older than the application's five-minute announcement window and none is an
    // open payment request, so a fresh service never raises a notification by itself; tests add what they need.
    Inbox inbox;
    inbox.entries.push_back(seededEntry("appointment:12", "appointment", "Nouveau rendez-vous",
                                        "Léa Bernard — coloration, samedi à 10 h 30.", nowMs - 2 * kHourMs,
                                        std::nullopt));
    inbox.entries.push_back(seededEntry("payable:5", "payable", "Paiement reçu",
                                        "Acompte de 35,00 € réglé par Camille Durand.", nowMs - kDayMs - 2 * kHourMs,
                                        nowMs - kDayMs));
    inbox.entries.push_back(seededEntry("notice:1", "notice", "Bienvenue dans votre console",
                                        "Retrouvez ici les paiements, les rendez-vous et les avis de votre salon.",
                                        nowMs - 3 * kDayMs, nowMs - 3 * kDayMs + kHourMs));
    inbox.nextNotice = 2;
    inboxes_[host] = std::move(inbox);

    json::Object preferences = json::newObject();
    for (const char* key : kPreferenceKeys) {
        JsonObject* preference = json_object_new();
        json_object_set_boolean_member(preference, "enabled", TRUE);
        json_object_set_boolean_member(preference, "sound", TRUE);
        json_object_set_object_member(preferences.get(), key, preference);
    }
    preferences_[host] = std::move(preferences);
}

JsonObject* ServiceState::findEntry(const std::string& host, const std::string& id) const {
    auto inbox = inboxes_.find(host);
    if (inbox == inboxes_.end()) return nullptr;
    for (const auto& entry : inbox->second.entries) {
        if (json::stringMember(entry.get(), "id") == id) return entry.get();
    }
    return nullptr;
}

JsonObject* ServiceState::addEntry(const std::string& host, JsonObject* members, int64_t nowMs) {
    auto found = inboxes_.find(host);
    if (found == inboxes_.end()) return nullptr;
    Inbox& inbox = found->second;
    json::Object entry = members ? json::deepCopy(members) : json::newObject();
    JsonObject* e = entry.get();
    // Control requests carry the host beside the entry's own members.
    if (json_object_has_member(e, "host")) json_object_remove_member(e, "host");
    if (auto ago = json::numberMember(e, "created_ago")) {
        if (!json_object_has_member(e, "created_at")) {
            const auto createdMs = nowMs - static_cast<int64_t>(*ago * 1000.0);
            json_object_set_string_member(e, "created_at", isoTimeMs(createdMs).c_str());
        }
        json_object_remove_member(e, "created_ago");
    }
    if (!json_object_has_member(e, "id")) {
        std::string id;
        do {
            id = "notice:" + std::to_string(inbox.nextNotice++);
        } while (findEntry(host, id));
        json_object_set_string_member(e, "id", id.c_str());
    }
    if (!json_object_has_member(e, "kind")) json_object_set_string_member(e, "kind", "notice");
    if (!json_object_has_member(e, "title")) json_object_set_string_member(e, "title", "Nouvel avis");
    if (!json_object_has_member(e, "body")) json_object_set_string_member(e, "body", "");
    if (!json_object_has_member(e, "read_at")) json_object_set_null_member(e, "read_at");
    if (!json_object_has_member(e, "dismissed")) json_object_set_int_member(e, "dismissed", 0);
    if (!json_object_has_member(e, "created_at")) {
        json_object_set_string_member(e, "created_at", isoTimeMs(nowMs).c_str());
    }
    const auto id = json::stringMember(e, "id");
    if (!json_object_has_member(e, "url") && id) json_object_set_string_member(e, "url", entryUrl(*id).c_str());

    // An entry with an id already present replaces it in place; a new one goes first, as the feed is newest first.
    if (id) {
        for (auto& existing : inbox.entries) {
            if (json::stringMember(existing.get(), "id") == id) {
                existing = std::move(entry);
                return existing.get();
            }
        }
    }
    inbox.entries.insert(inbox.entries.begin(), std::move(entry));
    return inbox.entries.front().get();
}

std::vector<std::string> ServiceState::markRead(const std::string& host, const std::vector<std::string>& ids,
                                                int64_t nowMs) {
    std::vector<std::string> found;
    for (const auto& id : ids) {
        JsonObject* entry = findEntry(host, id);
        if (!entry) continue;
        if (!json::stringMember(entry, "read_at")) {
            json_object_set_string_member(entry, "read_at", isoTimeMs(nowMs).c_str());
        }
        found.push_back(id);
    }
    return found;
}

bool ServiceState::dismiss(const std::string& host, const std::string& id) {
    JsonObject* entry = findEntry(host, id);
    if (!entry) return false;
    json_object_set_int_member(entry, "dismissed", 1);
    return true;
}

void ServiceState::clearInbox(const std::string& host) {
    if (auto inbox = inboxes_.find(host); inbox != inboxes_.end()) inbox->second.entries.clear();
}

json::Node ServiceState::inboxJson(const std::string& host) const {
    json::Object feed = json::newObject();
    json::Array notifications = json::newArray();
    std::vector<std::string> readIds;
    if (auto inbox = inboxes_.find(host); inbox != inboxes_.end()) {
        for (const auto& entry : inbox->second.entries) {
            json_array_add_object_element(notifications.get(), json::deepCopy(entry.get()).release());
            auto id = json::stringMember(entry.get(), "id");
            if (id && json::stringMember(entry.get(), "read_at")) readIds.push_back(*id);
        }
    }
    json_object_set_array_member(feed.get(), "notifications", notifications.release());
    json_object_set_array_member(feed.get(), "readIds", json::stringArray(readIds).release());
    return json::objectNode(feed.get());
}

json::Node ServiceState::preferencesJson(const std::string& host) const {
    auto found = preferences_.find(host);
    if (found == preferences_.end()) return json::objectNode(json::newObject().get());
    return json::objectNode(json::deepCopy(found->second.get()).get());
}

bool ServiceState::setPreferences(const std::string& host, JsonObject* preferences) {
    if (!isInstance(host) || !preferences) return false;
    preferences_[host] = json::deepCopy(preferences);
    return true;
}

}  // namespace service
