// Posting native notifications. Every notification leads to the console of an allowed
// instance host: its user info `url` is what a click opens and what clearing matches.
#include <optional>
#include <string>

#include "app/texts.h"
#include "app/velmora.h"
#include "platform/foundation/text.h"

namespace velmora {

namespace {
constexpr const char* kConsolePath = "/admin";
}  // namespace

void Velmora::deliverNativeNotice(const std::string& id, const std::string& title, const std::string& body,
                                  const std::string& path, bool sound) {
    // Without a web view there is no page whose host the notification could lead to.
    if (!web) return;
    const std::optional<foundation::Url> pageURL = web->url();
    // The notification leads to this page's host over HTTPS, so the page must have come from
    // that host over HTTPS too.
    if (!pageURL || !isInstancePage(*pageURL)) return;
    postNotice(pageURL->hostOrEmpty(), id, title, body, path, sound);
}

void Velmora::postNotice(const std::string& host, const std::string& id, const std::string& title,
                         const std::string& body, const std::string& path, bool sound) {
    if (!foundation::startsWith(path, kConsolePath)) return;

    platform::NotificationRequest request;
    request.identifier = id;
    request.content.title = title;
    request.content.body = body;
    request.content.sound = sound;
    request.content.userInfo = {{"url", "https://" + host + path}};
    // A refusal is typically missing authorisation; the status item says so until the next
    // signed-in poll. Nothing is retried.
    auto reportRefusal = weakly([this] { showNoticeStatus(texts::kStatusCheckAuthorisation); });
    platform_.notifications.add(std::move(request), [reportRefusal](const std::optional<std::string>& error) {
        if (error) reportRefusal();
    });
}

void Velmora::testNativeNotice() {
    // A fresh identifier each time, so that every test adds a notification of its own.
    deliverNativeNotice(texts::kTestNoticeIdPrefix + foundation::makeUuidString(), texts::kTestNoticeTitle,
                        texts::kTestNoticeBody, kConsolePath, true);
}

}  // namespace velmora
