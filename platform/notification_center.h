// The desktop's notification centre.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct NotificationContent {
    std::string title;
    std::string body;
    bool sound = false;  // the bundle's chime
    std::map<std::string, std::string> userInfo;
};

struct NotificationRequest {
    std::string identifier;  // a new request with a delivered identifier replaces it
    NotificationContent content;
    std::optional<double> delaySeconds;  // nullopt: show at once
};

class NotificationCenterDelegate {
public:
    virtual ~NotificationCenterDelegate() = default;
    // The user clicked a notification of this application; `done` must be called once.
    virtual void didReceiveNotificationResponse(const NotificationRequest& request, std::function<void()> done) = 0;
};

class NotificationCenter {
public:
    virtual ~NotificationCenter() = default;
    // Makes `delegate` receive the clicks on this application's notifications.
    virtual void setDelegate(NotificationCenterDelegate* delegate) = 0;
    // Asks once for the right to show alerts with sound; `done` runs on the main loop.
    virtual void requestAuthorization(std::function<void(bool granted)> done) = 0;
    // Posts the request; `done` runs on the main loop with an error text when the server refused it.
    virtual void add(NotificationRequest request, std::function<void(std::optional<std::string> error)> done) = 0;
    // Lists the notifications of this application still shown or kept by the server.
    virtual void delivered(std::function<void(std::vector<NotificationRequest>)> done) = 0;
    // Withdraws the delivered notifications with these identifiers; unknown ones are ignored.
    virtual void removeDelivered(const std::vector<std::string>& identifiers) = 0;
};

}  // namespace platform
