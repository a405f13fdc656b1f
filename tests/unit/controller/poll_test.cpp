#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using foundation::JsValue;

// A launched controller whose page shows the console of salon.example.
struct Console {
    explicit Console(const char* page = "https://salon.example/admin",
                     std::vector<std::string> knownHosts = {"salon.example"}) {
        fake.defaults.values["velmoraKnownHosts"] = std::move(knownHosts);
        velmora.applicationWillFinishLaunching();
        velmora.applicationDidFinishLaunching();
        web().showPage(page);
    }
    fakes::FakeWebView& web() { return *fake.views.web; }
    std::string statusTitle() { return fake.application.mainMenu->findAction("")->title(); }
    // Answers the oldest script still in flight.
    void answer(platform::ScriptResult result) {
        ASSERT_FALSE(web().scripts.empty());
        auto pending = std::move(web().scripts.front());
        web().scripts.erase(web().scripts.begin());
        pending.done(std::move(result));
    }
    void poll(platform::ScriptResult result) {
        velmora.pollNativeNotifications();
        answer(std::move(result));
    }
    std::vector<std::string> announced() const {
        std::vector<std::string> ids;
        for (const auto& request : fake.notifications.added) ids.push_back(request.identifier);
        return ids;
    }
    std::set<std::string> removed() const {
        std::set<std::string> ids;
        for (const auto& removal : fake.notifications.removals) ids.insert(removal.begin(), removal.end());
        return ids;
    }

    fakes::FakePlatform fake;
    Velmora velmora{fake.platform, BuildConstants{kPublicHost}, {"Velmora"}};
};

JsValue signedIn(JsValue::Array entries = {}, JsValue readIds = JsValue::Array{},
                 JsValue preferences = JsValue::Object{}) {
    return JsValue::Object{{"authenticated", true},
                           {"notifications", std::move(entries)},
                           {"readIds", std::move(readIds)},
                           {"preferences", std::move(preferences)}};
}

JsValue unreadNotice(const char* id) { return JsValue::Object{{"id", id}, {"kind", "notice"}}; }

platform::NotificationRequest shownNotice(const std::string& identifier, const std::string& url) {
    platform::NotificationRequest request;
    request.identifier = identifier;
    request.content.userInfo = {{"url", url}};
    return request;
}

TEST(NoticePoll, SendsExactlyTheFourLineScript) {
    Console console;
    console.velmora.pollNativeNotifications();
    ASSERT_EQ(console.web().scripts.size(), 1u);
    const std::string expected =
        "if(typeof api!=='function')return {authenticated:false};\n"
        "const session=await api('/api/session');if(!session.authenticated||session.role!=='admin')return "
        "{authenticated:false};\n"
        "const [feed,options]=await Promise.all([api('/api/admin/notification-inbox'),api('/api/admin/options')]);\n"
        "return {authenticated:true,notifications:feed.notifications,readIds:feed.readIds,preferences:options."
        "notifications};";
    EXPECT_EQ(console.web().scripts[0].body, expected);
    EXPECT_EQ(console.web().scripts[0].body.size(), 399u);
    EXPECT_EQ(console.fake.log.count("notifications.delivered"), 1);
}

TEST(NoticePoll, PollsOnlyTheConsoleOfAnAllowedHost) {
    const struct {
        const char* page;
        bool polls;
    } cases[] = {
        {"https://salon.example/admin", true},
        {"https://salon.example/admin?notification=notice&noticeId=7", true},  // the path alone counts
        {"https://salon.example/admin#inbox", true},
        {"http://salon.example:8080/admin", true},  // scheme and port are not examined
        {"https://velmora.fr/admin", true},
        {"https://salon.example/admin/bookings", false},
        {"https://salon.example/admin/", false},
        {"https://salon.example/Admin", false},
        {"https://salon.example/connexion.html", false},
        {"https://ailleurs.example/admin", false},
        {"https://Salon.example/admin", false},  // hosts are not case-folded
        {"/admin", false},                       // no host
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        Console console(c.page);
        console.velmora.pollNativeNotifications();
        EXPECT_EQ(console.web().scripts.size(), c.polls ? 1u : 0u);
        EXPECT_EQ(console.fake.log.count("notifications.delivered"), c.polls ? 1 : 0);
        EXPECT_EQ(console.statusTitle(), "Notifications : connexion nécessaire");
    }
}

TEST(NoticePoll, PageWithoutUrlDoesNotPoll) {
    Console console;
    console.web().currentUrl.reset();
    console.velmora.pollNativeNotifications();
    EXPECT_TRUE(console.web().scripts.empty());
}

TEST(NoticePoll, WithoutWebViewDoesNothing) {
    fakes::FakePlatform fake;
    Velmora velmora(fake.platform, BuildConstants{kPublicHost}, {"Velmora"});
    velmora.pollNativeNotifications();
    EXPECT_FALSE(fake.log.has("notifications.delivered"));
}

