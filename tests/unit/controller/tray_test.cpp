// The icon in the tray and the unread badge in the docks: what the icon's menu holds and does,
// how its status and tooltip follow the application menu, and which count the docks are sent.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using Badges = std::vector<std::optional<std::int64_t>>;

constexpr const char* kTestNoticePrefix = "notifications.add(velmora-notification-test-";

fakes::FakeStatusItem& tray(Rig& r) { return *r.fake.statusItems.item; }

// One row an item of the icon's menu: "title|action", with "|run" when it has a handler.
Calls trayRows(Rig& r) {
    Calls out;
    for (const auto& item : tray(r).items.items)
        out.push_back(
            item->separator ? "-" : item->command.title + "|" + item->command.action + (item->handler ? "|run" : ""));
    return out;
}

std::string trayStatus(Rig& r) { return tray(r).items.findAction("")->title(); }

JsValue entry(const char* id, JsValue::Object members = {}) {
    members.emplace("id", id);
    members.emplace("kind", "notice");
    return {std::move(members)};
}

// `count` unread entries.
JsValue::Array unread(int count) {
    JsValue::Array entries;
    for (int n = 1; n <= count; ++n) entries.push_back(entry(std::to_string(n).c_str()));
    return entries;
}

TEST(StatusItem, ShowsTheProductWithTheOpenItemAndTheServiceItemsOfTheApplicationMenu) {
    Rig r;
    r.launch();
    EXPECT_EQ(r.fake.log.count("statusItems.makeStatusItem(Velmóra)"), 1);
    EXPECT_EQ(trayRows(r), (Calls{
                               "Ouvrir Velmóra|showNativeWindow|run",
                               "-",
                               "Notifications : connexion nécessaire|",  // insensitive
                               "Tester la notification Velmóra|testNativeNotice|run",
                               "Arrêter Velmóra et les notifications|stopNativeService|run",
                           }));
    EXPECT_EQ(tray(r).toolTip, "Velmóra|Notifications : connexion nécessaire");
}

// What the platform is asked for, with the random part of a test notification's id left out.
Calls effects(const Rig& r) {
    Calls calls = r.fake.log.calls;
    for (auto& call : calls)
        if (call.starts_with(kTestNoticePrefix)) call = kTestNoticePrefix;
    return calls;
}

