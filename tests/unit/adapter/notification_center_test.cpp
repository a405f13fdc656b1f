// The notification centre against a notification server of the test's own on a private bus:
// what goes over the bus for each request, and what the centre makes of the server's signals.
#include "platform/gtk/notification_center.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake_notification_server.h"
#include "temp_folder.h"

namespace adapter_test {
namespace {

using platform::NotificationRequest;

constexpr const char* kChime = "/opt/Velmora.app/Contents/Resources/carillon-doux.wav";
const std::vector<std::string> kPlainServer = {"actions", "body"};
const std::vector<std::string> kSoundServer = {"actions", "body", "sound"};

NotificationRequest request(const std::string& identifier, const std::string& title = "Nouvel avis",
                            bool sound = false) {
    return {identifier, {title, "Corps de l’avis", sound, {{"url", "https://h/admin?noticeId=" + identifier}}}, {}};
}

class Clicks final : public platform::NotificationCenterDelegate {
public:
    void didReceiveNotificationResponse(const NotificationRequest& request, std::function<void()> done) override {
        received.push_back(request);
        done();
    }
    std::vector<NotificationRequest> received;
};

class NotificationCenterTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
        connection = bus.connect();
        ASSERT_NE(connection, nullptr);
    }

    void TearDown() override {
        centre.reset();
        g_clear_object(&connection);
    }

    std::unique_ptr<gtk::DBusNotificationCenter> makeCentre(GDBusConnection* on) {
        gtk::DBusNotificationCenter::Settings settings{ledger, kChime,
                                                       [this](const std::string& file) { played.push_back(file); }};
        auto made = std::make_unique<gtk::DBusNotificationCenter>(context, on, settings);
        made->setDelegate(&clicks);
        return made;
    }

    void start() { centre = makeCentre(connection); }

    // Posts `posted` and waits for the answer: nullopt when it was shown, the error otherwise.
    std::optional<std::string> add(const NotificationRequest& posted) {
        bool answered = false;
        std::optional<std::string> outcome;
        centre->add(posted, [&](std::optional<std::string> error) {
            answered = true;
            outcome = std::move(error);
        });
        EXPECT_TRUE(runMainLoopUntil([&answered] { return answered; })) << "add never answered";
        return outcome;
    }

    std::vector<std::string> delivered() {
        std::optional<std::vector<NotificationRequest>> listed;
        centre->delivered([&listed](std::vector<NotificationRequest> requests) { listed = std::move(requests); });
        EXPECT_TRUE(runMainLoopUntil([&listed] { return listed.has_value(); })) << "delivered never answered";
        std::vector<std::string> identifiers;
        for (const auto& item : listed.value_or(std::vector<NotificationRequest>{}))
            identifiers.push_back(item.identifier);
        return identifiers;
    }

    TempFolder folder;
    std::string ledger = folder / "state/fr.velmora.universal/notifications";
    PrivateBus bus{folder.path};
    GDBusConnection* connection = nullptr;
    gtk::Context context;
    Clicks clicks;
    std::vector<std::string> played;
    std::unique_ptr<gtk::DBusNotificationCenter> centre;
};

TEST_F(NotificationCenterTest, PostsWithTheApplicationsNameIconActionsAndDesktopEntry) {
    FakeNotificationServer server(bus, kPlainServer);
    ASSERT_TRUE(server.owns());
    start();

    EXPECT_EQ(add(request("shared:h:notice:1", "Nouvel avis")), std::nullopt);

    ASSERT_EQ(server.notifyCalls().size(), 1U);
    const NotifyCall& call = server.notifyCalls()[0];
    EXPECT_EQ(call.signature, "susssasa{sv}i");
    EXPECT_EQ(call.appName, "Velmóra");
    EXPECT_EQ(call.replacesId, 0U);
    EXPECT_EQ(call.appIcon, "fr.velmora.universal");
    EXPECT_EQ(call.summary, "Nouvel avis");
    EXPECT_EQ(call.body, "Corps de l’avis");
    EXPECT_EQ(call.actions, (std::vector<std::string>{"default", "Ouvrir"}));
    EXPECT_EQ(call.hints.at("desktop-entry"), "'fr.velmora.universal'");
    EXPECT_EQ(call.expireTimeout, -1);
    EXPECT_FALSE(call.hints.contains("resident"));
    EXPECT_FALSE(call.hints.contains("urgency"));
    EXPECT_EQ(delivered(), (std::vector<std::string>{"shared:h:notice:1"}));
}

