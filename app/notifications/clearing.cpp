// Removing notifications the user has dealt with in the console: entries the server lists as
// read, notices and mails the page reports as read, and read or dismissed entries with a url.
// Each operation captures its inputs before asking for the delivered notifications and then
// uses only those, never the controller's fields, so it needs no guard for the controller.
#include <set>
#include <string>
#include <vector>

#include "app/notifications/inbox_entry.h"
#include "app/velmora.h"

namespace velmora {

namespace {

constexpr const char* kConsolePath = "/admin";

// Asks for the delivered notifications and withdraws those `matches` accepts. The removal is
// requested even when nothing matched. The centre is held by reference: the ports outlive the
// controller.
template <typename Matches>
void removeDeliveredMatching(platform::NotificationCenter& centre, Matches matches) {
    centre.delivered(
        [&centre, matches = std::move(matches)](const std::vector<platform::NotificationRequest>& delivered) {
            std::vector<std::string> identifiers;
            for (const auto& request : delivered)
                if (matches(request)) identifiers.push_back(request.identifier);
            centre.removeDelivered(identifiers);
        });
}

const std::string* userInfoURL(const platform::NotificationRequest& request) {
    const auto found = request.content.userInfo.find("url");
    return found == request.content.userInfo.end() ? nullptr : &found->second;
}

struct ReadMail {
    std::string uid, validity, account, host;
};

// The query item's value, percent-decoded, must equal `expected`; the first item of that name
// counts, and a missing item or one without a value fails.
bool hasQueryValue(const foundation::Url& url, const char* name, const std::string& expected) {
    const auto item = url.firstQueryItem(name);
    return item && item->value == expected;
}

// Whether `text` is the console url of this mail on the sending frame's host, compared exactly.
bool isNoticeOfMail(const std::string& text, const ReadMail& mail) {
    const auto url = foundation::Url::parse(text);
    if (!url || url->scheme() != "https" || url->host() != mail.host || url->path() != kConsolePath) return false;
    return hasQueryValue(*url, "notification", "mails") && hasQueryValue(*url, "mailUid", mail.uid) &&
           hasQueryValue(*url, "mailValidity", mail.validity) && hasQueryValue(*url, "mailAccount", mail.account);
}

}  // namespace

void Velmora::clearSharedNotices(const std::vector<std::string>& ids, const std::string& host) {
    std::set<std::string> targets;
    const std::string prefix = "shared:" + host + ":";
    for (const auto& id : ids) targets.insert(prefix + id);
    removeDeliveredMatching(platform_.notifications, [targets = std::move(targets)](const auto& request) {
        return targets.contains(request.identifier);
    });
}

void Velmora::removeNoticesOfReadEntries(const foundation::JsValue::Array& entries, const std::string& host) {
    std::set<std::string> urls;
    for (const auto& entry : entries) {
        if (!inbox::isReadOrDismissed(entry)) continue;
        const foundation::JsValue* url = entry.member("url");
        if (url && url->string()) urls.insert("https://" + host + *url->string());
    }
    removeDeliveredMatching(platform_.notifications, [urls = std::move(urls)](const auto& request) {
        const std::string* url = userInfoURL(request);
        return url && urls.contains(*url);
    });
}

void Velmora::clearReadMailNotice(const platform::ScriptMessage& message) {
    // The body is read as a dictionary of strings: one member of another type voids it.
    const foundation::JsValue::Object* body = message.body.object();
    if (!body) return;
    for (const auto& [key, value] : *body)
        if (!value.isString()) return;
    const auto field = [body](const char* key) {
        const auto found = body->find(key);
        return found == body->end() ? std::string() : *found->second.string();
    };
    ReadMail mail{field("uid"), field("validity"), field("account"), message.origin.host};
    if (mail.uid.empty() || mail.validity.empty() || mail.account.empty()) return;
    removeDeliveredMatching(platform_.notifications, [mail = std::move(mail)](const auto& request) {
        const std::string* url = userInfoURL(request);
        return url && isNoticeOfMail(*url, mail);
    });
}

}  // namespace velmora
