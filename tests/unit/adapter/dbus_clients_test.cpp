// The adapter's D-Bus clients against stand-ins of the desktop's services on a private bus: the
// notification centre, the session manager client and the shutdown watch. Each test checks what
// goes over the bus and what the client makes of what comes back, and who may speak to it.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dbus_fakes.h"
#include "platform/gtk/notification_center.h"
#include "platform/gtk/session_manager_client.h"
#include "platform/gtk/shutdown_inhibitor.h"
#include "temp_folder.h"

namespace velmora_test {
namespace {

using platform::NotificationRequest;
using Strings = std::vector<std::string>;

class OnPrivateBus : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(connection, nullptr) << "dbus-daemon did not start"; }
    ~OnPrivateBus() override { g_clear_object(&connection); }

    // Sends `signal` of `interface` from `from` to everyone, as any client of the bus may.
    static void broadcast(GDBusConnection* from, const char* path, const char* interface, const char* signal,
                          GVariant* parameters) {
        g_dbus_connection_emit_signal(from, nullptr, path, interface, signal, parameters, nullptr);
    }

    PrivateBus bus;
    GDBusConnection* connection = bus.connect();  // the application's
};

// ---- The notification centre ----

constexpr const char* kChime = "/opt/Velmora.app/Contents/Resources/carillon-doux.wav";
const Strings kPlainServer = {"actions", "body"};
const Strings kSoundServer = {"actions", "body", "sound"};
const Strings kMarkupServer = {"actions", "body", "body-markup"};

NotificationRequest request(const std::string& identifier, bool sound = false) {
    return {
        identifier, {"Nouvel avis", "Corps de l’avis", sound, {{"url", "https://h/admin?noticeId=" + identifier}}}, {}};
}

class Clicks final : public platform::NotificationCenterDelegate {
public:
    void didReceiveNotificationResponse(const NotificationRequest& request, std::function<void()> done) override {
        received.push_back(request);
        done();
    }
    std::vector<NotificationRequest> received;
};

// What the real notification servers show, hear and answer is tested on real desktops
// (tests/e2e/desktop_scenarios.py); these are the cases no desktop shows by itself.
class NotificationCenterTest : public OnPrivateBus {
protected:
    std::unique_ptr<gtk::DBusNotificationCenter> makeCentre(GDBusConnection* on) {
        gtk::DBusNotificationCenter::Settings settings{folder / "ledger", kChime,
                                                       [this](const std::string& file) { played.push_back(file); }};
        auto made = std::make_unique<gtk::DBusNotificationCenter>(context, on, settings);
        made->setDelegate(&clicks);
        return made;
    }
    void start() { centre = makeCentre(connection); }

    // Posts `posted` and waits for the answer: nullopt when it was shown, the error otherwise.
    std::optional<std::string> add(const NotificationRequest& posted) {
        std::optional<std::optional<std::string>> outcome;
        centre->add(posted, [&outcome](std::optional<std::string> error) { outcome = std::move(error); });
        EXPECT_TRUE(runMainLoopUntil([&outcome] { return outcome.has_value(); })) << "add never answered";
        return outcome.value_or("never answered");
    }

    Strings delivered() {
        std::optional<std::vector<NotificationRequest>> listed;
        centre->delivered([&listed](std::vector<NotificationRequest> requests) { listed = std::move(requests); });
        EXPECT_TRUE(runMainLoopUntil([&listed] { return listed.has_value(); })) << "delivered never answered";
        Strings identifiers;
        for (const auto& item : listed.value_or(std::vector<NotificationRequest>{}))
            identifiers.push_back(item.identifier);
        return identifiers;
    }

    adapter_test::TempFolder folder;
    gtk::Context context;
    Clicks clicks;
    Strings played;
    std::unique_ptr<gtk::DBusNotificationCenter> centre;
};

