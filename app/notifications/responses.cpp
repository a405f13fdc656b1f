// Clicks on notifications.
#include "app/velmora.h"

namespace velmora {

void Velmora::didReceiveNotificationResponse(const platform::NotificationRequest&, std::function<void()> done) {
    done();
}

}  // namespace velmora
