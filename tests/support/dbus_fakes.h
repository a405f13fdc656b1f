// Stand-ins for the desktop services the adapter talks to over D-Bus: a notification server,
// the GNOME session manager and logind, each speaking as much of its protocol as an application
// sees. The adapter's tests run them in process on a private bus; the end-to-end tests run the
// session manager and logind as a program (tests/e2e) on the buses of the test. The latter two
// keep a log of what they were asked, a line an event, which the program writes out for the
// Python tests to read.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora_test {

// Runs the default main loop until `done` holds or `limit` milliseconds have passed; returns
// whether `done` holds. Waiting for the event rather than for a fixed time keeps tests fast and
// still right on a busy machine.
bool runMainLoopUntil(const std::function<bool()>& done, unsigned limit = 5000);

// Asks the bus for `name` on `connection` without queueing; true when it became the owner.
bool ownName(GDBusConnection* connection, const char* name);

// Waits until the signals sent so far from `sender` to `receiver` have been handled: signals of
// one sender arrive in order, so a marker sent after them is handled after them.
bool flushSignals(GDBusConnection* sender, GDBusConnection* receiver);

// Waits until `receiver` has handled what the bus itself sent it so far, such as a change of a
// name's owner: a call to the bus is answered after those messages.
bool flushBus(GDBusConnection* receiver);

// For the programs of the end-to-end tests: writes each line to `file` and flushes it at once,
// so that a test reads whole lines only.
std::function<void(const std::string& line)> lineWriter(FILE* file);

// For those programs too: tells the test that the services are up ("ready" on standard
// output) and runs the main loop until SIGTERM.
void serveUntilTerminated();

// A dbus-daemon in a folder of its own, listening there only and with no service files, so
// that no program of the machine is ever started on it.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // The bus address; empty when the daemon did not start.
    const std::string& address() const { return address_; }
    // A new message bus connection to it (the caller owns it), or nullptr.
    GDBusConnection* connect() const;

private:
    std::string folder_;
    GSubprocess* daemon_ = nullptr;
    std::string address_;
};

// A service on a connection of its own, which it takes over. Some also serve a control object
// at /fr/velmora/test, through which an end-to-end test plays the user or the desktop.
class FakeService {
public:
    virtual ~FakeService();
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    // Takes the service's well-known name; false when the bus did not give it.
    bool own();
    // Makes the service refuse what it is asked: Notify, RegisterClient or Inhibit.
    void refuse() { refuses_ = true; }
    // Gives the name back and leaves the bus, as a service that quits does.
    void leave();
    GDBusConnection* connection() const { return connection_; }
    // What the service was asked, a line an event, in order.
    const std::vector<std::string>& log() const { return log_; }
    // How many lines of the log begin with `prefix`.
    size_t count(const std::string& prefix) const;
    // Told every line as it is logged.
    std::function<void(const std::string& line)> onLog;

protected:
    FakeService(GDBusConnection* connection, const char* name, const char* introspection);
    // Serves the interface numbered `index` in the introspection at `path`.
    void serve(const std::string& path, int index);
    void emit(const std::string& destination, const std::string& path, const char* interface, const char* signal,
              GVariant* parameters);
    void record(const std::string& line);
    virtual void handle(const std::string& sender, const std::string& path, const std::string& method,
                        GVariant* parameters, GDBusMethodInvocation* invocation) = 0;

    bool refuses_ = false;

private:
    GDBusConnection* connection_;
    const char* name_;
    GDBusNodeInfo* node_;
    std::vector<guint> objects_;
    std::vector<std::string> log_;
};

// One Notify call as the server received it.
struct NotifyCall {
    std::string sender, body;
    std::uint32_t replacesId = 0;
    std::shared_ptr<GVariant> hints;  // a{sv}
    std::int32_t expireTimeout = 0;
    std::uint32_t id = 0;  // the answer; 0 when refused

    // The hint `key` in GVariant text form, with its type where the text leaves it open.
    std::optional<std::string> hint(const char* key) const;
};