// A payment request stays on screen, resident and without expiry, but is never critical: GNOME
// Shell holds every later banner, and its sound, behind a critical one.
TEST_F(NotificationCenterTest, TheBodyIsEscapedForMarkupAndOnlyAPaymentRequestStaysOnScreen) {
    FakeNotificationServer server(bus.connect(), kMarkupServer);
    start();
    for (const char* identifier : {"shared:h:notice:payable", "shared:h:payable:1"}) {
        NotificationRequest posted = request(identifier);
        posted.content.body = "<b>Tom & Léa</b>";
        EXPECT_EQ(add(posted), std::nullopt);
    }
    const auto& calls = server.notifyCalls();
    ASSERT_EQ(calls.size(), 2U);
    for (const auto& call : calls) {
        EXPECT_EQ(call.body, "&lt;b&gt;Tom &amp; Léa&lt;/b&gt;");
        EXPECT_EQ(call.hint("urgency"), std::nullopt);
    }
    EXPECT_EQ(calls[0].hint("resident"), std::nullopt);
    EXPECT_EQ(calls[0].expireTimeout, -1);
    EXPECT_EQ(calls[1].hint("resident"), "true");
    EXPECT_EQ(calls[1].expireTimeout, 0);
}

TEST_F(NotificationCenterTest, ANewServerIsAskedForItsCapabilitiesAndShowsNothingOfTheOldOnes) {
    auto first = std::make_unique<FakeNotificationServer>(bus.connect(), kPlainServer);
    start();
    EXPECT_EQ(add(request("shared:h:notice:1", true)), std::nullopt);
    EXPECT_EQ(played, Strings{kChime});

    first->leave();
    FakeNotificationServer second(bus.connect(), kSoundServer);
    ASSERT_TRUE(second.owns());
    ASSERT_TRUE(flushBus(connection));
    EXPECT_EQ(delivered(), Strings{}) << "the notifications went with the server that showed them";
    EXPECT_EQ(add(request("shared:h:notice:1", true)), std::nullopt);
    ASSERT_EQ(second.notifyCalls().size(), 1U);
    EXPECT_EQ(second.notifyCalls()[0].replacesId, 0U);
    EXPECT_NE(second.notifyCalls()[0].hint("sound-file"), std::nullopt);
    EXPECT_EQ(played, Strings{kChime}) << "the new server plays the chime itself";
}

TEST_F(NotificationCenterTest, OnlyTheDefaultActionFromTheShowingServerIsAClick) {
    FakeNotificationServer server(bus.connect(), kPlainServer);
    start();
    EXPECT_EQ(add(request("shared:h:notice:1")), std::nullopt);
    EXPECT_EQ(add(request("shared:h:notice:2")), std::nullopt);
    const guint32 first = server.notifyCalls()[0].id, second = server.notifyCalls()[1].id;

    // Neither another action, an unknown id nor the same signals from another sender count.
    server.emit("ActionInvoked", g_variant_new("(us)", first, "other"));
    server.emit("ActionInvoked", g_variant_new("(us)", second + 1, "default"));
    GDBusConnection* impostor = bus.connect();
    const char* path = "/org/freedesktop/Notifications";
    const char* interface = "org.freedesktop.Notifications";
    broadcast(impostor, path, interface, "ActionInvoked", g_variant_new("(us)", first, "default"));
    broadcast(impostor, path, interface, "NotificationClosed", g_variant_new("(uu)", first, 2U));
    ASSERT_TRUE(flushSignals(server.connection(), connection));
    ASSERT_TRUE(flushSignals(impostor, connection));
    g_object_unref(impostor);
    EXPECT_TRUE(clicks.received.empty());
    EXPECT_EQ(delivered(), (Strings{"shared:h:notice:1", "shared:h:notice:2"}));

    ASSERT_TRUE(server.click(second));
    ASSERT_TRUE(runMainLoopUntil([this] { return !clicks.received.empty(); }));
    ASSERT_EQ(clicks.received.size(), 1U);
    EXPECT_EQ(clicks.received[0].identifier, "shared:h:notice:2");
}