TEST_F(NotificationCenterTest, TheChimeIsTheServersSoundFileOrPlayedHere) {
    const struct {
        const char* name;
        std::vector<std::string> capabilities;
        bool sound;
        std::optional<std::string> soundFile;
        std::optional<std::string> suppressSound;
        std::vector<std::string> playedHere;
    } cases[] = {
        {"server plays sound files", kSoundServer, true, std::string("'") + kChime + "'", std::nullopt, {}},
        {"server without sound", kPlainServer, true, std::nullopt, "true", {kChime}},
        {"silent, server plays sound files", kSoundServer, false, std::nullopt, "true", {}},
        {"silent, server without sound", kPlainServer, false, std::nullopt, "true", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        played.clear();
        FakeNotificationServer server(bus, c.capabilities);
        ASSERT_TRUE(server.owns());
        start();

        EXPECT_EQ(add(request("shared:h:notice:1", "Avis", c.sound)), std::nullopt);

        ASSERT_EQ(server.notifyCalls().size(), 1U);
        const auto& hints = server.notifyCalls()[0].hints;
        const auto hint = [&hints](const char* key) {
            const auto found = hints.find(key);
            return found == hints.end() ? std::nullopt : std::optional<std::string>(found->second);
        };
        EXPECT_EQ(hint("sound-file"), c.soundFile);
        EXPECT_EQ(hint("suppress-sound"), c.suppressSound);
        EXPECT_EQ(played, c.playedHere);
        centre.reset();
        server.quit();
    }
}

TEST_F(NotificationCenterTest, PaymentRequestsStayOnScreenAsCritical) {
    FakeNotificationServer server(bus, kPlainServer);
    start();

    EXPECT_EQ(add(request("shared:h:payable:5")), std::nullopt);
    EXPECT_EQ(add(request("shared:h:notice:payable")), std::nullopt);  // ":payable:" is not in it

    ASSERT_EQ(server.notifyCalls().size(), 2U);
    const NotifyCall& payable = server.notifyCalls()[0];
    EXPECT_EQ(payable.expireTimeout, 0);
    EXPECT_EQ(payable.hints.at("resident"), "true");
    EXPECT_EQ(payable.hints.at("urgency"), "byte 0x02");
    const NotifyCall& notice = server.notifyCalls()[1];
    EXPECT_EQ(notice.expireTimeout, -1);
    EXPECT_FALSE(notice.hints.contains("resident"));
}

TEST_F(NotificationCenterTest, ARepostReplacesTheDeliveredNotification) {
    FakeNotificationServer server(bus, kPlainServer);
    start();

    EXPECT_EQ(add(request("shared:h:notice:1", "Première")), std::nullopt);
    EXPECT_EQ(add(request("shared:h:notice:2")), std::nullopt);
    EXPECT_EQ(add(request("shared:h:notice:1", "Seconde")), std::nullopt);

    ASSERT_EQ(server.notifyCalls().size(), 3U);
    EXPECT_EQ(server.notifyCalls()[2].replacesId, server.notifyCalls()[0].id);
    EXPECT_EQ(server.notifyCalls()[2].id, server.notifyCalls()[0].id);
    EXPECT_EQ(delivered(), (std::vector<std::string>{"shared:h:notice:1", "shared:h:notice:2"}));
}

TEST_F(NotificationCenterTest, TheBodyIsEscapedForServersThatReadMarkup) {
    const struct {
        const char* name;
        std::vector<std::string> capabilities;
        const char* body;
    } cases[] = {
        {"markup", {"actions", "body", "body-markup"}, "&lt;b&gt;Tom &amp; Léa&lt;/b&gt;"},
        {"plain", kPlainServer, "<b>Tom & Léa</b>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeNotificationServer server(bus, c.capabilities);
        start();
        NotificationRequest posted = request("shared:h:notice:1");
        posted.content.body = "<b>Tom & Léa</b>";

        EXPECT_EQ(add(posted), std::nullopt);

        ASSERT_EQ(server.notifyCalls().size(), 1U);
        EXPECT_EQ(server.notifyCalls()[0].body, c.body);
        centre.reset();
        server.quit();
    }
}

TEST_F(NotificationCenterTest, AsksForCapabilitiesOnceAndAgainForANewServer) {
    auto first = std::make_unique<FakeNotificationServer>(bus, kPlainServer);
    start();
    EXPECT_EQ(add(request("shared:h:notice:1", "Avis", true)), std::nullopt);
    EXPECT_EQ(add(request("shared:h:notice:2", "Avis", true)), std::nullopt);
    EXPECT_EQ(first->capabilityCalls(), 1);
    EXPECT_EQ(played.size(), 2U);

    first->quit();
    FakeNotificationServer second(bus, kSoundServer);
    ASSERT_TRUE(second.owns());
    ASSERT_TRUE(flushBus(connection));
    // The notifications went with the server that showed them.
    EXPECT_EQ(delivered(), std::vector<std::string>{});

    EXPECT_EQ(add(request("shared:h:notice:1", "Avis", true)), std::nullopt);

    EXPECT_EQ(second.capabilityCalls(), 1);
    ASSERT_EQ(second.notifyCalls().size(), 1U);
    EXPECT_EQ(second.notifyCalls()[0].replacesId, 0U);
    EXPECT_TRUE(second.notifyCalls()[0].hints.contains("sound-file"));
    EXPECT_EQ(played.size(), 2U);
}

TEST_F(NotificationCenterTest, AClosedNotificationLeavesTheLedger) {
    FakeNotificationServer server(bus, kPlainServer);
    start();
    EXPECT_EQ(add(request("shared:h:notice:1")), std::nullopt);
    EXPECT_EQ(add(request("shared:h:notice:2")), std::nullopt);

    server.emit("NotificationClosed", g_variant_new("(uu)", server.notifyCalls()[0].id, 2U));
    ASSERT_TRUE(flushSignals(server.connection(), connection));

    EXPECT_EQ(delivered(), (std::vector<std::string>{"shared:h:notice:2"}));
}

TEST_F(NotificationCenterTest, ADefaultActionIsAClickWithTheRequestsIdentifierAndUserInfo) {
    FakeNotificationServer server(bus, kPlainServer);
    start();
    EXPECT_EQ(add(request("shared:h:notice:1", "Avis")), std::nullopt);
    EXPECT_EQ(add(request("shared:h:notice:2", "Autre")), std::nullopt);

    server.emit("ActionInvoked", g_variant_new("(us)", server.notifyCalls()[1].id, "default"));
    ASSERT_TRUE(runMainLoopUntil([this] { return !clicks.received.empty(); }));

    ASSERT_EQ(clicks.received.size(), 1U);
    const NotificationRequest& clicked = clicks.received[0];
    EXPECT_EQ(clicked.identifier, "shared:h:notice:2");
    EXPECT_EQ(clicked.content.title, "Autre");
    EXPECT_EQ(clicked.content.body, "Corps de l’avis");
    EXPECT_EQ(clicked.content.userInfo,
              (std::map<std::string, std::string>{{"url", "https://h/admin?noticeId=shared:h:notice:2"}}));
}

TEST_F(NotificationCenterTest, OnlyTheDefaultActionOfTheShowingServerCounts) {
    FakeNotificationServer server(bus, kPlainServer);
    start();
    EXPECT_EQ(add(request("shared:h:notice:1")), std::nullopt);
    const guint32 id = server.notifyCalls()[0].id;
    GDBusConnection* impostor = bus.connect();
    ASSERT_NE(impostor, nullptr);

    server.emit("ActionInvoked", g_variant_new("(us)", id, "other"));
    server.emit("ActionInvoked", g_variant_new("(us)", id + 1, "default"));
    g_dbus_connection_emit_signal(impostor, g_dbus_connection_get_unique_name(connection),
                                  "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked",
                                  g_variant_new("(us)", id, "default"), nullptr);
    g_dbus_connection_emit_signal(impostor, g_dbus_connection_get_unique_name(connection),
                                  "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                  "NotificationClosed", g_variant_new("(uu)", id, 2U), nullptr);
    ASSERT_TRUE(flushSignals(server.connection(), connection));
    ASSERT_TRUE(flushSignals(impostor, connection));

    EXPECT_TRUE(clicks.received.empty());
    EXPECT_EQ(delivered(), (std::vector<std::string>{"shared:h:notice:1"}));
    g_object_unref(impostor);
}

TEST_F(NotificationCenterTest, WithoutAServerANotificationIsRefused) {
    start();

    const auto error = add(request("shared:h:notice:1"));

    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->empty());
    EXPECT_EQ(delivered(), std::vector<std::string>{});
}

TEST_F(NotificationCenterTest, WithoutABusANotificationIsRefused) {
    centre = makeCentre(nullptr);

    const auto error = add(request("shared:h:notice:1"));

    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->empty());
    EXPECT_EQ(delivered(), std::vector<std::string>{});
}

TEST_F(NotificationCenterTest, ARefusalOfTheServerIsReported) {
    FakeNotificationServer server(bus, kPlainServer);
    server.refuseWith("org.freedesktop.DBus.Error.AccessDenied");
    start();

    const auto error = add(request("shared:h:notice:1"));

    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("Notifications are turned off"), std::string::npos) << *error;
    EXPECT_EQ(delivered(), std::vector<std::string>{});
}

