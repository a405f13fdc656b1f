// The shutdown watch against a logind of the test's own on a private bus: the inhibitor it asks
// for, what ends it, and who may announce a shutdown.
#include "platform/gtk/shutdown_inhibitor.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "fake_notification_server.h"
#include "temp_folder.h"

namespace adapter_test {
namespace {

constexpr const char* kName = "org.freedesktop.login1";
constexpr const char* kPath = "/org/freedesktop/login1";
constexpr const char* kInterface = "org.freedesktop.login1.Manager";
constexpr const char* kIntrospection =
    "<node><interface name='org.freedesktop.login1.Manager'>"
    "<method name='Inhibit'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='h' direction='out'/></method>"
    "<signal name='PrepareForShutdown'><arg type='b'/></signal>"
    "</interface></node>";

// A logind that hands out each inhibitor as the writing end of a pipe, as the real one does with
// a FIFO: once every copy of that end is closed, its own reading end reports the hang-up.
class FakeLogind {
public:
    explicit FakeLogind(const PrivateBus& bus) : connection_(bus.connect()) {
        g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
        static const GDBusInterfaceVTable vtable = {&FakeLogind::onMethodCall, nullptr, nullptr, {}};
        registration_ =
            g_dbus_connection_register_object(connection_, kPath, node->interfaces[0], &vtable, this, nullptr, nullptr);
    }
    ~FakeLogind() {
        for (int reader : readers_) close(reader);
        g_dbus_connection_unregister_object(connection_, registration_);
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
    FakeLogind(const FakeLogind&) = delete;
    FakeLogind& operator=(const FakeLogind&) = delete;
    FakeLogind(FakeLogind&&) = delete;
    FakeLogind& operator=(FakeLogind&&) = delete;

    // Takes the well-known name; false when the bus refused it.
    bool own() { return ownName(connection_, kName); }

    void refuse() { refuses_ = true; }

    void announceShutdown(bool starting) {
        g_dbus_connection_emit_signal(connection_, nullptr, kPath, kInterface, "PrepareForShutdown",
                                      g_variant_new("(b)", starting), nullptr);
    }

    GDBusConnection* connection() const { return connection_; }
    const std::vector<std::array<std::string, 4>>& inhibitCalls() const { return inhibitCalls_; }
    // Whether the inhibitor handed out `n`-th (from 0) has been let go by every holder. The bus
    // connections drop their own copies of a passed descriptor on their threads, a moment after
    // the message went, so a test waits for this rather than asking once.
    bool released(size_t n) const {
        pollfd watched{readers_.at(n), POLLIN, 0};
        return poll(&watched, 1, 0) == 1 && (watched.revents & POLLHUP);
    }

private:
    static void onMethodCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                             GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<FakeLogind*>(data);
        if (std::string(method) != "Inhibit") return;
        const char* what = nullptr;
        const char* who = nullptr;
        const char* why = nullptr;
        const char* mode = nullptr;
        g_variant_get(parameters, "(&s&s&s&s)", &what, &who, &why, &mode);
        self->inhibitCalls_.push_back({what, who, why, mode});
        if (self->refuses_) {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.AccessDenied", "non");
            return;
        }
        int ends[2];
        if (pipe(ends) != 0) return;
        self->readers_.push_back(ends[0]);
        g_autoptr(GUnixFDList) descriptors = g_unix_fd_list_new();
        const int index = g_unix_fd_list_append(descriptors, ends[1], nullptr);  // keeps a copy of its own
        close(ends[1]);
        g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", index), descriptors);
    }

    GDBusConnection* connection_;
    guint registration_ = 0;
    bool refuses_ = false;
    std::vector<std::array<std::string, 4>> inhibitCalls_;
    std::vector<int> readers_;
};

class ShutdownInhibitorTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
        connection = bus.connect();
        ASSERT_NE(connection, nullptr);
    }
    void TearDown() override {
        watch.reset();
        g_clear_object(&connection);
    }

    void startWatch() {
        watch = std::make_unique<gtk::ShutdownInhibitor>(connection, [this] { ++shutdowns; });
    }
    bool holdsInhibitorSoon() {
        return runMainLoopUntil([this] { return watch->holdsInhibitor(); });
    }

    TempFolder folder;
    PrivateBus bus{folder.path};
    FakeLogind logind{bus};
    GDBusConnection* connection = nullptr;
    std::unique_ptr<gtk::ShutdownInhibitor> watch;
    int shutdowns = 0;
};

TEST_F(ShutdownInhibitorTest, TakesADelayInhibitorForShutdown) {
    ASSERT_TRUE(logind.own());
    startWatch();
    ASSERT_TRUE(holdsInhibitorSoon());
    ASSERT_EQ(logind.inhibitCalls().size(), 1U);
    EXPECT_EQ(logind.inhibitCalls()[0],
              (std::array<std::string, 4>{"shutdown", "Velmóra", "Fermeture propre", "delay"}));
    EXPECT_FALSE(logind.released(0));
}

