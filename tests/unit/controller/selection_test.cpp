#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using foundation::JsValue;

constexpr const char* kSeenKey = "velmoraSharedNotificationSeen";
constexpr double kNow = 1740824430.0;  // 2025-03-01T10:20:30Z

// A launched controller whose page shows the console of salon.example, at kNow.
struct Console {
    explicit Console(std::optional<std::vector<std::string>> seen = std::nullopt) {
        fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{"salon.example", "autre.example"};
        if (seen) fake.defaults.values[kSeenKey] = *seen;
        fake.clock.set(kNow);
        velmora.applicationWillFinishLaunching();
        velmora.applicationDidFinishLaunching();
        fake.views.web->showPage("https://salon.example/admin");
    }
    // Runs one poll whose snapshot lists `entries` with `preferences`.
    void poll(JsValue::Array entries, JsValue::Object preferences = {}) {
        velmora.pollNativeNotifications();
        auto& scripts = fake.views.web->scripts;
        ASSERT_EQ(scripts.size(), 1u);
        auto pending = std::move(scripts.front());
        scripts.clear();
        pending.done(JsValue(JsValue::Object{
            {"authenticated", true}, {"notifications", std::move(entries)}, {"preferences", std::move(preferences)}}));
    }
    std::vector<std::string> announced() const {
        std::vector<std::string> ids;
        for (const auto& request : fake.notifications.added) ids.push_back(request.identifier);
        return ids;
    }
    std::vector<std::string> seen() const {
        return fake.defaults.stringArray(kSeenKey).value_or(std::vector<std::string>{});
    }
    bool hasSeen(const std::string& identifier) const { return std::ranges::count(seen(), identifier) == 1; }

    fakes::FakePlatform fake;
    Velmora velmora{fake.platform, BuildConstants{kPublicHost}, {"Velmora"}};
};

// An unread entry of kind "notice" with id "7", changed by `fields`.
JsValue entry(JsValue::Object fields = {}) {
    JsValue::Object made{{"id", "7"}, {"kind", "notice"}, {"title", "Nouveau message"}, {"body", "Bonjour"}};
    for (auto& [key, value] : fields) made[key] = value;
    return made;
}

JsValue::Object preference(const char* kind, JsValue::Object flags) { return {{kind, JsValue(std::move(flags))}}; }

