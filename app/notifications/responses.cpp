// Clicks on notifications: the window comes forward with the notification's console page,
// and a clicked payment request comes back, silently, a second later.
#include <optional>
#include <string>

#include "app/velmora.h"
#include "platform/foundation/text.h"

namespace velmora {

namespace {
constexpr const char* kConsolePath = "/admin";
constexpr const char* kPayableMark = ":payable:";
constexpr double kPayableRepostDelaySeconds = 1.0;
}  // namespace

void Velmora::didReceiveNotificationResponse(const platform::NotificationRequest& request, std::function<void()> done) {
    // The system removes a clicked notification; an open payment request must stay in view
    // until the server reports it read or dismissed, so it is posted again without its sound.
    if (foundation::contains(request.identifier, kPayableMark)) {
        platform::NotificationRequest again = request;
        again.content.sound = false;
        again.delaySeconds = kPayableRepostDelaySeconds;
        platform_.notifications.add(std::move(again), [](const std::optional<std::string>&) {});
    }

    // The window is shown only when there is a console page to open in it. Without a web view
    // there is nowhere to open it.
    const auto found = request.content.userInfo.find("url");
    if (web && window && found != request.content.userInfo.end()) {
        const auto parsed = foundation::Url::parse(found->second);
        const auto target = parsed ? currentInstanceURL(*parsed) : std::nullopt;
        // The query is not part of the path, so a notice's page qualifies.
        if (target && target->path() == kConsolePath) {
            showNativeWindow();
            web->load(*target);
        }
    }
    if (done) done();
}

}  // namespace velmora