TEST_F(ShutdownInhibitorTest, TheAnnouncedShutdownEndsTheApplicationAndReleasesTheInhibitor) {
    ASSERT_TRUE(logind.own());
    startWatch();
    ASSERT_TRUE(holdsInhibitorSoon());
    logind.announceShutdown(true);
    ASSERT_TRUE(runMainLoopUntil([this] { return shutdowns == 1; }));
    EXPECT_FALSE(watch->holdsInhibitor());
    EXPECT_TRUE(runMainLoopUntil([this] { return logind.released(0); }));
}

TEST_F(ShutdownInhibitorTest, ACancelledShutdownTakesANewInhibitor) {
    ASSERT_TRUE(logind.own());
    startWatch();
    ASSERT_TRUE(holdsInhibitorSoon());
    logind.announceShutdown(false);  // nothing to do while the inhibitor is held
    ASSERT_TRUE(flushSignals(logind.connection(), connection));
    EXPECT_EQ(logind.inhibitCalls().size(), 1U);

    logind.announceShutdown(true);
    logind.announceShutdown(false);
    ASSERT_TRUE(runMainLoopUntil([this] { return logind.inhibitCalls().size() == 2 && watch->holdsInhibitor(); }));
    EXPECT_EQ(shutdowns, 1);
    EXPECT_TRUE(runMainLoopUntil([this] { return logind.released(0); }));
    EXPECT_FALSE(logind.released(1));
}

TEST_F(ShutdownInhibitorTest, OnlyLogindMayAnnounceAShutdown) {
    ASSERT_TRUE(logind.own());
    startWatch();
    ASSERT_TRUE(holdsInhibitorSoon());
    ASSERT_TRUE(flushBus(connection));
    GDBusConnection* impostor = bus.connect();
    g_dbus_connection_emit_signal(impostor, nullptr, kPath, kInterface, "PrepareForShutdown",
                                  g_variant_new("(b)", TRUE), nullptr);
    EXPECT_TRUE(flushSignals(impostor, connection));
    EXPECT_EQ(shutdowns, 0);
    EXPECT_TRUE(watch->holdsInhibitor());
    g_object_unref(impostor);
}

TEST_F(ShutdownInhibitorTest, AnAnnouncementOfAnotherShapeIsIgnored) {
    ASSERT_TRUE(logind.own());
    startWatch();
    ASSERT_TRUE(holdsInhibitorSoon());
    g_dbus_connection_emit_signal(logind.connection(), nullptr, kPath, kInterface, "PrepareForShutdown",
                                  g_variant_new("(s)", "true"), nullptr);
    ASSERT_TRUE(flushSignals(logind.connection(), connection));
    EXPECT_EQ(shutdowns, 0);
}

TEST_F(ShutdownInhibitorTest, ARefusedInhibitorStillHearsTheShutdown) {
    ASSERT_TRUE(logind.own());
    logind.refuse();
    startWatch();
    ASSERT_TRUE(runMainLoopUntil([this] { return logind.inhibitCalls().size() == 1; }));
    ASSERT_TRUE(flushBus(connection));
    EXPECT_FALSE(watch->holdsInhibitor());
    logind.announceShutdown(true);
    EXPECT_TRUE(runMainLoopUntil([this] { return shutdowns == 1; }));
}

TEST_F(ShutdownInhibitorTest, WithoutLogindNothingIsHeld) {
    startWatch();  // the fake never takes the name
    ASSERT_TRUE(flushBus(connection));
    ASSERT_TRUE(flushBus(connection));
    EXPECT_FALSE(watch->holdsInhibitor());
    EXPECT_TRUE(logind.inhibitCalls().empty());
}

TEST_F(ShutdownInhibitorTest, WithoutASystemBusNothingHappens) {
    gtk::ShutdownInhibitor none(nullptr, [this] { ++shutdowns; });
    EXPECT_FALSE(none.holdsInhibitor());
}

TEST_F(ShutdownInhibitorTest, EndingTheWatchReleasesTheInhibitorAndStopsListening) {
    ASSERT_TRUE(logind.own());
    startWatch();
    ASSERT_TRUE(holdsInhibitorSoon());
    watch.reset();
    EXPECT_TRUE(runMainLoopUntil([this] { return logind.released(0); }));
    logind.announceShutdown(true);
    ASSERT_TRUE(flushSignals(logind.connection(), connection));
    EXPECT_EQ(shutdowns, 0);
}

TEST_F(ShutdownInhibitorTest, EndingTheWatchWhileTheInhibitorIsAskedForIsSafe) {
    ASSERT_TRUE(logind.own());
    startWatch();
    watch.reset();  // the answer is still on its way
    ASSERT_TRUE(runMainLoopUntil([this] { return logind.inhibitCalls().size() == 1; }));
    EXPECT_TRUE(runMainLoopUntil([this] { return logind.released(0); }))
        << "the descriptor of an abandoned answer is closed with it";
}

}  // namespace
}  // namespace adapter_test
