// Posting notifications, clearing those the user has dealt with, and clicks on them.
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using Ids = std::set<std::string>;

TEST(Delivery, TestNotificationLeadsToTheConsole) {
    Rig r;
    r.console();
    r.menu().choose("testNativeNotice");
    r.menu().choose("testNativeNotice");
    const auto& added = r.fake.notifications.added;
    ASSERT_EQ(added.size(), 2u);
    for (const auto& request : added) {
        EXPECT_TRUE(request.identifier.starts_with("velmora-notification-test-")) << request.identifier;
        EXPECT_EQ(request.content.title, "Essai Velmóra");
        EXPECT_EQ(request.content.body, "Les notifications sont assurées par Velmóra sur cet ordinateur.");
        EXPECT_TRUE(request.content.sound);
        EXPECT_EQ(request.content.userInfo, (std::map<std::string, std::string>{{"url", kConsole}}));
        EXPECT_FALSE(request.delaySeconds);
    }
    // Each test adds a notification of its own.
    EXPECT_NE(added[0].identifier, added[1].identifier);
    EXPECT_EQ(r.fake.notifications.shown.size(), 2u);
}

// A notice leads to the console of the page's host: an allowed host, and a console path.
TEST(Delivery, PostsOnlyFromAPageOfAnAllowedHostForAConsolePath) {
    const struct {
        std::optional<std::string> page;
        const char* path;
        std::optional<std::string> url;
    } cases[] = {
        {"https://salon.example/admin/bookings?x=1", "/admin?noticeId=7", "https://salon.example/admin?noticeId=7"},
        {"https://salon.example:443/connexion.html", "/admin", "https://salon.example/admin"},  // the host alone
        {"https://velmora.fr/connexion.html", "/administration", "https://velmora.fr/administration"},  // a prefix
        // Only a page the host served over HTTPS on the default port may speak for it.
        {"https://salon.example:8443/admin", "/admin", std::nullopt},
        {"http://salon.example/admin", "/admin", std::nullopt},
        {"https://u@salon.example/admin", "/admin", std::nullopt},
        {"https://ailleurs.example/admin", "/admin", std::nullopt},
        {"https://Salon.example/admin", "/admin", std::nullopt},
        {"file:///admin", "/admin", std::nullopt},
        {"/admin", "/admin", std::nullopt},
        {std::nullopt, "/admin", std::nullopt},
        {kConsole, "admin", std::nullopt},
        {kConsole, "/connexion.html", std::nullopt},
        {kConsole, "/Admin", std::nullopt},
        {kConsole, " /admin", std::nullopt},
        {kConsole, "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page.value_or("no page") + " " + c.path);
        Rig r;
        r.console(c.page);
        r.controller->deliverNativeNotice("shared:salon.example:7", "Titre", "Texte", c.path, false);
        const auto& added = r.fake.notifications.added;
        ASSERT_EQ(added.size(), c.url ? 1u : 0u);
        if (c.url) {
            EXPECT_EQ(added[0].identifier, "shared:salon.example:7");
            EXPECT_EQ(added[0].content.userInfo, (std::map<std::string, std::string>{{"url", *c.url}}));
            EXPECT_FALSE(added[0].content.sound);
        }
        // An accepted notice leaves the status as it was.
        EXPECT_EQ(r.status(), "Notifications : connexion nécessaire");
    }
}

TEST(Delivery, RefusalShowsInTheStatusUntilTheNextSignedInPoll) {
    Rig r;
    r.console();
    r.fake.notifications.refusal = "Notifications non autorisées";
    r.controller->testNativeNotice();
    EXPECT_EQ(r.status(), "Notifications : autorisation à vérifier");
    r.fake.notifications.refusal.reset();
    r.poll(JsValue::Object{{"authenticated", true}});
    EXPECT_EQ(r.status(), "Notifications synchronisées : actives");
}

TEST(Clearing, ByNoticeIdMatchesWholeIdentifiers) {
    const struct {
        std::vector<std::string> ids;
        const char* host;
        std::vector<std::string> removed;
    } cases[] = {
        {{"7"}, "h", {"shared:h:7"}},
        {{"payable:7"}, "h", {"shared:h:payable:7"}},
        {{"7", "17"}, "h2", {"shared:h2:7"}},
        {{"7"}, "H", {"shared:H:7"}},  // hosts compared exactly
        {{"7"}, "", {}},
        {{"h:7"}, "shared", {}},
        {{}, "h", {}},  // the removal is asked for all the same
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.ids) + " on " + c.host);
        Rig r;
        r.console();
        for (const char* shown :
             {"shared:h:7", "shared:h:17", "shared:h2:7", "shared:h:payable:7", "shared:H:7", "shared:h:7 "})
            r.show(shown);
        r.controller->clearSharedNotices(c.ids, c.host);
        EXPECT_EQ(r.fake.notifications.removals, std::vector<Calls>{c.removed});
    }
}

