// The business state of the stand-in service: accounts, sign-in links, sessions, and per instance the
// notification inbox and the notification preferences.
#pragma once

#include "json.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace service {

struct User {
    std::string email, password, host;
    std::string role = "admin";
    std::string name;
};

struct Session {
    std::string id, email, host;
};

class ServiceState {
public:
    // Creates the seeded state for these hosts; `nowMs` dates the seeded inbox entries.
    ServiceState(std::string publicHost, std::vector<std::string> instanceHosts, int64_t nowMs);

    // Returns to the seeded state of the configured instances: demo accounts and inboxes, no sessions.
    void reset(int64_t nowMs);

    // Returns the host of the public site.
    const std::string& publicHost() const { return publicHost_; }
    // Returns the instance hosts, configured ones first, in the order they were added.
    const std::vector<std::string>& instanceHosts() const { return instances_; }
    // Returns whether the host is one of the instances.
    bool isInstance(const std::string& host) const;
    // Adds an instance with a demo account and a seeded inbox; returns false when it already exists.
    bool addInstance(const std::string& host, int64_t nowMs);

    // Adds the account, replacing one with the same e-mail on the same host.
    void putUser(User user);
    // Returns the account with these credentials on the host; an empty host means the e-mail's first account.
    const User* authenticate(const std::string& email, const std::string& password, const std::string& host) const;
    // Sets the role of every account of the host, or only of `email` when it is not empty; returns the count changed.
    int setRole(const std::string& host, const std::string& role, const std::string& email);

    // Issues a one-time sign-in link token for the account, valid for two minutes.
    std::string issueLoginToken(const User& user, int64_t nowMs);
    // Redeems a token on the host it was issued for, opening a session; returns the session id.
    std::optional<std::string> redeemLoginToken(const std::string& token, const std::string& host, int64_t nowMs);
    // Returns the account of a live session on the host, or null.
    const User* sessionUser(const std::string& sessionId, const std::string& host) const;
    // Ends one session; unknown ids are ignored.
    void endSession(const std::string& sessionId);
    // Ends every session on the host; returns how many ended.
    int signOut(const std::string& host);
    // Returns the live sessions of the host.
    std::vector<Session> sessions(const std::string& host) const;

    // Adds an inbox entry from the given members, filling what is absent (id, kind, title, body, read_at,
    // dismissed, created_at, url); members given are kept as given, whatever their type. A number member
    // "created_ago" dates the entry that many seconds back. Returns the stored entry, or null for an unknown host.
    JsonObject* addEntry(const std::string& host, JsonObject* members, int64_t nowMs);
    // Marks the entries read (read_at now unless already a string); returns the ids that exist on the host.
    std::vector<std::string> markRead(const std::string& host, const std::vector<std::string>& ids, int64_t nowMs);
    // Marks the entry dismissed; returns false when it does not exist.
    bool dismiss(const std::string& host, const std::string& id);
    // Removes every entry of the host's inbox.
    void clearInbox(const std::string& host);
    // Returns {notifications: [...], readIds: [...]} for the host (empty for an unknown host).
    json::Node inboxJson(const std::string& host) const;
    // Returns the host's notification preferences, keyed by preference ("booking", "payable", ...).
    json::Node preferencesJson(const std::string& host) const;
    // Replaces the host's notification preferences; returns false for an unknown host.
    bool setPreferences(const std::string& host, JsonObject* preferences);

    // Returns everything that survives a restart, as one JSON document.
    json::Node toJson() const;
    // Replaces the state with a document written by toJson(); configured instances missing from it are seeded as of
    // `nowMs`. Returns false, leaving the state as it was, when the document does not have that shape.
    bool fromJson(JsonNode* document, int64_t nowMs);

private:
    struct Inbox {
        std::vector<json::Object> entries;
        int nextNotice = 1;
    };
    struct LoginToken {
        std::string email, host;
        int64_t expiresMs = 0;
    };

    void seedInstance(const std::string& host, int64_t nowMs);
    JsonObject* findEntry(const std::string& host, const std::string& id) const;

    std::string publicHost_;
    std::vector<std::string> configuredInstances_;
    std::vector<std::string> instances_;
    std::vector<User> users_;
    std::map<std::string, LoginToken> loginTokens_;
    std::map<std::string, Session> sessions_;
    std::map<std::string, Inbox> inboxes_;
    std::map<std::string, json::Object> preferences_;
};

}  // namespace service
