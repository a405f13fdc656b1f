// The inbox poll and the selection pass: when a poll runs, how its answer is read, and which
// entries become notifications.
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

constexpr double kNow = 1740824430.0;  // 2025-03-01T10:20:30Z

JsValue unreadNotice(const char* id) { return JsValue::Object{{"id", id}, {"kind", "notice"}}; }

// Polled by the timer, or at once after a finished load, which also remembers the console
// for the next start.
TEST(Poll, RunsOnlyOnTheConsoleOfAnAllowedHost) {
    const struct {
        std::optional<std::string> page;
        bool polls;
    } cases[] = {
        {"https://salon.example/admin?notification=notice&noticeId=7", true},  // the path alone counts
        {"https://salon.example:443/admin", true},
        {"https://velmora.fr/admin", true},
        // Only the instance's own page, over HTTPS on the default port, speaks for it.
        {"http://salon.example/admin", false},
        {"http://salon.example:8080/admin", false},
        {"https://salon.example:8443/admin", false},
        {"https://u:p@salon.example/admin", false},
        {"https://salon.example/admin/bookings", false},
        {"https://salon.example/admin/", false},
        {"https://salon.example/Admin", false},
        {"https://ailleurs.example/admin", false},
        {"https://Salon.example/admin", false},  // hosts are not case-folded
        {"/admin", false},                       // no host
        {std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page.value_or("no URL"));
        Rig r;
        r.console(c.page);
        r.controller->pollNativeNotifications();
        EXPECT_EQ(r.web().scripts.size(), c.polls ? 1u : 0u);
        EXPECT_EQ(r.fake.log.count("notifications.delivered"), c.polls ? 1 : 0);
        EXPECT_EQ(r.status(), "Notifications : connexion nécessaire");
        if (c.polls) r.answer(JsValue());
        r.controller->didFinishNavigation();
        EXPECT_EQ(r.fake.defaults.string("velmoraInstanceHost"),
                  c.polls ? foundation::Url::parse(*c.page)->host() : std::nullopt);
        EXPECT_EQ(r.fake.log.count("web.callAsyncJavaScript"), c.polls ? 2 : 0);
    }
}

TEST(Poll, OnePollInFlightAtATime) {
    Rig r;
    r.console();
    r.controller->pollNativeNotifications();
    r.controller->pollNativeNotifications();  // a page load right after a tick
    EXPECT_EQ(r.web().scripts.size(), 1u);
    EXPECT_EQ(r.fake.log.count("notifications.delivered"), 1);
    r.answer(std::string("TypeError: api is not a function"));  // a failed one ends all the same
    r.controller->pollNativeNotifications();
    EXPECT_EQ(r.fake.log.count("web.callAsyncJavaScript"), 2);
}

TEST(Poll, RunsEveryMinuteFromLaunch) {
    Rig r;
    r.console();
    r.fake.timers.advance(59.9);
    EXPECT_TRUE(r.web().scripts.empty());
    r.fake.timers.advance(0.1);
    r.answer(signedIn());
    r.fake.timers.advance(60.0);
    EXPECT_EQ(r.web().scripts.size(), 1u);
    EXPECT_EQ(r.fake.log.count("web.callAsyncJavaScript"), 2);
}

// What a poll did, in short: "+8" announced shared:salon.example:8, "-1" removed
// shared:salon.example:1, "-by-url" removed the notice of that name.
std::string effects(const Rig& r) {
    std::string text;
    const auto add = [&](char sign, std::string id) {
        if (id.starts_with("shared:salon.example:")) id.erase(0, 21);
        text += (text.empty() ? "" : " ") + (sign + id);
    };
    for (const auto& id : r.announced()) add('+', id);
    for (const auto& id : r.removed()) add('-', id);
    return text;
}