TEST(Clearing, PollRemovesTheNoticesOfReadOrDismissedEntriesByUrl) {
    const char* read = "2025-03-01T10:00:00Z";
    const struct {
        const char* name;
        JsValue::Object fields;
        bool removes;
    } cases[] = {
        {"read", {{"read_at", read}}, true},
        {"dismissed 1", {{"dismissed", 1}}, true},
        {"dismissed true", {{"dismissed", true}}, true},
        {"unread", {}, false},
        {"dismissed 0", {{"dismissed", 0}}, false},
        {"read without url", {{"read_at", read}, {"url", nullptr}}, false},
        {"read with a url that is not text", {{"read_at", read}, {"url", 7}}, false},
        {"read with a url lacking its slash",
         {{"read_at", read}, {"url", "admin?notification=notice&noticeId=7"}},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.console();
        r.show("notice 7", "https://salon.example/admin?notification=notice&noticeId=7");
        r.show("notice 7 elsewhere", "https://autre.example/admin?notification=notice&noticeId=7");
        r.show("notice 7 over http", "http://salon.example/admin?notification=notice&noticeId=7");
        r.show("no url");
        JsValue::Object entry{{"id", "other"}, {"kind", "notice"}, {"url", "/admin?notification=notice&noticeId=7"}};
        for (const auto& [key, value] : c.fields) entry[key] = value;
        r.poll(signedIn({entry}));
        EXPECT_EQ(r.removed(), c.removes ? Ids{"notice 7"} : Ids{});
    }
}

platform::ScriptMessage mailRead(JsValue body, std::string originHost = "salon.example") {
    return {"velmoraMailRead", std::move(body), true, {"https", std::move(originHost), std::nullopt}};
}

JsValue mailBody() { return JsValue::Object{{"uid", "5"}, {"validity", "9"}, {"account", "a@b.fr"}}; }

constexpr const char* kMailQuery = "notification=mails&mailUid=5&mailValidity=9&mailAccount=a%40b.fr";

TEST(Clearing, ReadMailMatchesTheConsoleUrlExactly) {
    // "Q" stands for the query of the mail read: uid 5, validity 9, account a@b.fr.
    const struct {
        std::string url;
        bool removes;
        const char* originHost = "salon.example";
    } cases[] = {
        {"https://salon.example/admin?Q", true},
        {"https://salon.example/admin?Q#x", true},
        {"https://salon.example/admin?notification=mails&mailUid=5&mailValidity=9&mailAccount=a@b.fr", true},
        {"https://salon.example/admin?mailAccount=a%40b.fr&mailValidity=9&mailUid=5&notification=mails", true},
        {"https://salon.example/admin?Q&mailUid=6", true},  // the first item of a name counts
        {"https://salon.example/admin?mailUid=6&Q", false},
        {"https://salon.example/admin?Q", false, "autre.example"},  // sent by a frame of another host
        {"https://salon.example/admin/?Q", false},
        {"http://salon.example/admin?Q", false},
        {"HTTPS://salon.example/admin?Q", false},
        {"https://Salon.example/admin?Q", false},
        {"https://salon.example/admin?notification=notice&mailUid=5&mailValidity=9&mailAccount=a%40b.fr", false},
        {"https://salon.example/admin?notification=mails&mailUid=5&mailValidity=9", false},
        {"https://salon.example/admin?notification=mails&mailUid&mailValidity=9&mailAccount=a%40b.fr", false},
        {"https://salon.example/admin?notification=mails&mailUid=5&mailValidity=9&mailAccount=A%40b.fr", false},
        {"https://salon.example/admin?notification=mails&mailUid=5&mailValidity=9&mailAccount=a%2540b.fr", false},
        {"https://salon example/admin?Q", false},  // does not parse
    };
    for (const auto& c : cases) {
        std::string url = c.url;
        if (const auto q = url.find('Q'); q != std::string::npos) url.replace(q, 1, kMailQuery);
        SCOPED_TRACE(url + " from " + c.originHost);
        Rig r;
        r.console();
        r.show("mail", url);
        r.show("mail without url");
        r.show("other mail",
               "https://salon.example/admin?notification=mails&mailUid=6&mailValidity=9&mailAccount=a%40b.fr");
        r.controller->clearReadMailNotice(mailRead(mailBody(), c.originHost));
        ASSERT_EQ(r.fake.notifications.removals.size(), 1u);
        EXPECT_EQ(r.removed(), c.removes ? Ids{"mail"} : Ids{});
    }
}

TEST(Clearing, UsesInputsTakenBeforeTheCentreAnswers) {
    Rig r;
    r.console();
    r.show("mail", std::string("https://salon.example/admin?") + kMailQuery);
    r.show("shared:salon.example:7");
    r.fake.notifications.holdDeliveredAnswers = true;
    {
        // The message and the id list are gone before the centre answers.
        const platform::ScriptMessage message = mailRead(mailBody());
        r.controller->clearReadMailNotice(message);
        const std::vector<std::string> ids{"7"};
        r.controller->clearSharedNotices(ids, "salon.example");
    }
    r.fake.notifications.answerDelivered();
    EXPECT_TRUE(r.fake.notifications.shown.empty());
}

// A controller launched at login (window hidden) on the console, that records when a
// notification response is done.
struct ClickRig : Rig {
    ClickRig() {
        fake.application.loginItemLaunch = true;
        console();
        fake.log.clear();
    }
    // Clicks a notification and returns it.
    platform::NotificationRequest click(const std::string& identifier, const std::optional<std::string>& url) {
        platform::NotificationRequest request;
        request.identifier = identifier;
        request.content = {"Nouveau message", "Bonjour", true, {}};
        if (url) request.content.userInfo = {{"url", *url}};
        int done = 0;
        controller->didReceiveNotificationResponse(request, [&] {
            ++done;
            fake.log.add("done");
        });
        EXPECT_EQ(done, 1);
        return request;
    }
    // Where `call` stands in the call log, or -1.
    long position(const std::string& call) const {
        const auto found = std::ranges::find(fake.log.calls, call);
        return found == fake.log.calls.end() ? -1 : found - fake.log.calls.begin();
    }
};

// A click shows the window with the notification's console page; a clicked payment request
// comes back, silently, a second later.
TEST(Responses, ClickOpensTheConsolePageAndBringsAPayableBack) {
    const struct {
        const char* identifier;
        std::optional<std::string> url;
        std::optional<std::string> opened;
        bool reposts;
    } cases[] = {
        {"shared:salon.example:7", "https://salon.example/admin?notification=notice&noticeId=7",
         "https://salon.example/admin?notification=notice&noticeId=7", false},
        {"shared:salon.example:7", "https://velmora.fr/admin", "https://velmora.fr/admin", false},
        {"shared:salon.example:7", "https://ancien.example/admin?noticeId=7", "https://velmora.fr/admin?noticeId=7",
         false},  // a retired host
        {"shared:salon.example:7", "https://salon.example/admin/bookings", std::nullopt, false},
        {"shared:salon.example:7", "https://salon.example/connexion.html", std::nullopt, false},
        {"shared:salon.example:7", "https://ailleurs.example/admin", std::nullopt,
         false},  // not, or no longer, allowed
        {"shared:salon.example:7", "http://salon.example/admin", std::nullopt, false},
        {"shared:salon.example:7", "https://salon.example:8443/admin", std::nullopt, false},
        {"shared:salon.example:7", "/admin", std::nullopt, false},
        {"shared:salon.example:7", "https://salon example/admin", std::nullopt, false},  // does not parse
        {"shared:salon.example:7", std::nullopt, std::nullopt, false},
        {"shared:salon.example:payable:42", kConsole, kConsole, true},
        {"shared:salon.example:a:payable:", kConsole, kConsole, true},
        {"shared:salon.example:payable:1", std::nullopt, std::nullopt, true},
        {"shared:salon.example:xpayable:42", kConsole, kConsole, false},
        {"shared:salon.example:Payable:42", kConsole, kConsole, false},
        {"payable:42", kConsole, kConsole, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.identifier) + " " + c.url.value_or("no url"));
        ClickRig r;
        const auto clicked = r.click(c.identifier, c.url);
        EXPECT_EQ(r.window().visible, c.opened.has_value());
        if (c.opened) {
            // The window comes forward before the page loads, and both before `done`.
            const long shown = r.position("window.makeKeyAndOrderFront");
            const long loaded = r.position("web.load(" + *c.opened + ")");
            EXPECT_NE(shown, -1);
            EXPECT_LT(shown, loaded);
            EXPECT_LT(loaded, r.position("done"));
        }
        const auto& added = r.fake.notifications.added;
        ASSERT_EQ(added.size(), c.reposts ? 1u : 0u);
        if (c.reposts) {
            EXPECT_EQ(added[0].identifier, c.identifier);
            EXPECT_EQ(added[0].delaySeconds, 1.0);
            EXPECT_FALSE(added[0].content.sound);
            EXPECT_EQ(added[0].content.title, clicked.content.title);
            EXPECT_EQ(added[0].content.body, clicked.content.body);
            EXPECT_EQ(added[0].content.userInfo, clicked.content.userInfo);
        }
        if (!c.opened && !c.reposts) {
            EXPECT_EQ(r.fake.log.calls, Calls{"done"});
        }
    }
}

}  // namespace
}  // namespace velmora::testing
