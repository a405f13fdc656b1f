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
    Console() {
        fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{"salon.example"};
        velmora.applicationWillFinishLaunching();
        velmora.applicationDidFinishLaunching();
        fake.views.web->showPage("https://salon.example/admin");
    }
    // Puts notifications with these identifiers and user info urls on screen.
    void show(const std::vector<std::pair<std::string, std::optional<std::string>>>& notices) {
        for (const auto& [identifier, url] : notices) {
            platform::NotificationRequest request;
            request.identifier = identifier;
            if (url) request.content.userInfo = {{"url", *url}};
            fake.notifications.shown.push_back(request);
        }
    }
    void poll(JsValue snapshot) {
        velmora.pollNativeNotifications();
        auto& scripts = fake.views.web->scripts;
        ASSERT_EQ(scripts.size(), 1u);
        auto pending = std::move(scripts.front());
        scripts.clear();
        pending.done(std::move(snapshot));
    }
    std::set<std::string> removed() const {
        std::set<std::string> ids;
        for (const auto& removal : fake.notifications.removals) ids.insert(removal.begin(), removal.end());
        return ids;
    }
    std::set<std::string> remaining() const {
        std::set<std::string> ids;
        for (const auto& request : fake.notifications.shown) ids.insert(request.identifier);
        return ids;
    }

    fakes::FakePlatform fake;
    Velmora velmora{fake.platform, BuildConstants{kPublicHost}, {"Velmora"}};
};

TEST(NoticeClearing, ByNoticeIdMatchesWholeIdentifiers) {
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
        Console console;
        console.show({{"shared:h:7", std::nullopt},
                      {"shared:h:17", std::nullopt},
                      {"shared:h2:7", std::nullopt},
                      {"shared:h:payable:7", std::nullopt},
                      {"shared:H:7", std::nullopt},
                      {"shared:h:7 ", std::nullopt}});
        console.velmora.clearSharedNotices(c.ids, c.host);
        ASSERT_EQ(console.fake.notifications.removals.size(), 1u);
        EXPECT_EQ(console.fake.notifications.removals[0], c.removed);
    }
}

TEST(NoticeClearing, PollRemovesTheNoticesOfReadIds) {
    Console console;
    console.show({{"shared:salon.example:7", std::nullopt},
                  {"shared:salon.example:8", std::nullopt},
                  {"shared:autre.example:7", std::nullopt}});
    console.poll(JsValue::Object{{"authenticated", true}, {"readIds", JsValue::Array{"7", "8"}}});
    EXPECT_EQ(console.remaining(), (std::set<std::string>{"shared:autre.example:7"}));
}

