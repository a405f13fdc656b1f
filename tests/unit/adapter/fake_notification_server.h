// A private message bus and a notification server on it, both of the test's own, for testing
// the notification centre at the D-Bus message boundary.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace adapter_test {

// Asks the bus for the well-known `name` on `connection` without queueing; true when this
// connection became its owner.
bool ownName(GDBusConnection* connection, const char* name);

// Runs the default main loop until `done` holds or `limit` milliseconds have passed; returns
// whether `done` holds.
bool runMainLoopUntil(const std::function<bool()>& done, unsigned limit = 5000);

// A dbus-daemon listening on a socket in `folder` only, with no service files, so that no
// program of the machine is ever started on it.
class PrivateBus {
public:
    explicit PrivateBus(const std::string& folder);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // The bus address; empty when the daemon did not start.
    const std::string& address() const { return address_; }
    // A new message bus connection to it (the caller owns it), or nullptr.
    GDBusConnection* connect() const;

private:
    GSubprocess* daemon_ = nullptr;
    std::string address_;
};

// One Notify call as the server received it.
struct NotifyCall {
    std::string signature;
    std::string appName;
    std::uint32_t replacesId = 0;
    std::string appIcon;
    std::string summary;
    std::string body;
    std::vector<std::string> actions;
    std::map<std::string, std::string> hints;  // each value in GVariant text form, with its type
    std::int32_t expireTimeout = 0;
    std::uint32_t id = 0;  // the id the server answered with
};

// A server of org.freedesktop.Notifications on its own connection to the bus. Like some real
// servers, it sends its signals to the poster only.
class FakeNotificationServer {
public:
    // Connects to `bus` and takes the name; `owns()` tells whether it got it.
    FakeNotificationServer(const PrivateBus& bus, std::vector<std::string> capabilities);
    ~FakeNotificationServer();
    FakeNotificationServer(const FakeNotificationServer&) = delete;
    FakeNotificationServer& operator=(const FakeNotificationServer&) = delete;

    // Whether the server holds the name.
    bool owns() const { return owns_; }
    // Its unique name on the bus.
    std::string uniqueName() const;
    // Its connection to the bus.
    GDBusConnection* connection() const { return connection_; }
    // Leaves the bus, as a server that quits does.
    void quit();

    // Makes Notify answer with this error instead of an id.
    void refuseWith(std::string errorName) { refusal_ = std::move(errorName); }

    // Sends a signal of the notifications interface to `destination` (the poster when empty).
    void emit(const char* signal, GVariant* parameters, const std::string& destination = std::string());

    const std::vector<NotifyCall>& notifyCalls() const { return notifyCalls_; }
    const std::vector<std::uint32_t>& closeCalls() const { return closeCalls_; }
    int capabilityCalls() const { return capabilityCalls_; }

private:
    static void onMethodCall(GDBusConnection*, const char* sender, const char*, const char*, const char* method,
                             GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data);
    void notify(const char* sender, GVariant* parameters, GDBusMethodInvocation* invocation);

    GDBusConnection* connection_ = nullptr;
    guint registration_ = 0;
    bool owns_ = false;
    std::vector<std::string> capabilities_;
    std::optional<std::string> refusal_;
    std::string poster_;
    std::uint32_t nextId_ = 1;
    std::vector<NotifyCall> notifyCalls_;
    std::vector<std::uint32_t> closeCalls_;
    int capabilityCalls_ = 0;
};

// Waits until the signals sent so far from `sender` to `receiver` have been handled: sends a
// marker signal after them and runs the loop until `receiver` has dispatched it. Signals from
// one sender arrive in order, and the receiver handles them in order on the main loop.
bool flushSignals(GDBusConnection* sender, GDBusConnection* receiver);

// Waits until `receiver` has handled what the bus itself sent it so far, such as a change of a
// name's owner: a call to the bus is answered after those messages, and handled after them.
bool flushBus(GDBusConnection* receiver);

}  // namespace adapter_test
