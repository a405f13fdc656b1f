// The control interface of the tests: JSON over HTTP under /control/ on any host, from loopback only.
#include "service.h"

#include "pages.h"
#include "text.h"

#include <cstdlib>

namespace service {

namespace {

json::Node okAnswer() {
    json::Object answer = json::newObject();
    json_object_set_boolean_member(answer.get(), "ok", TRUE);
    return json::objectNode(answer.get());
}

JsonObject* answerObject(json::Node& node) { return json_node_get_object(node.get()); }

// Returns whether a log record passes the filters of a listing request: host, the given member, and "since"
// (milliseconds since the epoch, inclusive).
bool passes(const Request& request, JsonObject* record, const char* member, JsonObject* inner = nullptr) {
    if (auto host = request.query("host"); host && json::stringMember(record, "host") != *host) return false;
    if (auto wanted = request.query(member)) {
        if (json::stringMember(inner ? inner : record, member) != *wanted) return false;
    }
    if (auto since = request.query("since")) {
        const double limit = std::strtod(since->c_str(), nullptr);
        if (json::numberMember(record, "epoch_ms").value_or(0) < limit) return false;
    }
    return true;
}

template <typename Records>
json::Node listing(const Request& request, const Records& records, const char* listName, const char* member) {
    json::Object answer = json::newObject();
    JsonArray* list = json_array_new();
    for (const auto& record : records) {
        JsonObject* inner = json::objectMember(record.get(), "report");
        if (passes(request, record.get(), member, inner))
            json_array_add_object_element(list, json_object_ref(record.get()));
    }
    json_object_set_array_member(answer.get(), listName, list);
    return json::objectNode(answer.get());
}

}  // namespace

void Service::handleControl(Request& request) {
    if (!request.fromLoopback()) {
        request.respondError(SOUP_STATUS_FORBIDDEN, "Interface de contrôle réservée à la boucle locale.");
        return;
    }
    struct Route {
        const char* method;
        const char* path;
        void (Service::*handler)(Request&, JsonObject*);
    };
    static const Route routes[] = {
        {"POST", "/control/reset", &Service::controlReset},
        {"GET", "/control/status", &Service::controlStatus},
        {"POST", "/control/instance", &Service::controlInstance},
        {"POST", "/control/user", &Service::controlUser},
        {"POST", "/control/role", &Service::controlRole},
        {"POST", "/control/signout", &Service::controlSignOut},
        {"GET", "/control/sessions", &Service::controlSessions},
        {"POST", "/control/inbox/add", &Service::controlInboxAdd},
        {"POST", "/control/inbox/read", &Service::controlInboxRead},
        {"POST", "/control/inbox/dismiss", &Service::controlInboxDismiss},
        {"POST", "/control/inbox/clear", &Service::controlInboxClear},
        {"GET", "/control/inbox", &Service::controlInbox},
        {"POST", "/control/options", &Service::controlOptions},
        {"POST", "/control/refuse", &Service::controlRefuse},
        {"POST", "/control/api-fault", &Service::controlApiFault},
        {"GET", "/control/requests", &Service::controlRequests},
        {"POST", "/control/requests/clear", &Service::controlRequestsClear},
        {"POST", "/control/redirect", &Service::controlRedirect},
        {"POST", "/control/serve", &Service::controlServe},
        {"POST", "/control/cut", &Service::controlCut},
        {"POST", "/control/update-pace", &Service::controlUpdatePace},
        {"GET", "/control/update-pace", &Service::controlPacedAnswers},
        {"GET", "/control/beacons", &Service::controlBeacons},
        {"POST", "/control/beacons/clear", &Service::controlBeaconsClear},
        {"POST", "/control/report", &Service::controlReport},
        {"GET", "/control/reports", &Service::controlReports},
        {"POST", "/control/reports/clear", &Service::controlReportsClear},
    };
    bool knownPath = false;
    for (const auto& route : routes) {
        if (request.path() != route.path) continue;
        knownPath = true;
        if (!request.isMethod(route.method)) continue;
        json::Object body = request.isMethod("POST") ? request.jsonBody() : nullptr;
        if (request.isMethod("POST") && !body && route.handler != &Service::controlReport) {
            if (request.body().empty()) {
                body = json::newObject();
            } else {
                request.respondError(SOUP_STATUS_BAD_REQUEST, "Objet JSON attendu.");
                return;
            }
        }
        (this->*route.handler)(request, body.get());
        return;
    }
    if (knownPath) {
        request.respondError(SOUP_STATUS_METHOD_NOT_ALLOWED, "Méthode non prise en charge.");
    } else {
        request.respondError(SOUP_STATUS_NOT_FOUND, "Commande de contrôle inconnue.");
    }
}

namespace {

// Returns the host named by the request (body member or query parameter "host") when it is an instance;
// otherwise answers the request with an error and returns nullopt.
std::optional<std::string> instanceHost(Request& request, JsonObject* body, const ServiceState& state) {
    auto host = body ? json::stringMember(body, "host") : request.query("host");
    if (!host) {
        request.respondError(SOUP_STATUS_BAD_REQUEST, "Membre « host » attendu.");
        return std::nullopt;
    }
    if (!state.isInstance(*host)) {
        request.respondError(SOUP_STATUS_NOT_FOUND, "Espace inconnu.");
        return std::nullopt;
    }
    return host;
}

}  // namespace

void Service::controlReset(Request& request, JsonObject*) {
    state_.reset(nowMs());
    setApiFault(ApiFault::None, "");
    if (refusal_ != Refusal::None) refuse(0, Refusal::None, nullptr);
    requestLog_.clear();
    beacons_.clear();
    reports_.clear();
    redirects_.clear();
    servedPages_.clear();
    cuts_.clear();
    updatePace_ = 0;
    changed();
    request.respondJson(SOUP_STATUS_OK, okAnswer().get());
}

void Service::controlStatus(Request& request, JsonObject*) {
    static const char* const faults[] = {"none", "malformed", "500", "hang"};
    static const char* const refusals[] = {"none", "closed", "drop"};
    json::Object answer = json::newObject();
    json_object_set_int_member(answer.get(), "port", port_);
    json_object_set_boolean_member(answer.get(), "secure", secure());
    json_object_set_string_member(answer.get(), "publicHost", state_.publicHost().c_str());
    json_object_set_array_member(answer.get(), "instances", json::stringArray(state_.instanceHosts()).release());
    json_object_set_string_member(answer.get(), "refusal", refusals[static_cast<int>(refusal_)]);
    json_object_set_int_member(answer.get(), "refusalEndsMs", refusalEndsMs_);
    json_object_set_string_member(answer.get(), "apiFault", faults[static_cast<int>(apiFault_)]);
    json_object_set_string_member(answer.get(), "apiFaultPath", apiFaultPath_.c_str());
    json_object_set_int_member(answer.get(), "hanging", static_cast<gint64>(hanging_.size()));
    request.respondJson(SOUP_STATUS_OK, json::objectNode(answer.get()).get());
}

void Service::controlInstance(Request& request, JsonObject* body) {
    const auto host = json::stringMember(body, "host");
    if (!host || !isPlainHostName(*host) || *host == state_.publicHost()) {
        request.respondError(SOUP_STATUS_BAD_REQUEST, "Nom d’hôte invalide.");
        return;
    }
    json::Node answer = okAnswer();
    json_object_set_boolean_member(answerObject(answer), "added", state_.addInstance(*host, nowMs()));
    changed();
    request.respondJson(SOUP_STATUS_OK, answer.get());
}

void Service::controlUser(Request& request, JsonObject* body) {
    const auto host = instanceHost(request, body, state_);
    if (!host) return;
    const auto email = json::stringMember(body, "email");
    const auto password = json::stringMember(body, "password");
    if (!email || !password || email->empty() || password->empty()) {
        request.respondError(SOUP_STATUS_BAD_REQUEST, "Membres « email » et « password » attendus.");
        return;
    }
    state_.putUser({*email, *password, *host, json::stringMember(body, "role").value_or("admin"),
                    json::stringMember(body, "name").value_or(*email)});
    changed();
    request.respondJson(SOUP_STATUS_OK, okAnswer().get());
}

void Service::controlRole(Request& request, JsonObject* body) {
    const auto host = instanceHost(request, body, state_);
    if (!host) return;
    const auto role = json::stringMember(body, "role");
    if (!role) {
        request.respondError(SOUP_STATUS_BAD_REQUEST, "Membre « role » attendu.");
        return;
    }
    json::Node answer = okAnswer();
    const int count = state_.setRole(*host, *role, json::stringMember(body, "email").value_or(""));
    json_object_set_int_member(answerObject(answer), "changed", count);
    changed();
    request.respondJson(SOUP_STATUS_OK, answer.get());
}

void Service::controlSignOut(Request& request, JsonObject* body) {
    const auto host = instanceHost(request, body, state_);
    if (!host) return;
    json::Node answer = okAnswer();
    json_object_set_int_member(answerObject(answer), "ended", state_.signOut(*host));
    changed();
    request.respondJson(SOUP_STATUS_OK, answer.get());
}

void Service::controlSessions(Request& request, JsonObject*) {
    const auto host = instanceHost(request, nullptr, state_);
    if (!host) return;
    json::Object answer = json::newObject();
    JsonArray* list = json_array_new();
    for (const auto& session : state_.sessions(*host)) {
        JsonObject* item = json_object_new();
        json_object_set_string_member(item, "email", session.email.c_str());
        json_array_add_object_element(list, item);
    }
    json_object_set_array_member(answer.get(), "sessions", list);
    request.respondJson(SOUP_STATUS_OK, json::objectNode(answer.get()).get());
}

void Service::controlInboxAdd(Request& request, JsonObject* body) {
    const auto host = instanceHost(request, body, state_);
    if (!host) return;
    // A batch, {host, entries: [...]}, adds many entries in one request: the load tests add
    // thousands, and one round trip each would take longer than the test itself.
    JsonNode* batch = json_object_get_member(body, "entries");
    if (batch && JSON_NODE_HOLDS_ARRAY(batch)) {
        JsonArray* entries = json_node_get_array(batch);
        std::vector<std::string> ids;
        const int64_t now = nowMs();
        for (guint i = 0; i < json_array_get_length(entries); ++i) {
            JsonNode* node = json_array_get_element(entries, i);
            JsonObject* members = JSON_NODE_HOLDS_OBJECT(node) ? json_node_get_object(node) : nullptr;
            if (!members) continue;
            if (auto id = json::stringMember(state_.addEntry(*host, members, now), "id")) ids.push_back(*id);
        }
        changed();
        json::Node answer = okAnswer();
        json_object_set_array_member(answerObject(answer), "ids", json::stringArray(ids).release());
        request.respondJson(SOUP_STATUS_OK, answer.get());
        return;
    }
    JsonObject* entry = state_.addEntry(*host, body, nowMs());
    changed();
    json::Node answer = okAnswer();
    if (auto id = json::stringMember(entry, "id"))
        json_object_set_string_member(answerObject(answer), "id", id->c_str());
    json_object_set_object_member(answerObject(answer), "entry", json::deepCopy(entry).release());
    request.respondJson(SOUP_STATUS_OK, answer.get());
}

void Service::controlInboxRead(Request& request, JsonObject* body) {
    const auto host = instanceHost(request, body, state_);
    if (!host) return;
    std::vector<std::string> ids = json::stringArrayMember(body, "ids").value_or(std::vector<std::string>{});
    if (auto id = json::stringMember(body, "id")) ids.push_back(*id);
    const auto found = state_.markRead(*host, ids, nowMs());
    if (found.size() != ids.size() || ids.empty()) {
        request.respondError(SOUP_STATUS_NOT_FOUND, "Entrée inconnue.");
        return;
    }
    changed();
    json::Node answer = okAnswer();
    json_object_set_array_member(answerObject(answer), "readIds", json::stringArray(found).release());
    request.respondJson(SOUP_STATUS_OK, answer.get());
}

void Service::controlInboxDismiss(Request& request, JsonObject* body) {
    const auto host = instanceHost(request, body, state_);
    if (!host) return;
    const auto id = json::stringMember(body, "id");
    if (!id || !state_.dismiss(*host, *id)) {
        request.respondError(SOUP_STATUS_NOT_FOUND, "Entrée inconnue.");
        return;
    }
    changed();
    request.respondJson(SOUP_STATUS_OK, okAnswer().get());
}

void Service::controlInboxClear(Request& request, JsonObject* body) {
    const auto host = instanceHost(request, body, state_);
    if (!host) return;
    state_.clearInbox(*host);
    changed();
    request.respondJson(SOUP_STATUS_OK, okAnswer().get());
}

void Service::controlInbox(Request& request, JsonObject*) {
    const auto host = instanceHost(request, nullptr, state_);
    if (!host) return;
    request.respondJson(SOUP_STATUS_OK, state_.inboxJson(*host).get());
}

void Service::controlOptions(Request& request, JsonObject* body) {
    const auto host = instanceHost(request, body, state_);
    if (!host) return;
    JsonObject* preferences = json::objectMember(body, "notifications");
    if (!preferences) {
        request.respondError(SOUP_STATUS_BAD_REQUEST, "Objet « notifications » attendu.");
        return;
    }
    state_.setPreferences(*host, preferences);
    changed();
    request.respondJson(SOUP_STATUS_OK, okAnswer().get());
}

void Service::controlRefuse(Request& request, JsonObject* body) {
    const auto seconds = json::numberMember(body, "seconds");
    const std::string mode = json::stringMember(body, "mode").value_or("closed");
    if (!seconds || *seconds < 0 || *seconds > 3600 || (mode != "closed" && mode != "drop")) {
        request.respondError(SOUP_STATUS_BAD_REQUEST, "« seconds » (0 à 3600) et « mode » closed ou drop attendus.");
        return;
    }
    refuse(*seconds, mode == "drop" ? Refusal::Drop : Refusal::Closed, request.message());
    json::Node answer = okAnswer();
    json_object_set_int_member(answerObject(answer), "untilMs", refusalEndsMs_);
    request.respondJson(SOUP_STATUS_OK, answer.get());
}

void Service::controlApiFault(Request& request, JsonObject* body) {
    const std::string mode = json::stringMember(body, "mode").value_or("");
    const std::string path = json::stringMember(body, "path").value_or("");
    ApiFault fault;
    if (mode == "none") {
        fault = ApiFault::None;
    } else if (mode == "malformed") {
        fault = ApiFault::Malformed;
    } else if (mode == "500") {
        fault = ApiFault::ServerError;
    } else if (mode == "hang") {
        fault = ApiFault::Hang;
    } else {
        request.respondError(SOUP_STATUS_BAD_REQUEST, "« mode » none, malformed, 500 ou hang attendu.");
        return;
    }
    setApiFault(fault, path);
    request.respondJson(SOUP_STATUS_OK, okAnswer().get());
}

void Service::controlRequests(Request& request, JsonObject*) {
    request.respondJson(SOUP_STATUS_OK, listing(request, requestLog_, "requests", "path").get());
}

void Service::controlRequestsClear(Request& request, JsonObject*) {
    requestLog_.clear();
    request.respondJson(SOUP_STATUS_OK, okAnswer().get());
}

void Service::controlBeacons(Request& request, JsonObject*) {
    request.respondJson(SOUP_STATUS_OK, listing(request, beacons_, "beacons", "name").get());
}

void Service::controlBeaconsClear(Request& request, JsonObject*) {
    beacons_.clear();
    request.respondJson(SOUP_STATUS_OK, okAnswer().get());
}

void Service::controlReport(Request& request, JsonObject*) {
    json::Node body = json::parse(request.body());
    if (!body) {
        request.respondError(SOUP_STATUS_BAD_REQUEST, "JSON attendu.");
        return;
    }
    json::Object record = json::newObject();
    const int64_t now = nowMs();
    json_object_set_string_member(record.get(), "host", request.host().c_str());
    json_object_set_string_member(record.get(), "time", isoTimeMs(now).c_str());
    json_object_set_int_member(record.get(), "epoch_ms", now);
    json_object_set_member(record.get(), "report", body.release());
    reports_.push_back(std::move(record));
    request.respondJson(SOUP_STATUS_OK, okAnswer().get());
}

void Service::controlReports(Request& request, JsonObject*) {
    request.respondJson(SOUP_STATUS_OK, listing(request, reports_, "reports", "page").get());
}

void Service::controlReportsClear(Request& request, JsonObject*) {
    reports_.clear();
    request.respondJson(SOUP_STATUS_OK, okAnswer().get());
}

void Service::controlRedirect(Request& request, JsonObject* body) {
    const auto host = json::stringMember(body, "host");
    const auto path = json::stringMember(body, "path");
    const auto location = json::stringMember(body, "location");
    if (!host || !path || !location) {
        request.respondError(SOUP_STATUS_BAD_REQUEST, "host, path et location sont requis.");
        return;
    }
    // The next request for that path on that host is sent elsewhere: tests use it to take the
    // application to a page as a link would.
    redirects_[{*host, *path}] = *location;
    request.respondJson(SOUP_STATUS_OK, okAnswer().get());
}

void Service::controlServe(Request& request, JsonObject* body) {
    const auto host = json::stringMember(body, "host");
    const auto path = json::stringMember(body, "path");
    const auto page = json::stringMember(body, "page");
    if (!host || !path || !page || !page->ends_with(".html") || pageFile(*page).empty()) {
        request.respondError(SOUP_STATUS_BAD_REQUEST, "host, path et une page d’essai connue sont requis.");
        return;
    }
    // The next request for that path on that host gets the test page instead, whatever the
    // path: the page of someone who answers in the service's place.
    servedPages_[{*host, *path}] = *page;
    request.respondJson(SOUP_STATUS_OK, okAnswer().get());
}

void Service::controlCut(Request& request, JsonObject* body) {
    const auto host = json::stringMember(body, "host");
    const auto path = json::stringMember(body, "path");
    if (!host || !path) {
        request.respondError(SOUP_STATUS_BAD_REQUEST, "host et path sont requis.");
        return;
    }
    // The next answer for that path on that host breaks off part-way, as when the service's
    // front end dies while it sends a page.
    cuts_.insert({*host, *path});
    request.respondJson(SOUP_STATUS_OK, okAnswer().get());
}

}  // namespace service