TEST(NoticeClearing, PollRemovesTheNoticesOfReadOrDismissedEntriesByUrl) {
    const struct {
        const char* name;
        JsValue::Object fields;
        std::set<std::string> removed;
    } cases[] = {
        {"read", {{"read_at", "2025-03-01T10:00:00Z"}}, {"notice 7"}},
        {"dismissed 1", {{"dismissed", 1}}, {"notice 7"}},
        {"dismissed true", {{"dismissed", true}}, {"notice 7"}},
        {"unread", {}, {}},
        {"dismissed 0", {{"dismissed", 0}}, {}},
        {"read without url", {{"read_at", "2025-03-01T10:00:00Z"}, {"url", nullptr}}, {}},
        {"read with a url that is not text", {{"read_at", "2025-03-01T10:00:00Z"}, {"url", 7}}, {}},
        {"read with a url lacking its slash",
         {{"read_at", "2025-03-01T10:00:00Z"}, {"url", "admin?notification=notice&noticeId=7"}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Console console;
        console.show({{"notice 7", "https://salon.example/admin?notification=notice&noticeId=7"},
                      {"notice 7 elsewhere", "https://autre.example/admin?notification=notice&noticeId=7"},
                      {"notice 7 over http", "http://salon.example/admin?notification=notice&noticeId=7"},
                      {"no url", std::nullopt}});
        JsValue::Object entry{{"id", "other"}, {"kind", "notice"}, {"url", "/admin?notification=notice&noticeId=7"}};
        for (const auto& [key, value] : c.fields) entry[key] = value;
        console.poll(JsValue::Object{{"authenticated", true}, {"notifications", JsValue::Array{entry}}});
        EXPECT_EQ(console.removed(), c.removed);
    }
}

platform::ScriptMessage mailRead(JsValue body, std::string originHost = "salon.example") {
    return {"velmoraMailRead", std::move(body), true, std::move(originHost)};
}

JsValue::Object mailBody() { return {{"uid", "5"}, {"validity", "9"}, {"account", "a@b.fr"}}; }

constexpr const char* kMailURL =
    "https://salon.example/admin?notification=mails&mailUid=5&mailValidity=9&mailAccount=a%40b.fr";

TEST(NoticeClearing, ReadMailNeedsABodyOfNonEmptyTexts) {
    const auto with = [](std::map<std::string, JsValue> changes) {
        JsValue::Object body = mailBody();
        for (const auto& [key, value] : changes) body[key] = value;
        return JsValue(body);
    };
    const struct {
        const char* name;
        JsValue body;
        bool removes;
    } cases[] = {
        {"three texts", mailBody(), true},
        {"another text member", with({{"folder", "INBOX"}}), true},
        {"uid as a number", with({{"uid", 5}}), false},
        {"another member that is a number", with({{"count", 1}}), false},
        {"empty uid", with({{"uid", ""}}), false},
        {"empty validity", with({{"validity", ""}}), false},
        {"empty account", with({{"account", ""}}), false},
        {"no account", JsValue(JsValue::Object{{"uid", "5"}, {"validity", "9"}}), false},
        {"not an object", JsValue(JsValue::Array{"5", "9", "a@b.fr"}), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Console console;
        console.show({{"mail", kMailURL}});
        console.velmora.clearReadMailNotice(mailRead(c.body));
        EXPECT_EQ(console.removed(), c.removes ? std::set<std::string>{"mail"} : std::set<std::string>{});
        // A body of the wrong shape ends the clearing before the centre is asked.
        if (!c.removes) {
            EXPECT_TRUE(console.fake.notifications.removals.empty());
        }
    }
}

TEST(NoticeClearing, ReadMailMatchesTheConsoleUrlExactly) {
    const struct {
        const char* url;
        const char* originHost;
        bool removes;
    } cases[] = {
        {kMailURL, "salon.example", true},
        {"https://salon.example/admin?notification=mails&mailUid=5&mailValidity=9&mailAccount=a@b.fr", "salon.example",
         true},
        {"https://salon.example/admin?mailAccount=a%40b.fr&mailValidity=9&mailUid=5&notification=mails",
         "salon.example", true},  // any order
        {"https://salon.example/admin?notification=mails&mailUid=5&mailUid=6&mailValidity=9&mailAccount=a%40b.fr",
         "salon.example", true},  // the first item of a name counts
        {"https://salon.example/admin?notification=mails&mailUid=6&mailUid=5&mailValidity=9&mailAccount=a%40b.fr",
         "salon.example", false},
        {"https://salon.example/admin?notification=mails&mailUid=5&mailValidity=9&mailAccount=a%40b.fr#x",
         "salon.example", true},
        {kMailURL, "autre.example", false},  // sent by a frame of another host
        {"https://salon.example/admin/?notification=mails&mailUid=5&mailValidity=9&mailAccount=a%40b.fr",
         "salon.example", false},
        {"http://salon.example/admin?notification=mails&mailUid=5&mailValidity=9&mailAccount=a%40b.fr", "salon.example",
         false},
        {"HTTPS://salon.example/admin?notification=mails&mailUid=5&mailValidity=9&mailAccount=a%40b.fr",
         "salon.example", false},
        {"https://Salon.example/admin?notification=mails&mailUid=5&mailValidity=9&mailAccount=a%40b.fr",
         "salon.example", false},
        {"https://salon.example/admin?notification=notice&mailUid=5&mailValidity=9&mailAccount=a%40b.fr",
         "salon.example", false},
        {"https://salon.example/admin?notification=mails&mailUid=5&mailValidity=9", "salon.example", false},
        {"https://salon.example/admin?notification=mails&mailUid&mailValidity=9&mailAccount=a%40b.fr", "salon.example",
         false},
        {"https://salon.example/admin?notification=mails&mailUid=5&mailValidity=9&mailAccount=A%40b.fr",
         "salon.example", false},
        {"https://salon.example/admin?notification=mails&mailUid=5&mailValidity=9&mailAccount=a%2540b.fr",
         "salon.example", false},  // decoded once only
        {"https://salon example/admin?notification=mails&mailUid=5&mailValidity=9&mailAccount=a%40b.fr",
         "salon.example", false},  // does not parse
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.url) + " from " + c.originHost);
        Console console;
        console.show(
            {{"mail", c.url},
             {"mail without url", std::nullopt},
             {"other mail",
              "https://salon.example/admin?notification=mails&mailUid=6&mailValidity=9&mailAccount=a%40b.fr"}});
        console.velmora.clearReadMailNotice(mailRead(mailBody(), c.originHost));
        ASSERT_EQ(console.fake.notifications.removals.size(), 1u);
        EXPECT_EQ(console.removed(), c.removes ? std::set<std::string>{"mail"} : std::set<std::string>{});
    }
}

TEST(NoticeClearing, UsesInputsTakenBeforeTheCentreAnswers) {
    Console console;
    console.show({{"mail", kMailURL}, {"shared:salon.example:7", std::nullopt}});
    console.fake.notifications.holdDeliveredAnswers = true;
    {
        // The message and the id list are gone before the centre answers.
        const platform::ScriptMessage message = mailRead(mailBody());
        console.velmora.clearReadMailNotice(message);
        const std::vector<std::string> ids{"7"};
        console.velmora.clearSharedNotices(ids, "salon.example");
    }
    console.fake.notifications.answerDelivered();
    EXPECT_TRUE(console.remaining().empty());
}

}  // namespace
}  // namespace velmora::testing