TEST_F(NotificationCenterTest, ANotificationThatCannotBeShownIsRefusedAndNotListed) {
    const struct {
        const char* name;
        bool server, bus;
        const char* says;  // in the error text
    } cases[] = {
        {"no server", false, true, ""},
        {"no session bus", false, false, ""},
        {"refused by the server", true, true, "Notifications are turned off"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<FakeNotificationServer> server;
        if (c.server) server.emplace(bus.connect(), kPlainServer).refuse();
        centre = makeCentre(c.bus ? connection : nullptr);
        const auto error = add(request("shared:h:notice:1"));
        ASSERT_TRUE(error.has_value());
        EXPECT_FALSE(error->empty());
        EXPECT_NE(error->find(c.says), std::string::npos) << *error;
        EXPECT_EQ(delivered(), Strings{});
    }
}

// A later run posts what an earlier one still shows again, silently, in its place (the desktops
// show that it then hears its clicks); one the server no longer shows comes back under a new
// id, and is closed at once and forgotten.
TEST_F(NotificationCenterTest, ALaterRunClosesWhatTheServerNoLongerShowedAtOnce) {
    FakeNotificationServer server(bus.connect(), kPlainServer);
    start();
    for (const char* identifier : {"shared:h:notice:1", "shared:h:notice:2"})
        EXPECT_EQ(add(request(identifier, true)), std::nullopt);
    const auto ids = server.notifyCalls();
    centre.reset();
    // While no run is there, the user opens the second one: the server tells nobody.
    ASSERT_TRUE(server.click(ids[1].id));
    played.clear();
    GDBusConnection* again = bus.connect();
    centre = makeCentre(again);
    g_object_unref(again);

    EXPECT_EQ(delivered(), Strings{"shared:h:notice:1"});
    const std::vector<NotifyCall> reposts(server.notifyCalls().begin() + 2, server.notifyCalls().end());
    ASSERT_EQ(reposts.size(), 2U);
    EXPECT_EQ(reposts[0].id, ids[0].id);
    EXPECT_EQ(reposts[1].replacesId, ids[1].id);
    EXPECT_EQ(reposts[1].hint("suppress-sound"), "true");
    ASSERT_TRUE(runMainLoopUntil([&server] { return !server.closeCalls().empty(); }));
    EXPECT_EQ(server.closeCalls(), std::vector<std::uint32_t>{reposts[1].id});
    EXPECT_EQ(played, Strings{});
}

TEST_F(NotificationCenterTest, WhatAnotherSessionShowedIsForgotten) {
    {
        FakeNotificationServer server(bus.connect(), kPlainServer);
        start();
        EXPECT_EQ(add(request("shared:h:notice:1")), std::nullopt);
        centre.reset();
    }
    PrivateBus otherBus;
    FakeNotificationServer server(otherBus.connect(), kPlainServer);
    GDBusConnection* other = otherBus.connect();
    centre = makeCentre(other);
    g_object_unref(other);
    EXPECT_EQ(delivered(), Strings{});
    EXPECT_EQ(add(request("shared:h:notice:1")), std::nullopt);
    EXPECT_EQ(server.notifyCalls()[0].replacesId, 0U);
    centre.reset();
}

// The desktops may bring a clicked payment request back in time without it: only this shows
// that the delay is kept.
TEST_F(NotificationCenterTest, ADelayedRequestIsPostedAfterItsDelay) {
    FakeNotificationServer server(bus.connect(), kPlainServer);
    start();
    NotificationRequest later = request("shared:h:payable:5");
    later.delaySeconds = 0.3;
    const gint64 started = g_get_monotonic_time();
    EXPECT_EQ(add(later), std::nullopt);
    EXPECT_GE(g_get_monotonic_time() - started, 300 * 1000);
    EXPECT_EQ(server.notifyCalls().size(), 1U);
}

// ---- The session manager client ----

constexpr const char* kClientPath = "/org/gnome/SessionManager/Client1";
constexpr const char* kClientInterface = "org.gnome.SessionManager.ClientPrivate";

class SessionManagerClientTest : public OnPrivateBus {
protected:
    void startClient(const std::string& startupId = "") {
        client = std::make_unique<gtk::SessionManagerClient>(connection, "fr.velmora.universal", startupId,
                                                             [this] { ++ends; });
    }
    void startRegistered() {
        ASSERT_TRUE(manager.own());
        startClient();
        ASSERT_TRUE(runMainLoopUntil([this] { return client->registered(); }));
        // GDBus learns who owns the manager's name before it passes on the manager's signals.
        ASSERT_TRUE(flushBus(connection));
    }
    // Lets what was sent so far reach the client, and its answers reach the manager.
    void exchange(GDBusConnection* from) {
        ASSERT_TRUE(flushSignals(from, connection));
        ASSERT_TRUE(flushSignals(connection, manager.connection()));
    }

    FakeSessionManager manager{bus.connect()};
    std::unique_ptr<gtk::SessionManagerClient> client;
    int ends = 0;
};

TEST_F(SessionManagerClientTest, WithoutASessionManagerOrBusNothingIsAsked) {
    EXPECT_FALSE(gtk::SessionManagerClient(nullptr, "fr.velmora.universal", "", [] {}).registered());
    startClient();  // the manager's name has no owner yet
    // A manager that comes later is not asked either: registering belongs to the launch.
    ASSERT_TRUE(manager.own());
    ASSERT_TRUE(flushBus(connection));
    ASSERT_TRUE(flushSignals(manager.connection(), connection));
    EXPECT_TRUE(manager.log().empty());
    EXPECT_FALSE(client->registered());
}

// The end of the session as gnome-session runs it, QueryEndSession and then EndSession each
// agreed to, is tested end to end (tests/e2e/test_background.py); the other two ask no answer.
TEST_F(SessionManagerClientTest, CancelEndSessionAndStopAreNotAnswered) {
    startRegistered();
    for (const auto& [signal, endsAfter] : {std::pair{"CancelEndSession", 0}, {"Stop", 1}}) {
        SCOPED_TRACE(signal);
        manager.emitToClients(signal);
        exchange(manager.connection());
        EXPECT_EQ(ends, endsAfter);
    }
    EXPECT_EQ(manager.count("response "), 0U);
}

TEST_F(SessionManagerClientTest, SignalsFromAnotherSenderOrForAnotherClientAreNotOurs) {
    startRegistered();
    GDBusConnection* impostor = bus.connect();
    broadcast(impostor, kClientPath, kClientInterface, "EndSession", g_variant_new("(u)", 0U));
    broadcast(impostor, kClientPath, kClientInterface, "Stop", nullptr);
    broadcast(manager.connection(), "/org/gnome/SessionManager/Client2", kClientInterface, "EndSession",
              g_variant_new("(u)", 0U));
    exchange(impostor);
    exchange(manager.connection());
    g_object_unref(impostor);
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(manager.count("response "), 0U);
}

TEST_F(SessionManagerClientTest, ARefusedOrAbandonedRegistrationLeavesTheClientOut) {
    ASSERT_TRUE(manager.own());
    for (const bool abandoned : {true, false}) {
        SCOPED_TRACE(abandoned ? "abandoned" : "refused");
        abandoned ? manager.holdRegistration() : manager.refuse();
        startClient();
        ASSERT_TRUE(runMainLoopUntil([&] { return manager.count("register ") == (abandoned ? 1U : 2U); }));
        ASSERT_TRUE(flushBus(connection));
        EXPECT_FALSE(client->registered());
        if (abandoned) {
            client.reset();  // while the registration is under way
            manager.answerHeld();
        }
        broadcast(manager.connection(), kClientPath, kClientInterface, "EndSession", g_variant_new("(u)", 0U));
        exchange(manager.connection());
        EXPECT_EQ(ends, 0);
    }
}

// ---- The shutdown watch ----

class ShutdownInhibitorTest : public OnPrivateBus {
protected:
    void startWatch() {
        watch = std::make_unique<gtk::ShutdownInhibitor>(connection, [this] { ++shutdowns; });
    }
    bool holdsSoon() {
        return runMainLoopUntil([this] { return watch->holdsInhibitor(); });
    }

    FakeLogind logind{bus.connect()};
    std::unique_ptr<gtk::ShutdownInhibitor> watch;
    int shutdowns = 0;
};

TEST_F(ShutdownInhibitorTest, HoldsADelayInhibitorUntilTheShutdownAndAgainWhenItIsCalledOff) {
    ASSERT_TRUE(logind.own());
    startWatch();
    ASSERT_TRUE(holdsSoon());
    logind.announceShutdown(false);  // nothing to do while the inhibitor is held
    ASSERT_TRUE(flushSignals(logind.connection(), connection));
    EXPECT_EQ(logind.count("inhibit "), 1U);
    EXPECT_FALSE(logind.released(0));

    logind.announceShutdown(true);
    ASSERT_TRUE(runMainLoopUntil([this] { return shutdowns == 1; }));
    EXPECT_FALSE(watch->holdsInhibitor());
    EXPECT_TRUE(runMainLoopUntil([this] { return logind.released(0); }));

    logind.announceShutdown(false);
    ASSERT_TRUE(runMainLoopUntil([this] { return logind.count("inhibit ") == 2 && watch->holdsInhibitor(); }));
    EXPECT_EQ(shutdowns, 1);
    EXPECT_FALSE(logind.released(1));
}

TEST_F(ShutdownInhibitorTest, OnlyLogindMayAnnounceAShutdownInItsOwnShape) {
    ASSERT_TRUE(logind.own());
    startWatch();
    ASSERT_TRUE(holdsSoon());
    ASSERT_TRUE(flushBus(connection));
    GDBusConnection* impostor = bus.connect();
    const char* path = "/org/freedesktop/login1";
    const char* interface = "org.freedesktop.login1.Manager";
    broadcast(impostor, path, interface, "PrepareForShutdown", g_variant_new("(b)", TRUE));
    broadcast(logind.connection(), path, interface, "PrepareForShutdown", g_variant_new("(s)", "true"));
    ASSERT_TRUE(flushSignals(impostor, connection));
    ASSERT_TRUE(flushSignals(logind.connection(), connection));
    g_object_unref(impostor);
    EXPECT_EQ(shutdowns, 0);
    EXPECT_TRUE(watch->holdsInhibitor());
}

TEST_F(ShutdownInhibitorTest, ARefusedInhibitorStillHearsTheShutdown) {
    ASSERT_TRUE(logind.own());
    logind.refuse();
    startWatch();
    ASSERT_TRUE(runMainLoopUntil([this] { return logind.count("inhibit ") == 1; }));
    ASSERT_TRUE(flushBus(connection));
    EXPECT_FALSE(watch->holdsInhibitor());
    logind.announceShutdown(true);
    EXPECT_TRUE(runMainLoopUntil([this] { return shutdowns == 1; }));
}

TEST_F(ShutdownInhibitorTest, EndingTheWatchReleasesTheInhibitorEvenWhileItIsAskedFor) {
    ASSERT_TRUE(logind.own());
    startWatch();
    watch.reset();  // the answer is still on its way: its descriptor is closed with it
    ASSERT_TRUE(runMainLoopUntil([this] { return logind.released(0); }));
    startWatch();
    ASSERT_TRUE(holdsSoon());
    watch.reset();
    EXPECT_TRUE(runMainLoopUntil([this] { return logind.released(1); }));
    logind.announceShutdown(true);
    ASSERT_TRUE(flushSignals(logind.connection(), connection));
    EXPECT_EQ(shutdowns, 0) << "an ended watch no longer listens";
}

}  // namespace
}  // namespace velmora_test