TEST_F(NotificationCenterTest, RemovingClosesKnownNotificationsOnly) {
    FakeNotificationServer server(bus, kPlainServer);
    start();
    EXPECT_EQ(add(request("shared:h:notice:1")), std::nullopt);
    EXPECT_EQ(add(request("shared:h:notice:2")), std::nullopt);

    centre->removeDelivered({"shared:h:notice:1", "shared:h:notice:9"});
    ASSERT_TRUE(runMainLoopUntil([&server] { return !server.closeCalls().empty(); }));

    EXPECT_EQ(server.closeCalls(), std::vector<std::uint32_t>{server.notifyCalls()[0].id});
    EXPECT_EQ(delivered(), (std::vector<std::string>{"shared:h:notice:2"}));
}

TEST_F(NotificationCenterTest, TheNextRunReplacesAndClosesWhatThisOneShowed) {
    FakeNotificationServer server(bus, kPlainServer);
    start();
    EXPECT_EQ(add(request("shared:h:notice:1", "Avis")), std::nullopt);
    EXPECT_EQ(add(request("shared:h:notice:2")), std::nullopt);
    const guint32 first = server.notifyCalls()[0].id;
    const guint32 second = server.notifyCalls()[1].id;
    centre.reset();

    GDBusConnection* again = bus.connect();
    centre = makeCentre(again);
    g_object_unref(again);

    EXPECT_EQ(delivered(), (std::vector<std::string>{"shared:h:notice:1", "shared:h:notice:2"}));
    EXPECT_EQ(add(request("shared:h:notice:1", "Avis modifié")), std::nullopt);
    EXPECT_EQ(server.notifyCalls().back().replacesId, first);
    centre->removeDelivered({"shared:h:notice:2"});
    ASSERT_TRUE(runMainLoopUntil([&server] { return !server.closeCalls().empty(); }));
    EXPECT_EQ(server.closeCalls(), std::vector<std::uint32_t>{second});
}