TEST(Poll, ReadsTheAnswerWithItsTypeRules) {
    const JsValue read7 = JsValue::Object{
        {"id", "7"}, {"kind", "notice"}, {"read_at", "2025-03-01T10:00:00Z"}, {"url", "/admin?noticeId=7"}};
    const JsValue unread8 = unreadNotice("8"), off = JsValue::Object{{"enabled", false}};
    const JsValue::Array noIds;
    const struct {
        const char* name;
        platform::ScriptResult answer;
        const char* effects;
        bool signedIn = true;
    } cases[] = {
        {"evaluation failed", std::string("Error: 500"), "", false},
        {"null", JsValue(), "", false},
        {"an array", JsValue::Array{JsValue::Object{{"authenticated", true}}}, "", false},
        {"not signed in", JsValue::Object{{"authenticated", false}}, "", false},
        {"authenticated as the number 1", JsValue::Object{{"authenticated", 1}}, "", false},
        {"authenticated as text", JsValue::Object{{"authenticated", "true"}}, "", false},
        {"no authenticated key", JsValue::Object{{"notifications", JsValue::Array{unread8}}}, "", false},
        {"only the authentication", JsValue::Object{{"authenticated", true}}, ""},
        {"read ids of strings", signedIn({}, JsValue::Array{"1", "2"}), "-1 -2"},
        {"one number voids the read ids", signedIn({}, JsValue::Array{"1", 2}), ""},
        {"read ids that are not an array", signedIn({}, "1"), ""},
        {"entries that are all objects", signedIn({read7, unread8}, JsValue::Array{"1"}), "+8 -by-url -1"},
        {"one null entry voids the entries", signedIn({read7, JsValue(), unread8}), ""},
        {"one text entry voids the entries", signedIn({unread8, "9"}), ""},
        {"entries that are not an array", JsValue::Object{{"authenticated", true}, {"notifications", read7}}, ""},
        {"preferences of objects apply", signedIn({unread8}, noIds, JsValue::Object{{"notice", off}}), ""},
        {"one value that is not an object voids the preferences",
         signedIn({unread8}, noIds, JsValue::Object{{"notice", off}, {"mail", true}}), "+8"},
        {"preferences that are not an object", signedIn({unread8}, noIds, JsValue::Array{off}), "+8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.console();
        r.show("shared:salon.example:1");
        r.show("shared:salon.example:2");
        r.show("by-url", "https://salon.example/admin?noticeId=7");
        r.poll(c.answer);
        EXPECT_EQ(r.status(), c.signedIn ? "Notifications synchronisées : actives"
                                         : "Notifications : ouvrez Velmóra pour vous connecter");
        EXPECT_EQ(effects(r), c.effects);
        // The seen list is stored after every signed-in pass, even when nothing changed.
        EXPECT_EQ(r.fake.log.has("defaults.set(velmoraSharedNotificationSeen)"), c.signedIn);
    }
}

// A payable entry is announced again, silently, exactly when the delivered list known at the
// script's answer lacks it, whichever of the two answers comes first.
TEST(Poll, AnnouncesAMissingPayableByTheDeliveredListKnownWhenTheScriptAnswers) {
    Rig r;
    r.console();
    // A week old, announced with sound all the same: the age limit is not for payables.
    const JsValue snapshot =
        signedIn({JsValue::Object{{"id", "payable:1"}, {"kind", "payable"}, {"created_at", "2025-02-22T10:20:30Z"}}});
    auto& centre = r.fake.notifications;
    r.fake.clock.set(kNow);

    r.poll(snapshot);  // nothing delivered yet: announced
    ASSERT_EQ(centre.added.size(), 1u);
    EXPECT_TRUE(centre.added[0].content.sound);
    r.poll(snapshot);  // delivered at once: known, not announced
    EXPECT_EQ(centre.added.size(), 1u);

    // Swiped away, but this poll's delivered list arrives after the script: the list of the
    // previous poll still says it is shown.
    centre.shown.clear();
    centre.holdDeliveredAnswers = true;
    r.poll(snapshot);
    EXPECT_EQ(centre.added.size(), 1u);
    centre.answerDelivered();

    // Now the delivered list arrives first and says it is missing: announced again, silently.
    r.controller->pollNativeNotifications();
    centre.answerDelivered();
    r.answer(snapshot);
    ASSERT_EQ(centre.added.size(), 2u);
    EXPECT_EQ(centre.added[1].identifier, "shared:salon.example:payable:1");
    EXPECT_FALSE(centre.added[1].content.sound);
}

TEST(Poll, WorksForTheHostThePollStartedOn) {
    Rig r;
    r.console();
    r.show("shared:salon.example:6");
    r.show("shared:autre.example:6");
    r.controller->pollNativeNotifications();
    r.web().showPage("https://autre.example/admin");  // the page moved before the answer
    r.answer(signedIn({unreadNotice("7")}, JsValue::Array{"6"}));
    EXPECT_EQ(r.announced(), Calls{"shared:salon.example:7"});
    EXPECT_EQ(r.fake.notifications.added.at(0).content.userInfo.at("url"),
              "https://salon.example/admin?notification=notice&noticeId=7");
    EXPECT_EQ(r.removed(), std::set<std::string>{"shared:salon.example:6"});
}

// The view reports a load's URL as soon as it starts, while the earlier document still runs the
// script: the script itself checks the document's origin before it trusts the page's `api`.
TEST(Poll, TheScriptAnswersOnlyInTheConsoleItWasMeantFor) {
    for (const char* page : {kConsole, "https://salon.example:443/admin?x=1", "https://velmora.fr/admin"}) {
        SCOPED_TRACE(page);
        Rig r;
        r.console(page);
        r.controller->pollNativeNotifications();
        ASSERT_EQ(r.web().scripts.size(), 1u);
        const std::string origin = "https://" + *foundation::Url::parse(page)->host();
        EXPECT_TRUE(r.web().scripts[0].body.starts_with("if(location.origin!==\"" + origin +
                                                        "\")return {authenticated:false};\n"
                                                        "if(typeof api!=='function')return {authenticated:false};\n"))
            << r.web().scripts[0].body;
    }
}

// A launched controller on the console of salon.example at kNow, polling signed-in answers.
struct SelectionRig : Rig {
    explicit SelectionRig(std::optional<Calls> seen = std::nullopt) {
        if (seen) fake.defaults.values[kSeenKey] = *seen;
        fake.clock.set(kNow);
        console();
    }
    void pass(JsValue::Array entries, JsValue::Object preferences = {}) {
        poll(signedIn(std::move(entries), JsValue::Array{}, std::move(preferences)));
    }
    bool hasSeen(const std::string& identifier) const { return std::ranges::count(seen(), identifier) == 1; }
};

// An unread entry of kind "notice" with id "7", changed by `fields`.
JsValue entry(JsValue::Object fields = {}) {
    JsValue::Object made{{"id", "7"}, {"kind", "notice"}, {"title", "Nouveau message"}, {"body", "Bonjour"}};
    for (auto& [key, value] : fields) made[key] = value;
    return made;
}

// What one pass makes of a single entry.
enum Outcome {
    kRings,     // announced with sound, and recorded as seen
    kSilent,    // announced without sound, and recorded
    kRecorded,  // only recorded
    kSkipped,   // neither: turning its preference on later may still announce it
};

TEST(Selection, DecidesEveryEntryByAgeStateKindAndPreference) {
    const char* readAt = "2025-03-01T10:20:00Z";
    const auto of = [](const char* kind, JsValue::Object flags) { return JsValue::Object{{kind, std::move(flags)}}; };
    const struct {
        const char* name;
        JsValue::Object fields;
        JsValue::Object preferences;
        Outcome outcome;
    } cases[] = {
        // At most five minutes old, in either form of the date (each read as iso8601_test.cpp
        // shows); a creation time that does not parse sets no limit.
        {"exactly 300 seconds old", {{"created_at", "2025-03-01T10:15:30Z"}}, {}, kRings},
        {"301 seconds old", {{"created_at", "2025-03-01T10:15:29Z"}}, {}, kRecorded},
        {"fractional, past the limit", {{"created_at", "2025-03-01T10:15:29.999Z"}}, {}, kRecorded},
        {"in the future", {{"created_at", "2025-03-01T10:25:00Z"}}, {}, kRings},
        {"not a date", {{"created_at", "hier"}}, {}, kRings},
        {"not a string", {{"created_at", 1740000000}}, {}, kRings},
        {"a week-old payable", {{"kind", "payable"}, {"created_at", "2025-02-22T10:20:30Z"}}, {}, kRings},
        // Read once read_at is a string; dismissed at 1 or true.
        {"read", {{"read_at", readAt}}, {}, kRecorded},
        {"read at an empty text", {{"read_at", ""}}, {}, kRecorded},
        {"read_at null", {{"read_at", nullptr}}, {}, kRings},
        {"read_at a number", {{"read_at", 1}}, {}, kRings},
        {"dismissed 1", {{"dismissed", 1}}, {}, kRecorded},
        {"dismissed true", {{"dismissed", true}}, {}, kRecorded},
        {"dismissed 0", {{"dismissed", 0}}, {}, kRings},
        {"dismissed false", {{"dismissed", false}}, {}, kRings},
        {"dismissed as the text 1", {{"dismissed", "1"}}, {}, kRings},
        {"dismissed 2", {{"dismissed", 2}}, {}, kRings},
        {"read payable", {{"kind", "payable"}, {"read_at", readAt}}, {}, kRecorded},
        {"disabled and read", {{"read_at", readAt}}, of("notice", {{"enabled", false}}), kRecorded},
        // Only an explicit false, or 0, turns a preference flag off.
        {"disabled", {}, of("notice", {{"enabled", false}}), kSkipped},
        {"disabled as 0", {}, of("notice", {{"enabled", 0}}), kSkipped},
        {"enabled as 2", {}, of("notice", {{"enabled", 2}}), kRings},
        {"enabled as text", {}, of("notice", {{"enabled", "false"}}), kRings},
        {"enabled null", {}, of("notice", {{"enabled", nullptr}}), kRings},
        {"another kind disabled", {}, of("mail", {{"enabled", false}}), kRings},
        {"disabled and too old",
         {{"created_at", "2025-03-01T10:00:00Z"}},
         of("notice", {{"enabled", false}}),
         kSkipped},
        {"appointments follow bookings", {{"kind", "appointment"}}, of("booking", {{"enabled", false}}), kSkipped},
        {"appointments ignore their own name",
         {{"kind", "appointment"}},
         of("appointment", {{"enabled", false}}),
         kRings},
        {"the booking kind itself", {{"kind", "booking"}}, of("booking", {{"enabled", false}}), kSkipped},
        {"disabled payable", {{"kind", "payable"}}, of("payable", {{"enabled", false}}), kSkipped},
        {"silent", {}, of("notice", {{"sound", false}}), kSilent},
        {"silent as 0", {}, of("notice", {{"sound", 0}}), kSilent},
        {"sound as 1", {}, of("notice", {{"sound", 1}}), kRings},
        {"sound as text", {}, of("notice", {{"sound", "false"}}), kRings},
        {"silent bookings", {{"kind", "appointment"}}, of("booking", {{"sound", false}}), kSilent},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SelectionRig r;
        r.pass({entry(c.fields)}, c.preferences);
        const bool announced = c.outcome == kRings || c.outcome == kSilent;
        ASSERT_EQ(r.announced().size(), announced ? 1u : 0u);
        if (announced) {
            EXPECT_EQ(r.fake.notifications.added[0].content.sound, c.outcome == kRings);
        }
        EXPECT_EQ(r.seen(), c.outcome == kSkipped ? Calls{} : Calls{"shared:salon.example:7"});
    }
}

TEST(Selection, ReenabledPreferenceAnnouncesOnlyARecentEntry) {
    for (const auto& [laterBy, announced] : {std::pair{300.0, true}, {301.0, false}}) {
        SCOPED_TRACE(laterBy);
        SelectionRig r;
        const JsValue appointment = entry({{"kind", "appointment"}, {"created_at", "2025-03-01T10:20:30Z"}});
        r.pass({appointment}, JsValue::Object{{"booking", JsValue::Object{{"enabled", false}}}});
        EXPECT_TRUE(r.announced().empty());
        r.fake.clock.set(kNow + laterBy);
        r.pass({appointment}, JsValue::Object{{"booking", JsValue::Object{{"enabled", true}}}});
        EXPECT_EQ(r.announced().size(), announced ? 1u : 0u);
        EXPECT_TRUE(r.hasSeen("shared:salon.example:7"));
    }
}

// Seen is seen: a notice refused by the centre, or gone from the screen, is not announced again.
TEST(Selection, AnnouncesAnEntryOnceEvenWhenTheCentreRefusedIt) {
    SelectionRig r;
    r.fake.notifications.refusal = "Notifications non autorisées";
    r.pass({entry()});
    EXPECT_EQ(r.status(), "Notifications : autorisation à vérifier");
    r.pass({entry()});
    EXPECT_EQ(r.announced(), Calls{"shared:salon.example:7"});
    EXPECT_TRUE(r.hasSeen("shared:salon.example:7"));
}

TEST(Selection, MissingOnlyMattersForThePayableKind) {
    const struct {
        const char* kind;
        bool announced;
    } cases[] = {{"payable", true}, {"notice", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        SelectionRig r(Calls{"shared:salon.example:payable:42"});  // seen in an earlier run
        r.pass({entry({{"id", "payable:42"}, {"kind", c.kind}})});
        ASSERT_EQ(r.announced().size(), c.announced ? 1u : 0u);
        if (c.announced) {
            EXPECT_FALSE(r.fake.notifications.added[0].content.sound);
        }
    }
}

TEST(Selection, BuildsTheNoticeFromTheEntry) {
    const struct {
        const char* name;
        const char* id;
        const char* encodedId;
        JsValue title, body;
        const char* shownTitle;
        const char* shownBody;
    } cases[] = {
        {"plain id", "7", "7", "Nouveau message", "Bonjour", "Nouveau message", "Bonjour"},
        {"a colon is encoded in the url only", "payable:42", "payable%3A42", "T", "B", "T", "B"},
        // Letters outside ASCII are encoded as well, so that the url stays a valid URL (the
        // encoding itself is tested in text_test.cpp).
        {"non-ASCII letters", "réservation 1/2", "r%C3%A9servation%201%2F2", "T", "B", "T", "B"},
        {"no title or body", "7", "7", nullptr, nullptr, "Velmóra", ""},
        {"title and body of other types", "7", "7", 5, true, "Velmóra", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SelectionRig r;
        r.pass({entry({{"id", c.id}, {"title", c.title}, {"body", c.body}})});
        ASSERT_EQ(r.fake.notifications.added.size(), 1u);
        const auto& request = r.fake.notifications.added[0];
        EXPECT_EQ(request.identifier, std::string("shared:salon.example:") + c.id);
        const std::string url = std::string("https://salon.example/admin?notification=notice&noticeId=") + c.encodedId;
        EXPECT_EQ(request.content.userInfo, (std::map<std::string, std::string>{{"url", url}}));
        EXPECT_EQ(request.content.title, c.shownTitle);
        EXPECT_EQ(request.content.body, c.shownBody);
        EXPECT_TRUE(request.content.sound);
        EXPECT_FALSE(request.delaySeconds);
        // The url gives the id back unchanged.
        EXPECT_EQ(foundation::Url::parse(url)->firstQueryItem("noticeId")->value, c.id);
    }
}

TEST(Selection, SkipsEntriesWithoutTextIdOrKind) {
    SelectionRig r;
    r.pass({
        JsValue::Object{{"id", 7}, {"kind", "notice"}},
        JsValue::Object{{"id", "8"}, {"kind", 3}},
        JsValue::Object{{"id", "9"}},
        JsValue::Object{{"kind", "notice"}, {"read_at", "2025-03-01T10:20:00Z"}},
    });
    EXPECT_TRUE(r.announced().empty());
    EXPECT_TRUE(r.seen().empty());
    EXPECT_TRUE(r.fake.defaults.values.contains(kSeenKey));
}

TEST(Selection, AnnouncesInInboxOrderWithoutLimit) {
    SelectionRig r;
    JsValue::Array entries;
    Calls expected;
    for (const char* id : {"9", "10", "1", "30", "2"}) {
        entries.push_back(entry({{"id", id}}));
        expected.push_back(std::string("shared:salon.example:") + id);
    }
    r.pass(entries);
    EXPECT_EQ(r.announced(), expected);
}

TEST(Selection, SameIdOnTwoHostsGivesTwoNotices) {
    SelectionRig r;
    r.pass({entry()});
    r.web().showPage("https://autre.example/admin");
    r.pass({entry()});
    EXPECT_EQ(r.announced(), (Calls{"shared:salon.example:7", "shared:autre.example:7"}));
    EXPECT_EQ(r.seen(), (Calls{"shared:autre.example:7", "shared:salon.example:7"}));
}

TEST(Selection, KeepsTheHighestFourThousandIdentifiers) {
    const struct {
        const char* name;
        int stored;
        const char* newId;
        std::string lowest, highest;
    } cases[] = {
        {"the newest sorts lowest and is dropped", 4000, "a", "n0000", "n3999"},
        {"the lowest older one is dropped", 4000, "z", "n0001", "z"},
        // Bytes compare unsigned: "é" sorts after every ASCII letter.
        {"code point order", 4000, "é", "n0001", "é"},
        {"exactly four thousand are all kept", 3999, "a", "a", "n3998"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Calls stored;
        for (int i = 0; i < c.stored; ++i) {
            const std::string number = std::to_string(i);
            stored.push_back("shared:salon.example:n" + std::string(4 - number.size(), '0') + number);
        }
        SelectionRig r(stored);
        r.pass({entry({{"id", c.newId}})});
        const auto seen = r.seen();
        ASSERT_EQ(seen.size(), 4000u);
        EXPECT_TRUE(std::ranges::is_sorted(seen));
        EXPECT_EQ(seen.front(), "shared:salon.example:" + c.lowest);
        EXPECT_EQ(seen.back(), "shared:salon.example:" + c.highest);
    }
}

}  // namespace
}  // namespace velmora::testing