TEST(NoticeSelection, AnnouncesOnlyEntriesAtMostFiveMinutesOld) {
    const struct {
        JsValue createdAt;
        bool announced;
    } cases[] = {
        {"2025-03-01T10:20:20Z", true},
        {"2025-03-01T10:15:30Z", true},  // exactly 300 seconds
        {"2025-03-01T10:15:29Z", false},
        {"2025-03-01T10:15:30.000Z", true},
        {"2025-03-01T10:15:29.999Z", false},
        {"2025-03-01T10:15:30.5Z", true},
        {"2025-03-01T11:15:30+01:00", true},
        {"2025-03-01T11:15:29+01:00", false},
        {"2025-03-01T05:15:29.5-05:00", false},
        {"2025-02-28T10:20:30Z", false},
        {"2025-03-01T10:25:00Z", true},  // in the future
        {"2025-02-28 10:20:30Z", true},  // a blank instead of "T" does not parse: no age limit
        {"2025-02-28 10:20:30", true},
        {"2025-02-28", true},
        {"hier", true},
        {1740000000, true},  // not a string: no age limit
        {JsValue(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.createdAt.toJson());
        Console console;
        console.poll({entry({{"created_at", c.createdAt}})});
        EXPECT_EQ(console.announced().size(), c.announced ? 1u : 0u);
        EXPECT_EQ(console.seen(), (std::vector<std::string>{"shared:salon.example:7"}));
    }
}

TEST(NoticeSelection, FirstPassAnnouncesRecentEntriesAndRecordsAll) {
    Console console;
    console.poll({
        entry({{"id", "1"}, {"created_at", "2025-03-01T10:20:20Z"}}),  // 10 seconds
        entry({{"id", "2"}, {"created_at", "2025-03-01T10:10:30Z"}}),  // 10 minutes
        entry({{"id", "3"}, {"created_at", "2025-02-28T10:20:30Z"}}),  // a day
    });
    EXPECT_EQ(console.announced(), (std::vector<std::string>{"shared:salon.example:1"}));
    EXPECT_EQ(console.seen(),
              (std::vector<std::string>{"shared:salon.example:1", "shared:salon.example:2", "shared:salon.example:3"}));
}

TEST(NoticeSelection, ReadOrDismissedEntriesAreRecordedWithoutNotice) {
    const struct {
        const char* name;
        JsValue::Object fields;
        bool announced;
    } cases[] = {
        {"read", {{"read_at", "2025-03-01T10:20:00Z"}}, false},
        {"read at an empty text", {{"read_at", ""}}, false},
        {"read_at null", {{"read_at", nullptr}}, true},
        {"read_at a number", {{"read_at", 1}}, true},
        {"dismissed 1", {{"dismissed", 1}}, false},
        {"dismissed true", {{"dismissed", true}}, false},
        {"dismissed 0", {{"dismissed", 0}}, true},
        {"dismissed false", {{"dismissed", false}}, true},
        {"dismissed as the text 1", {{"dismissed", "1"}}, true},
        {"dismissed 2", {{"dismissed", 2}}, true},
        {"read payable", {{"kind", "payable"}, {"read_at", "2025-03-01T10:20:00Z"}}, false},
        {"dismissed payable", {{"kind", "payable"}, {"dismissed", 1}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Console console;
        console.poll({entry(c.fields)});
        EXPECT_EQ(console.announced().size(), c.announced ? 1u : 0u);
        EXPECT_TRUE(console.hasSeen("shared:salon.example:7"));
    }
}

TEST(NoticeSelection, AppliesPreferences) {
    const struct {
        const char* name;
        const char* kind;
        JsValue::Object preferences;
        bool announced;
        bool sound;
    } cases[] = {
        {"no preferences", "notice", {}, true, true},
        {"disabled", "notice", preference("notice", {{"enabled", false}}), false, false},
        {"disabled as 0", "notice", preference("notice", {{"enabled", 0}}), false, false},
        {"enabled as 1", "notice", preference("notice", {{"enabled", 1}}), true, true},
        {"enabled as 2", "notice", preference("notice", {{"enabled", 2}}), true, true},
        {"enabled as text", "notice", preference("notice", {{"enabled", "false"}}), true, true},
        {"enabled null", "notice", preference("notice", {{"enabled", nullptr}}), true, true},
        {"another kind disabled", "notice", preference("mail", {{"enabled", false}}), true, true},
        {"appointments follow the booking preference", "appointment", preference("booking", {{"enabled", false}}),
         false, false},
        {"appointments ignore a preference of their own name", "appointment",
         preference("appointment", {{"enabled", false}}), true, true},
        {"the booking kind itself", "booking", preference("booking", {{"enabled", false}}), false, false},
        {"disabled payable", "payable", preference("payable", {{"enabled", false}}), false, false},
        {"silent", "notice", preference("notice", {{"sound", false}}), true, false},
        {"silent as 0", "notice", preference("notice", {{"sound", 0}}), true, false},
        {"sound as 1", "notice", preference("notice", {{"sound", 1}}), true, true},
        {"sound as text", "notice", preference("notice", {{"sound", "false"}}), true, true},
        {"silent bookings", "appointment", preference("booking", {{"sound", false}}), true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Console console;
        console.poll({entry({{"kind", c.kind}})}, c.preferences);
        ASSERT_EQ(console.announced().size(), c.announced ? 1u : 0u);
        if (c.announced) {
            EXPECT_EQ(console.fake.notifications.added[0].content.sound, c.sound);
        }
        // A disabled entry is not recorded, so that turning the preference on can still announce it.
        EXPECT_EQ(console.hasSeen("shared:salon.example:7"), c.announced);
    }
}

TEST(NoticeSelection, ReenabledPreferenceAnnouncesOnlyARecentEntry) {
    const struct {
        double laterBy;
        bool announced;
    } cases[] = {{150.0, true}, {300.0, true}, {301.0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.laterBy);
        Console console;
        const JsValue appointment = entry({{"kind", "appointment"}, {"created_at", "2025-03-01T10:20:30Z"}});
        console.poll({appointment}, preference("booking", {{"enabled", false}}));
        EXPECT_TRUE(console.announced().empty());
        console.fake.clock.set(kNow + c.laterBy);
        console.poll({appointment}, preference("booking", {{"enabled", true}}));
        EXPECT_EQ(console.announced().size(), c.announced ? 1u : 0u);
        EXPECT_TRUE(console.hasSeen("shared:salon.example:7"));
    }
}

TEST(NoticeSelection, AnnouncesAnEntryOnce) {
    Console console;
    console.poll({entry()});
    console.fake.notifications.shown.clear();  // gone from the screen, but seen
    console.poll({entry()});
    EXPECT_EQ(console.announced(), (std::vector<std::string>{"shared:salon.example:7"}));
}

TEST(NoticeSelection, AnnouncesAMissingPayableAgainSilently) {
    Console console;
    const JsValue payable = entry({{"id", "payable:42"}, {"kind", "payable"}, {"created_at", "2025-02-22T10:20:30Z"}});
    auto& centre = console.fake.notifications;

    console.poll({payable});  // a week old, announced with sound all the same
    ASSERT_EQ(centre.added.size(), 1u);
    EXPECT_EQ(centre.added[0].identifier, "shared:salon.example:payable:42");
    EXPECT_TRUE(centre.added[0].content.sound);

    console.poll({payable});  // still delivered
    EXPECT_EQ(centre.added.size(), 1u);

    centre.shown.clear();  // the user swiped it away
    console.poll({payable});
    ASSERT_EQ(centre.added.size(), 2u);
    EXPECT_EQ(centre.added[1].identifier, "shared:salon.example:payable:42");
    EXPECT_FALSE(centre.added[1].content.sound);
}

TEST(NoticeSelection, MissingOnlyMattersForThePayableKind) {
    const struct {
        const char* name;
        JsValue::Object fields;
        bool announced;
        bool sound;
    } cases[] = {
        {"payable seen in an earlier run", {{"id", "payable:42"}, {"kind", "payable"}}, true, false},
        {"payable-looking id of another kind", {{"id", "payable:42"}, {"kind", "notice"}}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Console console(std::vector<std::string>{"shared:salon.example:payable:42"});
        console.poll({entry(c.fields)});
        ASSERT_EQ(console.announced().size(), c.announced ? 1u : 0u);
        if (c.announced) {
            EXPECT_EQ(console.fake.notifications.added[0].content.sound, c.sound);
        }
    }
}

TEST(NoticeSelection, RefusedNoticeIsStillRecorded) {
    Console console;
    console.fake.notifications.refusal = "not authorised";
    console.poll({entry()});
    console.poll({entry()});
    EXPECT_EQ(console.announced().size(), 1u);
    EXPECT_TRUE(console.hasSeen("shared:salon.example:7"));
}

TEST(NoticeSelection, BuildsTheNoticeFromTheEntry) {
    const struct {
        const char* name;
        JsValue::Object fields;
        std::string identifier;
        std::string url;
        std::string title;
        std::string body;
    } cases[] = {
        {"plain id",
         {},
         "shared:salon.example:7",
         "https://salon.example/admin?notification=notice&noticeId=7",
         "Nouveau message",
         "Bonjour"},
        {"a colon is encoded in the url only",
         {{"id", "payable:42"}, {"kind", "payable"}},
         "shared:salon.example:payable:42",
         "https://salon.example/admin?notification=notice&noticeId=payable%3A42",
         "Nouveau message",
         "Bonjour"},
        // Letters outside ASCII are encoded as well, so that the url stays a valid URL.
        {"non-ASCII letters are encoded",
         {{"id", "réservation 1/2"}},
         "shared:salon.example:réservation 1/2",
         "https://salon.example/admin?notification=notice&noticeId=r%C3%A9servation%201%2F2",
         "Nouveau message",
         "Bonjour"},
        {"unreserved punctuation is encoded",
         {{"id", "a-b_c.d~e"}},
         "shared:salon.example:a-b_c.d~e",
         "https://salon.example/admin?notification=notice&noticeId=a%2Db%5Fc%2Ed%7Ee",
         "Nouveau message",
         "Bonjour"},
        {"no title or body",
         {{"title", nullptr}, {"body", nullptr}},
         "shared:salon.example:7",
         "https://salon.example/admin?notification=notice&noticeId=7",
         "Velmóra",
         ""},
        {"title and body of other types",
         {{"title", 5}, {"body", true}},
         "shared:salon.example:7",
         "https://salon.example/admin?notification=notice&noticeId=7",
         "Velmóra",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Console console;
        console.poll({entry(c.fields)});
        ASSERT_EQ(console.fake.notifications.added.size(), 1u);
        const auto& request = console.fake.notifications.added[0];
        EXPECT_EQ(request.identifier, c.identifier);
        EXPECT_EQ(request.content.userInfo, (std::map<std::string, std::string>{{"url", c.url}}));
        EXPECT_EQ(request.content.title, c.title);
        EXPECT_EQ(request.content.body, c.body);
        EXPECT_TRUE(request.content.sound);
        // The url gives the id back unchanged.
        const auto url = foundation::Url::parse(c.url);
        ASSERT_TRUE(url);
        const std::string id = c.fields.contains("id") ? *c.fields.at("id").string() : std::string("7");
        EXPECT_EQ(url->firstQueryItem("noticeId")->value, id);
    }
}

TEST(NoticeSelection, SkipsEntriesWithoutTextIdOrKind) {
    Console console;
    console.poll({
        JsValue::Object{{"id", 7}, {"kind", "notice"}},
        JsValue::Object{{"id", "8"}, {"kind", 3}},
        JsValue::Object{{"id", "9"}},
        JsValue::Object{{"kind", "notice"}, {"read_at", "2025-03-01T10:20:00Z"}},
    });
    EXPECT_TRUE(console.announced().empty());
    EXPECT_TRUE(console.seen().empty());
    EXPECT_TRUE(console.fake.defaults.values.contains(kSeenKey));
}

TEST(NoticeSelection, AnnouncesInInboxOrderWithoutLimit) {
    Console console;
    JsValue::Array entries;
    std::vector<std::string> expected;
    for (const char* id : {"9", "10", "1", "30", "2"}) {
        entries.push_back(entry({{"id", id}}));
        expected.push_back(std::string("shared:salon.example:") + id);
    }
    console.poll(entries);
    EXPECT_EQ(console.announced(), expected);
}

TEST(NoticeSelection, SameIdOnTwoHostsGivesTwoNotices) {
    Console console;
    console.poll({entry()});
    console.fake.views.web->showPage("https://autre.example/admin");
    console.poll({entry()});
    EXPECT_EQ(console.announced(), (std::vector<std::string>{"shared:salon.example:7", "shared:autre.example:7"}));
    EXPECT_EQ(console.seen(), (std::vector<std::string>{"shared:autre.example:7", "shared:salon.example:7"}));
}

std::vector<std::string> numberedSeen(int count) {
    std::vector<std::string> ids;
    for (int i = 0; i < count; ++i) {
        std::string number = std::to_string(i);
        ids.push_back("shared:salon.example:n" + std::string(4 - number.size(), '0') + number);
    }
    return ids;
}

TEST(NoticeSelection, KeepsTheHighestFourThousandIdentifiers) {
    const struct {
        const char* name;
        int stored;
        const char* newId;
        std::string lowest, highest;
    } cases[] = {
        {"the newest sorts lowest and is dropped", 4000, "a", "shared:salon.example:n0000",
         "shared:salon.example:n3999"},
        {"the lowest older one is dropped", 4000, "z", "shared:salon.example:n0001", "shared:salon.example:z"},
        // Bytes compare unsigned: "é" sorts after every ASCII letter.
        {"code point order", 4000, "é", "shared:salon.example:n0001", "shared:salon.example:é"},
        {"exactly four thousand are all kept", 3999, "a", "shared:salon.example:a", "shared:salon.example:n3998"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Console console(numberedSeen(c.stored));
        console.poll({entry({{"id", c.newId}})});
        const auto seen = console.seen();
        ASSERT_EQ(seen.size(), 4000u);
        EXPECT_TRUE(std::ranges::is_sorted(seen));
        EXPECT_EQ(seen.front(), c.lowest);
        EXPECT_EQ(seen.back(), c.highest);
    }
}

TEST(NoticeSelection, StoresTheSeenListAfterEveryPass) {
    Console console(std::vector<std::string>{"shared:h:1"});
    console.poll({});
    console.poll({});
    EXPECT_EQ(console.fake.log.count("defaults.set(velmoraSharedNotificationSeen)"), 2);
    EXPECT_EQ(console.seen(), (std::vector<std::string>{"shared:h:1"}));
}

TEST(NoticeSelection, SeenListOfAnotherTypeCountsAsEmpty) {
    Console console;
    console.fake.defaults.values[kSeenKey] = std::string("shared:salon.example:7");
    console.poll({entry()});
    EXPECT_EQ(console.announced().size(), 1u);
    EXPECT_EQ(console.seen(), (std::vector<std::string>{"shared:salon.example:7"}));
}

}  // namespace
}  // namespace velmora::testing