TEST(StatusItem, EachItemAndTheIconDoWhatTheApplicationsOwnWayDoes) {
    const struct {
        const char* name;
        std::function<void(Rig&)> fromTray;
        std::function<void(Rig&)> fromApplication;
    } cases[] = {
        {"open: a reopen", [](Rig& r) { tray(r).items.choose("showNativeWindow"); },
         [](Rig& r) { r.controller->applicationShouldHandleReopen(false); }},
        {"the icon itself: a reopen", [](Rig& r) { tray(r).activate(); },
         [](Rig& r) { r.controller->applicationShouldHandleReopen(false); }},
        {"test notification", [](Rig& r) { tray(r).items.choose("testNativeNotice"); },
         [](Rig& r) { r.menu().choose("testNativeNotice"); }},
        {"stop", [](Rig& r) { tray(r).items.choose("stopNativeService"); },
         [](Rig& r) { r.menu().choose("stopNativeService"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // In the background on the console, a connection pending: a reopen also loads again.
        Rig tray, application;
        for (Rig* r : {&tray, &application}) {
            r->console();
            r->controller->applicationShouldTerminate();
            r->controller->didFailProvisionalNavigation({7, "Connexion refusée"});
            r->fake.log.clear();
        }
        c.fromTray(tray);
        c.fromApplication(application);
        EXPECT_FALSE(effects(tray).empty());
        EXPECT_EQ(effects(tray), effects(application));
        EXPECT_EQ(tray.window().visible, application.window().visible);
        EXPECT_EQ(tray.fake.application.terminated, application.fake.application.terminated);
    }
}

// The status line of the icon's menu and the tooltip's first line are the application menu's
// status, whoever set it; the tooltip's second line is the count of the last signed-in poll.
TEST(StatusItem, StatusAndToolTipFollowTheApplicationMenu) {
    const struct {
        const char* name;
        std::function<void(Rig&)> happen;
        const char* toolTip;
    } cases[] = {
        {"launched", [](Rig&) {}, "Notifications : connexion nécessaire"},
        {"signed in, two unread", [](Rig& r) { r.poll(signedIn(unread(2))); },
         "Notifications synchronisées : actives\n2 notifications non lues"},
        {"signed in, one unread", [](Rig& r) { r.poll(signedIn(unread(1))); },
         "Notifications synchronisées : actives\n1 notification non lue"},
        {"signed in, none unread", [](Rig& r) { r.poll(signedIn()); },
         "Notifications synchronisées : actives\nAucune notification non lue"},
        {"signed out after a count",
         [](Rig& r) {
             r.poll(signedIn(unread(2)));
             r.poll(JsValue::Object{{"authenticated", false}});
         },
         "Notifications : ouvrez Velmóra pour vous connecter"},
        // The count stays until the next tick finds no console to ask.
        {"a load failed",
         [](Rig& r) {
             r.poll(signedIn(unread(3)));
             r.controller->didFailProvisionalNavigation({7, "Connexion refusée"});
         },
         "Connexion en cours — nouvelle tentative automatique\n3 notifications non lues"},
        {"a load failed, then a tick",
         [](Rig& r) {
             r.poll(signedIn(unread(3)));
             r.controller->didFailProvisionalNavigation({7, "Connexion refusée"});
             r.controller->pollNativeNotifications();
         },
         "Connexion en cours — nouvelle tentative automatique"},
        {"a notification refused",
         [](Rig& r) {
             r.fake.notifications.refusal = "Non autorisé";
             r.poll(signedIn(unread(1)));
         },
         "Notifications : autorisation à vérifier\n1 notification non lue"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.console();
        c.happen(r);
        EXPECT_EQ(trayStatus(r), r.status());
        EXPECT_EQ(tray(r).toolTip, std::string("Velmóra|") + c.toolTip);
    }
}

TEST(UnreadBadge, CountsEachEntryNeitherReadNorDismissedOnce) {
    const JsValue::Array noIds;
    const struct {
        const char* name;
        JsValue::Array entries;
        JsValue readIds;
        std::optional<std::int64_t> badge;
    } cases[] = {
        {"three unread", unread(3), noIds, 3},
        {"read_at as text", {entry("1", {{"read_at", "2025-03-01T10:00:00Z"}}), entry("2")}, noIds, 1},
        {"read_at null or a number is unread",
         {entry("1", {{"read_at", JsValue()}}), entry("2", {{"read_at", 1}})},
         noIds,
         2},
        {"dismissed as 1 or true",
         {entry("1", {{"dismissed", 1}}), entry("2", {{"dismissed", true}}), entry("3")},
         noIds,
         1},
        {"dismissed as 0, 2 or text is not",
         {entry("1", {{"dismissed", 0}}), entry("2", {{"dismissed", 2}}), entry("3", {{"dismissed", "1"}})},
         noIds,
         3},
        {"listed among the read ids", unread(3), JsValue::Array{"2", "9"}, 2},
        {"read ids voided by a number", unread(3), JsValue::Array{"2", 3}, 3},
        {"an id twice counts once", {entry("1"), entry("1"), entry("2")}, noIds, 2},
        {"no string id or kind: never announced, not counted",
         {JsValue::Object{{"id", 4}, {"kind", "notice"}}, JsValue::Object{{"id", "5"}}, entry("6")},
         noIds,
         1},
        {"one null entry voids them all", {entry("1"), JsValue()}, noIds, std::nullopt},
        {"all read: no badge", {entry("1", {{"dismissed", 1}})}, noIds, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.console();
        r.poll(signedIn(c.entries, c.readIds));
        EXPECT_EQ(r.fake.launcherEntry.badges.back(), c.badge);
    }
}

// Once at launch, whatever it is; then after every poll that reads a signed-in inbox, so that a
// dock started since hears it; a tick that finds nothing to read hides it, once.
TEST(UnreadBadge, IsPublishedAtLaunchAfterEverySignedInPollAndHiddenOnce) {
    Rig r;
    r.console();
    EXPECT_EQ(r.fake.launcherEntry.badges, Badges{std::nullopt});
    const struct {
        const char* name;
        std::function<void(Rig&)> happen;
        Badges published;
    } steps[] = {
        {"two unread", [](Rig& r) { r.poll(signedIn(unread(2))); }, {2}},
        {"the same two", [](Rig& r) { r.poll(signedIn(unread(2))); }, {2}},
        {"three", [](Rig& r) { r.poll(signedIn(unread(3))); }, {3}},
        {"none", [](Rig& r) { r.poll(signedIn()); }, {std::nullopt}},
        {"none again", [](Rig& r) { r.poll(signedIn()); }, {std::nullopt}},
        {"signed out with none unread",
         [](Rig& r) {
             r.poll(JsValue::Object{{"authenticated", false}});
         },
         {}},
        {"none, signed in again", [](Rig& r) { r.poll(signedIn()); }, {std::nullopt}},
        {"one", [](Rig& r) { r.poll(signedIn(unread(1))); }, {1}},
        {"signed out",
         [](Rig& r) {
             r.poll(JsValue::Object{{"authenticated", false}});
         },
         {std::nullopt}},
        {"a failed evaluation while hidden", [](Rig& r) { r.poll(std::string("Error: 500")); }, {}},
        {"signed in again", [](Rig& r) { r.poll(signedIn(unread(1))); }, {1}},
        {"a failed evaluation", [](Rig& r) { r.poll(std::string("Error: 500")); }, {std::nullopt}},
        {"one again", [](Rig& r) { r.poll(signedIn(unread(1))); }, {1}},
        {"a tick during a poll",
         [](Rig& r) {
             r.controller->pollNativeNotifications();
             r.controller->pollNativeNotifications();
             r.answer(signedIn(unread(1)));
         },
         {1}},
        {"a tick on another page of the console",
         [](Rig& r) {
             r.web().showPage("https://salon.example/admin/reservations");
             r.controller->pollNativeNotifications();
         },
         {std::nullopt}},
        {"back on the console",
         [](Rig& r) {
             r.web().showPage(kConsole);
             r.poll(signedIn(unread(4)));
         },
         {4}},
        {"a tick while a load is retried",
         [](Rig& r) {
             r.controller->didFailProvisionalNavigation({7, "Connexion refusée"});
             r.controller->pollNativeNotifications();
         },
         {std::nullopt}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        r.fake.launcherEntry.badges.clear();
        step.happen(r);
        EXPECT_EQ(r.fake.launcherEntry.badges, step.published);
    }
}

}  // namespace
}  // namespace velmora::testing
