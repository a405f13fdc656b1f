// The session manager client against a GNOME session manager of the test's own on a private
// bus: when it registers, how it answers the end-of-session protocol, and whom it listens to.
#include "platform/gtk/session_manager_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fake_notification_server.h"
#include "temp_folder.h"

namespace adapter_test {
namespace {

constexpr const char* kName = "org.gnome.SessionManager";
constexpr const char* kClientPath = "/org/gnome/SessionManager/Client7";
constexpr const char* kClientInterface = "org.gnome.SessionManager.ClientPrivate";
constexpr const char* kIntrospection =
    "<node>"
    "<interface name='org.gnome.SessionManager'>"
    "<method name='RegisterClient'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='o' direction='out'/></method>"
    "</interface>"
    "<interface name='org.gnome.SessionManager.ClientPrivate'>"
    "<method name='EndSessionResponse'><arg type='b' direction='in'/><arg type='s' direction='in'/></method>"
    "<signal name='QueryEndSession'><arg type='u'/></signal>"
    "<signal name='EndSession'><arg type='u'/></signal>"
    "<signal name='CancelEndSession'/>"
    "<signal name='Stop'/>"
    "</interface></node>";

struct Response {
    bool ok;
    std::string reason;
    bool operator==(const Response&) const = default;
};

// A session manager with one client object; RegisterClient always hands out that object.
class FakeSessionManager {
public:
    explicit FakeSessionManager(const PrivateBus& bus)
        : connection_(bus.connect()), node_(g_dbus_node_info_new_for_xml(kIntrospection, nullptr)) {
        static const GDBusInterfaceVTable vtable = {&FakeSessionManager::onMethodCall, nullptr, nullptr, {}};
        registrations_[0] = g_dbus_connection_register_object(connection_, "/org/gnome/SessionManager",
                                                              node_->interfaces[0], &vtable, this, nullptr, nullptr);
        registrations_[1] = g_dbus_connection_register_object(connection_, kClientPath, node_->interfaces[1], &vtable,
                                                              this, nullptr, nullptr);
    }
    ~FakeSessionManager() {
        if (held_) g_dbus_method_invocation_return_value(held_, g_variant_new("(o)", kClientPath));
        for (guint registration : registrations_) g_dbus_connection_unregister_object(connection_, registration);
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
        g_dbus_node_info_unref(node_);
    }
    FakeSessionManager(const FakeSessionManager&) = delete;
    FakeSessionManager& operator=(const FakeSessionManager&) = delete;
    FakeSessionManager(FakeSessionManager&&) = delete;
    FakeSessionManager& operator=(FakeSessionManager&&) = delete;

    bool own() { return ownName(connection_, kName); }
    void refuse() { refuses_ = true; }
    // Keeps the next registration unanswered until `answerHeld`.
    void holdRegistration() { holds_ = true; }
    void answerHeld() {
        g_dbus_method_invocation_return_value(held_, g_variant_new("(o)", kClientPath));
        held_ = nullptr;
    }

    void emit(const char* signal, GVariant* parameters = nullptr) {
        g_dbus_connection_emit_signal(connection_, nullptr, kClientPath, kClientInterface, signal, parameters, nullptr);
    }

    GDBusConnection* connection() const { return connection_; }
    const std::vector<std::pair<std::string, std::string>>& registrations() const { return registered_; }
    const std::vector<Response>& responses() const { return responses_; }

private:
    static void onMethodCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                             GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<FakeSessionManager*>(data);
        const std::string name(method);
        if (name == "RegisterClient") {
            const char* application = nullptr;
            const char* startup = nullptr;
            g_variant_get(parameters, "(&s&s)", &application, &startup);
            self->registered_.emplace_back(application, startup);
            if (self->refuses_) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.gnome.SessionManager.NotInInitialization",
                                                           "trop tard");
            } else if (self->holds_) {
                self->held_ = invocation;
            } else {
                g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", kClientPath));
            }
        } else if (name == "EndSessionResponse") {
            gboolean ok = FALSE;
            const char* reason = nullptr;
            g_variant_get(parameters, "(b&s)", &ok, &reason);
            self->responses_.push_back({ok != FALSE, reason});
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
    }

    GDBusConnection* connection_;
    GDBusNodeInfo* node_ = nullptr;
    guint registrations_[2] = {0, 0};
    bool refuses_ = false;
    bool holds_ = false;
    GDBusMethodInvocation* held_ = nullptr;
    std::vector<std::pair<std::string, std::string>> registered_;
    std::vector<Response> responses_;
};

class SessionManagerClientTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
        connection = bus.connect();
        ASSERT_NE(connection, nullptr);
    }
    void TearDown() override {
        client.reset();
        g_clear_object(&connection);
    }

    void startClient(const std::string& startupId = "") {
        client = std::make_unique<gtk::SessionManagerClient>(connection, "fr.velmora.universal", startupId,
                                                             [this] { ++ends; });
    }
    // Starts the client against the owned fake and waits until it listens for the manager.
    void startRegistered() {
        ASSERT_TRUE(manager.own());
        startClient();
        ASSERT_TRUE(runMainLoopUntil([this] { return client->registered(); }));
        // GDBus learns who owns the manager's name before it passes on the manager's signals.
        ASSERT_TRUE(flushBus(connection));
    }

    TempFolder folder;
    PrivateBus bus{folder.path};
    FakeSessionManager manager{bus};
    GDBusConnection* connection = nullptr;
    std::unique_ptr<gtk::SessionManagerClient> client;
    int ends = 0;
};

