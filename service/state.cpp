#include "state.h"

#include "text.h"

#include <algorithm>

namespace service {

namespace {

constexpr int64_t kLoginTokenLifetimeMs = 2 * 60 * 1000;

}  // namespace

ServiceState::ServiceState(std::string publicHost, std::vector<std::string> instanceHosts, int64_t nowMs)
    : publicHost_(std::move(publicHost)), configuredInstances_(std::move(instanceHosts)) {
    reset(nowMs);
}

void ServiceState::reset(int64_t nowMs) {
    instances_.clear();
    users_.clear();
    loginTokens_.clear();
    sessions_.clear();
    inboxes_.clear();
    preferences_.clear();
    for (const auto& host : configuredInstances_) addInstance(host, nowMs);
}

bool ServiceState::isInstance(const std::string& host) const {
    return std::find(instances_.begin(), instances_.end(), host) != instances_.end();
}

bool ServiceState::addInstance(const std::string& host, int64_t nowMs) {
    if (isInstance(host)) return false;
    instances_.push_back(host);
    // Every instance opens with the same two demo accounts: an administrator and a front-desk member
    // whose role does not reach the administration data.
    const bool salon = host.starts_with("salon.");
    putUser({"admin@" + host, "demo", host, "admin", salon ? "Élise Marchand" : "Administration"});
    putUser({"accueil@" + host, "demo", host, "staff", salon ? "Hugo Lefèvre" : "Accueil"});
    seedInstance(host, nowMs);
    return true;
}

void ServiceState::putUser(User user) {
    auto same = [&](const User& u) { return u.email == user.email && u.host == user.host; };
    if (auto it = std::find_if(users_.begin(), users_.end(), same); it != users_.end()) {
        *it = std::move(user);
    } else {
        users_.push_back(std::move(user));
    }
}

const User* ServiceState::authenticate(const std::string& email, const std::string& password,
                                       const std::string& host) const {
    for (const auto& user : users_) {
        if (user.email != email || user.password != password) continue;
        if (host.empty() || user.host == host) return &user;
    }
    return nullptr;
}

int ServiceState::setRole(const std::string& host, const std::string& role, const std::string& email) {
    int changed = 0;
    for (auto& user : users_) {
        if (user.host != host || (!email.empty() && user.email != email)) continue;
        user.role = role;
        ++changed;
    }
    return changed;
}

std::string ServiceState::issueLoginToken(const User& user, int64_t nowMs) {
    std::erase_if(loginTokens_, [&](const auto& item) { return item.second.expiresMs <= nowMs; });
    std::string token = randomToken();
    loginTokens_[token] = {user.email, user.host, nowMs + kLoginTokenLifetimeMs};
    return token;
}

std::optional<std::string> ServiceState::redeemLoginToken(const std::string& token, const std::string& host,
                                                          int64_t nowMs) {
    auto it = loginTokens_.find(token);
    if (it == loginTokens_.end()) return std::nullopt;
    const LoginToken issued = it->second;
    // A link is spent by its first use, also a failed one, like the real service's e-mail links.
    loginTokens_.erase(it);
    if (issued.host != host || issued.expiresMs <= nowMs) return std::nullopt;
    Session session{randomToken(), issued.email, issued.host};
    sessions_[session.id] = session;
    return session.id;
}

const User* ServiceState::sessionUser(const std::string& sessionId, const std::string& host) const {
    auto it = sessions_.find(sessionId);
    if (it == sessions_.end() || it->second.host != host) return nullptr;
    for (const auto& user : users_) {
        if (user.email == it->second.email && user.host == host) return &user;
    }
    return nullptr;
}

void ServiceState::endSession(const std::string& sessionId) { sessions_.erase(sessionId); }

int ServiceState::signOut(const std::string& host) {
    return static_cast<int>(std::erase_if(sessions_, [&](const auto& item) { return item.second.host == host; }));
}

std::vector<Session> ServiceState::sessions(const std::string& host) const {
    std::vector<Session> result;
    for (const auto& [id, session] : sessions_) {
        if (session.host == host) result.push_back(session);
    }
    return result;
}

}  // namespace service