TEST(NoticePoll, OnePollInFlightAtATime) {
    const struct {
        const char* name;
        platform::ScriptResult answer;
    } cases[] = {
        {"signed in", signedIn()},
        {"not signed in", JsValue(JsValue::Object{{"authenticated", false}})},
        {"evaluation failed", std::string("TypeError: api is not a function")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Console console;
        console.velmora.pollNativeNotifications();
        console.velmora.pollNativeNotifications();  // a page load right after a tick
        EXPECT_EQ(console.web().scripts.size(), 1u);
        EXPECT_EQ(console.fake.log.count("notifications.delivered"), 1);
        console.answer(c.answer);
        console.velmora.pollNativeNotifications();
        EXPECT_EQ(console.web().scripts.size(), 1u);  // the answered one was taken away
        EXPECT_EQ(console.fake.log.count("web.callAsyncJavaScript"), 2);
    }
}

TEST(NoticePoll, PollsEveryMinuteFromLaunch) {
    Console console;
    console.fake.timers.advance(59.9);
    EXPECT_TRUE(console.web().scripts.empty());
    console.fake.timers.advance(0.1);
    EXPECT_EQ(console.web().scripts.size(), 1u);
    console.answer(signedIn());
    console.fake.timers.advance(60.0);
    EXPECT_EQ(console.web().scripts.size(), 1u);
    EXPECT_EQ(console.fake.log.count("web.callAsyncJavaScript"), 2);
}

TEST(NoticePoll, StatusAndEffectsFollowTheAnswer) {
    const struct {
        const char* name;
        platform::ScriptResult answer;
        bool signedIn;
    } cases[] = {
        {"evaluation failed", std::string("Error: 500"), false},
        {"null", JsValue(), false},
        {"an array", JsValue(JsValue::Array{JsValue(JsValue::Object{{"authenticated", true}})}), false},
        {"a string", JsValue("authenticated"), false},
        {"not signed in", JsValue(JsValue::Object{{"authenticated", false}}), false},
        {"authenticated as the number 1", JsValue(JsValue::Object{{"authenticated", 1}}), false},
        {"authenticated as text", JsValue(JsValue::Object{{"authenticated", "true"}}), false},
        {"no authenticated key", JsValue(JsValue::Object{{"notifications", JsValue::Array{unreadNotice("7")}}}), false},
        {"signed in", signedIn({unreadNotice("7")}, JsValue::Array{"6"}), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Console console;
        console.fake.notifications.shown = {shownNotice("shared:salon.example:6", "https://salon.example/admin")};
        console.poll(c.answer);
        EXPECT_EQ(console.statusTitle(), c.signedIn ? "Notifications synchronisées : actives"
                                                    : "Notifications : ouvrez Velmóra pour vous connecter");
        EXPECT_EQ(console.fake.defaults.values.contains("velmoraSharedNotificationSeen"), c.signedIn);
        EXPECT_EQ(console.announced(),
                  c.signedIn ? std::vector<std::string>{"shared:salon.example:7"} : std::vector<std::string>{});
        EXPECT_EQ(console.removed(),
                  c.signedIn ? std::set<std::string>{"shared:salon.example:6"} : std::set<std::string>{});
    }
}

TEST(NoticePoll, ReadsTheSnapshotWithItsTypeRules) {
    const JsValue readWithUrl = JsValue::Object{
        {"id", "7"}, {"kind", "notice"}, {"read_at", "2025-03-01T10:00:00Z"}, {"url", "/admin?noticeId=7"}};
    const struct {
        const char* name;
        JsValue snapshot;
        std::vector<std::string> announced;
        std::set<std::string> removed;
    } cases[] = {
        {"read ids of strings",
         signedIn({}, JsValue::Array{"1", "2"}),
         {},
         {"shared:salon.example:1", "shared:salon.example:2"}},
        {"read ids given as numbers count as empty", signedIn({}, JsValue::Array{1, 2}), {}, {}},
        {"one number voids the read ids", signedIn({}, JsValue::Array{"1", 2}), {}, {}},
        {"read ids that are not an array", signedIn({}, JsValue("1")), {}, {}},
        {"entries that are all objects",
         signedIn({readWithUrl, unreadNotice("8")}),
         {"shared:salon.example:8"},
         {"by-url"}},
        {"one null entry voids the entries", signedIn({readWithUrl, JsValue(), unreadNotice("8")}), {}, {}},
        {"one text entry voids the entries", signedIn({unreadNotice("8"), JsValue("9")}), {}, {}},
        {"entries that are not an array",
         JsValue(JsValue::Object{{"authenticated", true}, {"notifications", unreadNotice("8")}}),
         {},
         {}},
        {"preferences of objects apply",
         signedIn({unreadNotice("8")}, JsValue::Array{},
                  JsValue::Object{{"notice", JsValue::Object{{"enabled", false}}}}),
         {},
         {}},
        {"one value that is not an object voids the preferences",
         signedIn({unreadNotice("8")}, JsValue::Array{},
                  JsValue::Object{{"notice", JsValue::Object{{"enabled", false}}}, {"mail", true}}),
         {"shared:salon.example:8"},
         {}},
        {"preferences that are not an object",
         signedIn({unreadNotice("8")}, JsValue::Array{}, JsValue::Array{JsValue::Object{{"enabled", false}}}),
         {"shared:salon.example:8"},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Console console;
        console.fake.notifications.shown = {
            shownNotice("shared:salon.example:1", "https://salon.example/admin?noticeId=1"),
            shownNotice("shared:salon.example:2", "https://salon.example/admin?noticeId=2"),
            shownNotice("by-url", "https://salon.example/admin?noticeId=7"),
        };
        console.poll(c.snapshot);
        EXPECT_EQ(console.announced(), c.announced);
        EXPECT_EQ(console.removed(), c.removed);
    }
}

TEST(NoticePoll, SignedInWithoutOtherKeysStillStoresTheSeenList) {
    Console console;
    console.fake.defaults.values["velmoraSharedNotificationSeen"] = std::vector<std::string>{"shared:h:1"};
    console.poll(JsValue(JsValue::Object{{"authenticated", true}}));
    EXPECT_TRUE(console.fake.log.has("defaults.set(velmoraSharedNotificationSeen)"));
    EXPECT_EQ(console.fake.defaults.stringArray("velmoraSharedNotificationSeen"),
              (std::vector<std::string>{"shared:h:1"}));
}

// The payable entry is announced again exactly when the delivered list known at the script's
// answer lacks it, whichever of the two answers comes first.
TEST(NoticePoll, UsesTheDeliveredListKnownWhenTheScriptAnswers) {
    Console console;
    const JsValue snapshot = signedIn({JsValue::Object{{"id", "payable:1"}, {"kind", "payable"}}});
    auto& centre = console.fake.notifications;

    console.poll(snapshot);  // nothing delivered yet: announced
    ASSERT_EQ(centre.added.size(), 1u);
    console.poll(snapshot);  // delivered at once: known, not announced
    EXPECT_EQ(centre.added.size(), 1u);

    // The notification was swiped away, but this poll's delivered list arrives after the
    // script: the list of the previous poll still says it is shown.
    centre.shown.clear();
    centre.holdDeliveredAnswers = true;
    console.velmora.pollNativeNotifications();
    console.answer(snapshot);
    EXPECT_EQ(centre.added.size(), 1u);
    centre.answerDelivered();

    // Now the delivered list arrives first and says it is missing: announced again, silently.
    console.velmora.pollNativeNotifications();
    centre.answerDelivered();
    console.answer(snapshot);
    ASSERT_EQ(centre.added.size(), 2u);
    EXPECT_EQ(centre.added[1].identifier, "shared:salon.example:payable:1");
    EXPECT_FALSE(centre.added[1].content.sound);

    // Shown again, and that list arrives first: not announced.
    console.velmora.pollNativeNotifications();
    centre.answerDelivered();
    console.answer(snapshot);
    EXPECT_EQ(centre.added.size(), 2u);
}

TEST(NoticePoll, WorksForTheHostThePollStartedOn) {
    Console console("https://salon.example/admin", {"salon.example", "autre.example"});
    console.fake.notifications.shown = {shownNotice("shared:salon.example:6", "https://salon.example/admin"),
                                        shownNotice("shared:autre.example:6", "https://autre.example/admin")};
    console.velmora.pollNativeNotifications();
    console.web().showPage("https://autre.example/admin");  // the page moved before the answer
    console.answer(signedIn({unreadNotice("7")}, JsValue::Array{"6"}));
    EXPECT_EQ(console.announced(), std::vector<std::string>{"shared:salon.example:7"});
    EXPECT_EQ(console.removed(), std::set<std::string>{"shared:salon.example:6"});
}

TEST_F(ControllerTest, PollAnsweredAfterTheControllerIsGoneChangesNothing) {
    fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{"salon.example"};
    launch();
    web().showPage("https://salon.example/admin");
    fake.notifications.holdDeliveredAnswers = true;
    fake.notifications.shown = {shownNotice("shared:salon.example:6", "https://salon.example/admin")};
    controller->pollNativeNotifications();
    ASSERT_EQ(web().scripts.size(), 1u);
    auto pending = std::move(web().scripts.front());
    const int writes = fake.defaults.writes;
    fakes::FakeMenuItem* status = menu().findAction("");

    controller.reset();
    fake.notifications.answerDelivered();
    pending.done(signedIn({unreadNotice("7")}, JsValue::Array{"6"}));

    EXPECT_TRUE(fake.notifications.added.empty());
    EXPECT_TRUE(fake.notifications.removals.empty());
    EXPECT_EQ(fake.defaults.writes, writes);
    EXPECT_EQ(status->title(), "Notifications : connexion nécessaire");
}

}  // namespace
}  // namespace velmora::testing