TEST_F(SessionManagerClientTest, RegistersWithTheApplicationIdAndTheSessionsStartId) {
    ASSERT_TRUE(manager.own());
    startClient("10a2b3c4d5-autostart");
    ASSERT_TRUE(runMainLoopUntil([this] { return client->registered(); }));
    ASSERT_EQ(manager.registrations().size(), 1U);
    EXPECT_EQ(manager.registrations()[0],
              (std::pair<std::string, std::string>{"fr.velmora.universal", "10a2b3c4d5-autostart"}));
}

TEST_F(SessionManagerClientTest, WithoutASessionManagerNothingIsAsked) {
    startClient();  // the manager's name has no owner yet
    EXPECT_FALSE(client->registered());
    // A manager that comes later is not asked either: registering belongs to the launch.
    ASSERT_TRUE(manager.own());
    ASSERT_TRUE(flushBus(connection));
    ASSERT_TRUE(flushSignals(manager.connection(), connection));
    EXPECT_TRUE(manager.registrations().empty());
    EXPECT_FALSE(client->registered());
}

TEST_F(SessionManagerClientTest, AQueryIsAgreedToAtOnceAndEndsNothing) {
    startRegistered();
    manager.emit("QueryEndSession", g_variant_new("(u)", 0U));
    ASSERT_TRUE(runMainLoopUntil([this] { return manager.responses().size() == 1; }));
    EXPECT_EQ(manager.responses()[0], (Response{true, ""}));
    EXPECT_EQ(ends, 0);
}

TEST_F(SessionManagerClientTest, TheEndOfTheSessionEndsTheApplicationAndIsAnswered) {
    startRegistered();
    manager.emit("QueryEndSession", g_variant_new("(u)", 0U));
    manager.emit("EndSession", g_variant_new("(u)", 0U));
    ASSERT_TRUE(runMainLoopUntil([this] { return manager.responses().size() == 2; }));
    EXPECT_EQ(manager.responses()[1], (Response{true, ""}));
    EXPECT_EQ(ends, 1);
}

TEST_F(SessionManagerClientTest, TheManagersStopEndsTheApplication) {
    startRegistered();
    manager.emit("Stop");
    ASSERT_TRUE(runMainLoopUntil([this] { return ends == 1; }));
}

TEST_F(SessionManagerClientTest, ACancelledEndNeedsNoAnswer) {
    startRegistered();
    manager.emit("CancelEndSession");
    ASSERT_TRUE(flushSignals(manager.connection(), connection));
    ASSERT_TRUE(flushSignals(connection, manager.connection()));
    EXPECT_TRUE(manager.responses().empty());
    EXPECT_EQ(ends, 0);
}

TEST_F(SessionManagerClientTest, OnlyTheSessionManagerMayEndTheSession) {
    startRegistered();
    GDBusConnection* impostor = bus.connect();
    g_dbus_connection_emit_signal(impostor, nullptr, kClientPath, kClientInterface, "EndSession",
                                  g_variant_new("(u)", 0U), nullptr);
    g_dbus_connection_emit_signal(impostor, nullptr, kClientPath, kClientInterface, "Stop", nullptr, nullptr);
    EXPECT_TRUE(flushSignals(impostor, connection));
    EXPECT_EQ(ends, 0);
    g_object_unref(impostor);
}

TEST_F(SessionManagerClientTest, SignalsForAnotherClientAreNotOurs) {
    startRegistered();
    g_dbus_connection_emit_signal(manager.connection(), nullptr, "/org/gnome/SessionManager/Client8", kClientInterface,
                                  "EndSession", g_variant_new("(u)", 0U), nullptr);
    EXPECT_TRUE(flushSignals(manager.connection(), connection));
    EXPECT_EQ(ends, 0);
    EXPECT_TRUE(manager.responses().empty());
}

TEST_F(SessionManagerClientTest, ARefusedRegistrationLeavesTheClientOut) {
    ASSERT_TRUE(manager.own());
    manager.refuse();
    startClient();
    ASSERT_TRUE(runMainLoopUntil([this] { return manager.registrations().size() == 1; }));
    ASSERT_TRUE(flushBus(connection));
    EXPECT_FALSE(client->registered());
    manager.emit("EndSession", g_variant_new("(u)", 0U));
    ASSERT_TRUE(flushSignals(manager.connection(), connection));
    EXPECT_EQ(ends, 0);
}

TEST_F(SessionManagerClientTest, EndingTheClientDuringItsRegistrationIsSafe) {
    ASSERT_TRUE(manager.own());
    manager.holdRegistration();
    startClient();
    ASSERT_TRUE(runMainLoopUntil([this] { return manager.registrations().size() == 1; }));
    client.reset();
    manager.answerHeld();
    ASSERT_TRUE(flushSignals(manager.connection(), connection));
    manager.emit("EndSession", g_variant_new("(u)", 0U));
    ASSERT_TRUE(flushSignals(manager.connection(), connection));
    EXPECT_EQ(ends, 0);
}

TEST_F(SessionManagerClientTest, WithoutASessionBusNothingHappens) {
    gtk::SessionManagerClient none(nullptr, "fr.velmora.universal", "", [this] { ++ends; });
    EXPECT_FALSE(none.registered());
}

}  // namespace
}  // namespace adapter_test
