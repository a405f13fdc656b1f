// The state document written to --state-file, so that sessions and inboxes survive a restart of the service.
#include "state.h"

namespace service {

json::Node ServiceState::toJson() const {
    json::Object document = json::newObject();
    json_object_set_int_member(document.get(), "version", 1);
    json_object_set_array_member(document.get(), "instances", json::stringArray(instances_).release());

    json::Array users = json::newArray();
    for (const auto& user : users_) {
        JsonObject* u = json_object_new();
        json_object_set_string_member(u, "email", user.email.c_str());
        json_object_set_string_member(u, "password", user.password.c_str());
        json_object_set_string_member(u, "host", user.host.c_str());
        json_object_set_string_member(u, "role", user.role.c_str());
        json_object_set_string_member(u, "name", user.name.c_str());
        json_array_add_object_element(users.get(), u);
    }
    json_object_set_array_member(document.get(), "users", users.release());

    json::Array sessions = json::newArray();
    for (const auto& [id, session] : sessions_) {
        JsonObject* s = json_object_new();
        json_object_set_string_member(s, "id", id.c_str());
        json_object_set_string_member(s, "email", session.email.c_str());
        json_object_set_string_member(s, "host", session.host.c_str());
        json_array_add_object_element(sessions.get(), s);
    }
    json_object_set_array_member(document.get(), "sessions", sessions.release());

    json::Object inboxes = json::newObject();
    for (const auto& [host, inbox] : inboxes_) {
        JsonObject* i = json_object_new();
        json_object_set_int_member(i, "nextNotice", inbox.nextNotice);
        JsonArray* entries = json_array_new();
        for (const auto& entry : inbox.entries)
            json_array_add_object_element(entries, json::deepCopy(entry.get()).release());
        json_object_set_array_member(i, "entries", entries);
        json_object_set_object_member(inboxes.get(), host.c_str(), i);
    }
    json_object_set_object_member(document.get(), "inboxes", inboxes.release());

    json::Object preferences = json::newObject();
    for (const auto& [host, value] : preferences_) {
        json_object_set_object_member(preferences.get(), host.c_str(), json::deepCopy(value.get()).release());
    }
    json_object_set_object_member(document.get(), "preferences", preferences.release());
    return json::objectNode(document.get());
}

bool ServiceState::fromJson(JsonNode* node, int64_t nowMs) {
    json::Object document = json::asObject(node);
    if (!document || json::numberMember(document.get(), "version") != 1.0) return false;
    auto instances = json::stringArrayMember(document.get(), "instances");
    JsonNode* usersNode = json_object_get_member(document.get(), "users");
    JsonNode* sessionsNode = json_object_get_member(document.get(), "sessions");
    JsonObject* inboxesObject = json::objectMember(document.get(), "inboxes");
    JsonObject* preferencesObject = json::objectMember(document.get(), "preferences");
    if (!instances || !usersNode || !JSON_NODE_HOLDS_ARRAY(usersNode) || !sessionsNode ||
        !JSON_NODE_HOLDS_ARRAY(sessionsNode) || !inboxesObject || !preferencesObject) {
        return false;
    }

    std::vector<User> users;
    JsonArray* userArray = json_node_get_array(usersNode);
    for (guint i = 0; i < json_array_get_length(userArray); ++i) {
        JsonNode* element = json_array_get_element(userArray, i);
        if (!JSON_NODE_HOLDS_OBJECT(element)) return false;
        JsonObject* u = json_node_get_object(element);
        auto email = json::stringMember(u, "email"), password = json::stringMember(u, "password"),
             host = json::stringMember(u, "host"), role = json::stringMember(u, "role"),
             name = json::stringMember(u, "name");
        if (!email || !password || !host || !role) return false;
        users.push_back({*email, *password, *host, *role, name.value_or("")});
    }

    std::map<std::string, Session> sessions;
    JsonArray* sessionArray = json_node_get_array(sessionsNode);
    for (guint i = 0; i < json_array_get_length(sessionArray); ++i) {
        JsonNode* element = json_array_get_element(sessionArray, i);
        if (!JSON_NODE_HOLDS_OBJECT(element)) return false;
        JsonObject* s = json_node_get_object(element);
        auto id = json::stringMember(s, "id"), email = json::stringMember(s, "email"),
             host = json::stringMember(s, "host");
        if (!id || !email || !host) return false;
        sessions[*id] = {*id, *email, *host};
    }

    std::map<std::string, Inbox> inboxes;
    for (const auto& host : *instances) {
        JsonObject* i = json::objectMember(inboxesObject, host.c_str());
        JsonNode* entriesNode = i ? json_object_get_member(i, "entries") : nullptr;
        if (!entriesNode || !JSON_NODE_HOLDS_ARRAY(entriesNode)) return false;
        Inbox inbox;
        inbox.nextNotice = static_cast<int>(json::numberMember(i, "nextNotice").value_or(1));
        JsonArray* entries = json_node_get_array(entriesNode);
        for (guint k = 0; k < json_array_get_length(entries); ++k) {
            JsonNode* entry = json_array_get_element(entries, k);
            if (!JSON_NODE_HOLDS_OBJECT(entry)) return false;
            inbox.entries.push_back(json::deepCopy(json_node_get_object(entry)));
        }
        inboxes[host] = std::move(inbox);
    }

    std::map<std::string, json::Object> preferences;
    for (const auto& host : *instances) {
        if (JsonObject* p = json::objectMember(preferencesObject, host.c_str())) preferences[host] = json::deepCopy(p);
    }

    // Instances configured on the command line but absent from the document keep their seeded state.
    instances_ = *instances;
    users_ = std::move(users);
    sessions_ = std::move(sessions);
    inboxes_ = std::move(inboxes);
    preferences_ = std::move(preferences);
    loginTokens_.clear();
    for (const auto& host : configuredInstances_) addInstance(host, nowMs);
    return true;
}

}  // namespace service