// org.freedesktop.Notifications. It keeps what it shows as a real server does, and, like GNOME
// Shell and dunst, sends its signals to the poster only.
class FakeNotificationServer final : public FakeService {
public:
    FakeNotificationServer(GDBusConnection* connection, std::vector<std::string> capabilities);

    // Whether it took the name when it started.
    bool owns() const { return owns_; }
    // Sends ActivationToken and ActionInvoked("default") to the poster and, unless the
    // notification is resident, closes it as dismissed; false for an id not on screen.
    bool click(std::uint32_t id);
    // Sends a signal of the protocol to `destination` (the last poster when empty).
    void emit(const char* signal, GVariant* parameters, const std::string& destination = "");

    const std::vector<NotifyCall>& notifyCalls() const { return notifyCalls_; }
    const std::vector<std::uint32_t>& closeCalls() const { return closeCalls_; }

private:
    struct Shown {
        std::string poster;
        bool resident = false;
    };
    void handle(const std::string& sender, const std::string& path, const std::string& method, GVariant* parameters,
                GDBusMethodInvocation* invocation) override;
    void notify(const std::string& sender, GVariant* parameters, GDBusMethodInvocation* invocation);
    void close(std::uint32_t id, std::uint32_t reason);

    bool owns_ = false;
    std::vector<std::string> capabilities_;
    std::map<std::uint32_t, Shown> shown_;
    std::uint32_t nextId_ = 1;
    std::vector<NotifyCall> notifyCalls_;
    std::vector<std::uint32_t> closeCalls_;
};

// org.gnome.SessionManager: each registration gets a client object of its own (Client1, ...),
// as in gnome-session. Log: "register APPLICATION STARTUP-ID", "response CLIENT true|false REASON".
// The control object has EndSession and Shutdown.
class FakeSessionManager final : public FakeService {
public:
    explicit FakeSessionManager(GDBusConnection* connection);
    ~FakeSessionManager() override;

    // Keeps the next registration unanswered until answerHeld().
    void holdRegistration() { holds_ = true; }
    void answerHeld();
    // Sends a signal of the client protocol to every client's object.
    void emitToClients(const char* signal);
    // Ends the session as gnome-session does: asks every client first (QueryEndSession) and
    // sends EndSession once the last one agreed.
    void endSession();
    // Runs for the control's Shutdown.
    std::function<void()> onShutdown;

private:
    void handle(const std::string& sender, const std::string& path, const std::string& method, GVariant* parameters,
                GDBusMethodInvocation* invocation) override;

    std::vector<std::string> clients_;
    bool holds_ = false, querying_ = false;
    size_t agreed_ = 0;
    GDBusMethodInvocation* held_ = nullptr;
};

// org.freedesktop.login1: hands out each inhibitor as the writing end of a pipe, as logind does
// with a FIFO, and sees it released once every copy of that end is closed. Log:
// "inhibit WHAT|WHO|WHY|MODE", "released N" (N from 1, in the order handed out).
class FakeLogind final : public FakeService {
public:
    explicit FakeLogind(GDBusConnection* connection);
    ~FakeLogind() override;

    void announceShutdown(bool starting);
    // Whether the inhibitor handed out `n`-th (from 0) has been let go by every holder. The bus
    // drops its own copies of a passed descriptor a moment after the message went, so a test
    // waits for this rather than asking once.
    bool released(size_t n) const { return n < inhibitors_.size() && inhibitors_[n]->reader < 0; }

private:
    struct Inhibitor {
        FakeLogind* logind;
        size_t number;
        int reader;
        guint watch;
    };
    static gboolean onHangUp(gint reader, GIOCondition, gpointer data);
    void handle(const std::string& sender, const std::string& path, const std::string& method, GVariant* parameters,
                GDBusMethodInvocation* invocation) override;

    std::vector<std::unique_ptr<Inhibitor>> inhibitors_;
};

}  // namespace velmora_test