TEST_F(NotificationCenterTest, ClicksOnWhatThePreviousRunShowedReachTheDelegate) {
    FakeNotificationServer server(bus, kPlainServer);
    start();
    EXPECT_EQ(add(request("shared:h:notice:1", "Avis")), std::nullopt);
    centre.reset();
    GDBusConnection* again = bus.connect();
    centre = makeCentre(again);
    EXPECT_EQ(delivered().size(), 1U);

    server.emit("ActionInvoked", g_variant_new("(us)", server.notifyCalls()[0].id, "default"),
                g_dbus_connection_get_unique_name(again));
    ASSERT_TRUE(runMainLoopUntil([this] { return !clicks.received.empty(); }));

    EXPECT_EQ(clicks.received[0].identifier, "shared:h:notice:1");
    EXPECT_EQ(clicks.received[0].content.userInfo.at("url"), "https://h/admin?noticeId=shared:h:notice:1");
    g_object_unref(again);
}

TEST_F(NotificationCenterTest, WhatAnotherSessionShowedIsForgotten) {
    {
        FakeNotificationServer server(bus, kPlainServer);
        start();
        EXPECT_EQ(add(request("shared:h:notice:1")), std::nullopt);
        centre.reset();
    }
    TempFolder otherFolder;
    PrivateBus otherBus(otherFolder.path);
    FakeNotificationServer server(otherBus, kPlainServer);
    GDBusConnection* other = otherBus.connect();
    ASSERT_NE(other, nullptr);
    centre = makeCentre(other);

    EXPECT_EQ(delivered(), std::vector<std::string>{});
    EXPECT_EQ(add(request("shared:h:notice:1")), std::nullopt);
    EXPECT_EQ(server.notifyCalls()[0].replacesId, 0U);
    centre.reset();
    g_object_unref(other);
}

TEST_F(NotificationCenterTest, ADelayedRequestIsPostedAfterItsDelay) {
    FakeNotificationServer server(bus, kPlainServer);
    start();
    NotificationRequest later = request("shared:h:payable:5");
    later.delaySeconds = 0.3;

    const gint64 start = g_get_monotonic_time();
    EXPECT_EQ(add(later), std::nullopt);

    EXPECT_GE(g_get_monotonic_time() - start, 300 * 1000);
    EXPECT_EQ(server.notifyCalls().size(), 1U);
}

TEST_F(NotificationCenterTest, AuthorisationIsGranted) {
    start();
    std::optional<bool> granted;
    centre->requestAuthorization([&granted](bool answer) { granted = answer; });
    EXPECT_EQ(granted, true);
}

}  // namespace
}  // namespace adapter_test
