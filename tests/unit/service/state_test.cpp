#include "state.h"

#include "text.h"

#include <gtest/gtest.h>

namespace service {
namespace {

constexpr int64_t kNow = 1767607530123;  // 2026-01-05T10:05:30.123Z
const std::string kSalon = "salon.velmora.fr";

ServiceState makeState() { return ServiceState("velmora.fr", {kSalon, "autre.velmora.fr"}, kNow); }

json::Object parseObject(const char* text) {
    json::Node node = json::parse(text);
    return json::asObject(node.get());
}

JsonObject* entryWithId(const json::Node& feed, const std::string& id) {
    JsonArray* list = json_object_get_array_member(json_node_get_object(feed.get()), "notifications");
    for (guint i = 0; i < json_array_get_length(list); ++i) {
        JsonObject* entry = json_array_get_object_element(list, i);
        if (json::stringMember(entry, "id") == id) return entry;
    }
    return nullptr;
}

std::vector<std::string> readIds(const json::Node& feed) {
    return json::stringArrayMember(json_node_get_object(feed.get()), "readIds").value_or(std::vector<std::string>{});
}

TEST(ServiceInbox, FillsWhatAnAddedEntryLacks) {
    ServiceState state = makeState();
    JsonObject* entry = state.addEntry(kSalon, parseObject(R"({"host":"salon.velmora.fr"})").get(), kNow);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(json::stringMember(entry, "id"), "notice:2");  // the seeded inbox holds notice:1
    EXPECT_EQ(json::stringMember(entry, "kind"), "notice");
    EXPECT_TRUE(json::stringMember(entry, "title").has_value());
    EXPECT_EQ(json::stringMember(entry, "body"), "");
    EXPECT_TRUE(json_object_get_null_member(entry, "read_at"));
    EXPECT_EQ(json::numberMember(entry, "dismissed"), 0.0);
    EXPECT_EQ(json::stringMember(entry, "created_at"), "2026-01-05T10:05:30.123Z");
    EXPECT_EQ(json::stringMember(entry, "url"), "/admin?notification=notice&noticeId=notice%3A2");
    EXPECT_FALSE(json_object_has_member(entry, "host"));
}

TEST(ServiceInbox, KeepsGivenMembersWhateverTheirType) {
    ServiceState state = makeState();
    JsonObject* entry =
        state.addEntry(kSalon, parseObject(R"({"id":5,"dismissed":true,"read_at":3,"url":null})").get(), kNow);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(json::numberMember(entry, "id"), 5.0);
    EXPECT_TRUE(json_object_get_boolean_member(entry, "dismissed"));
    EXPECT_EQ(json::numberMember(entry, "read_at"), 3.0);
    EXPECT_TRUE(json_object_get_null_member(entry, "url"));
}

TEST(ServiceInbox, DatesAnEntryBackBySecondsAgo) {
    ServiceState state = makeState();
    JsonObject* entry = state.addEntry(kSalon, parseObject(R"({"created_ago":301})").get(), kNow);
    EXPECT_EQ(json::stringMember(entry, "created_at"), isoTimeMs(kNow - 301000));
    EXPECT_FALSE(json_object_has_member(entry, "created_ago"));
}

TEST(ServiceInbox, AutomaticIdsSkipTakenOnesAndSameIdReplaces) {
    ServiceState state = makeState();
    state.addEntry(kSalon, parseObject(R"({"id":"notice:2","title":"premier"})").get(), kNow);
    EXPECT_EQ(json::stringMember(state.addEntry(kSalon, nullptr, kNow), "id"), "notice:3");
    state.addEntry(kSalon, parseObject(R"({"id":"notice:2","title":"remplacé"})").get(), kNow);
    const json::Node feed = state.inboxJson(kSalon);
    EXPECT_EQ(json::stringMember(entryWithId(feed, "notice:2"), "title"), "remplacé");
    JsonArray* list = json_object_get_array_member(json_node_get_object(feed.get()), "notifications");
    EXPECT_EQ(json_array_get_length(list), 5u);                                               // three seeded, two added
    EXPECT_EQ(json::stringMember(json_array_get_object_element(list, 0), "id"), "notice:3");  // newest first
}

TEST(ServiceInbox, MarkingReadStampsOnceAndFeedsReadIds) {
    ServiceState state = makeState();
    state.addEntry(kSalon, parseObject(R"({"id":"payable:42","kind":"payable"})").get(), kNow);
    EXPECT_EQ(state.markRead(kSalon, {"payable:42", "inconnu"}, kNow + 1000), std::vector<std::string>{"payable:42"});
    state.markRead(kSalon, {"payable:42"}, kNow + 5000);
    const json::Node feed = state.inboxJson(kSalon);
    EXPECT_EQ(json::stringMember(entryWithId(feed, "payable:42"), "read_at"), isoTimeMs(kNow + 1000));
    const auto ids = readIds(feed);
    EXPECT_NE(std::find(ids.begin(), ids.end(), "payable:42"), ids.end());
    EXPECT_TRUE(readIds(state.inboxJson("autre.velmora.fr")) == readIds(makeState().inboxJson("autre.velmora.fr")));
}

TEST(ServiceInbox, DismissSetsOneAndUnknownEntriesOrHostsFail) {
    ServiceState state = makeState();
    EXPECT_TRUE(state.dismiss(kSalon, "appointment:12"));
    EXPECT_EQ(json::numberMember(entryWithId(state.inboxJson(kSalon), "appointment:12"), "dismissed"), 1.0);
    EXPECT_FALSE(state.dismiss(kSalon, "notice:99"));
    EXPECT_EQ(state.addEntry("inconnu.velmora.fr", nullptr, kNow), nullptr);
}

TEST(ServiceSessions, SignInLinksAreOneTimeAndBoundToTheirInstance) {
    const struct {
        const char* name;
        std::string redeemHost;
        int64_t redeemAt;
        int redemptions;
        bool opensSession;
    } cases[] = {
        {"on its instance", kSalon, kNow + 1000, 1, true},
        {"on another instance", "autre.velmora.fr", kNow + 1000, 1, false},
        {"a second time", kSalon, kNow + 1000, 2, false},
        {"after two minutes", kSalon, kNow + 120000, 1, false},
    };
    for (const auto& c : cases) {
        ServiceState state = makeState();
        const User* user = state.authenticate("admin@salon.velmora.fr", "demo", kSalon);
        ASSERT_NE(user, nullptr);
        const std::string token = state.issueLoginToken(*user, kNow);
        std::optional<std::string> session;
        for (int i = 0; i < c.redemptions; ++i) session = state.redeemLoginToken(token, c.redeemHost, c.redeemAt);
        EXPECT_EQ(session.has_value(), c.opensSession) << c.name;
    }
}

TEST(ServiceSessions, SessionsHoldOnTheirHostUntilSignedOut) {
    ServiceState state = makeState();
    const User* user = state.authenticate("admin@salon.velmora.fr", "demo", "");
    ASSERT_NE(user, nullptr);
    const auto session = state.redeemLoginToken(state.issueLoginToken(*user, kNow), kSalon, kNow);
    ASSERT_TRUE(session);
    EXPECT_NE(state.sessionUser(*session, kSalon), nullptr);
    EXPECT_EQ(state.sessionUser(*session, "autre.velmora.fr"), nullptr);
    EXPECT_EQ(state.signOut("autre.velmora.fr"), 0);
    EXPECT_EQ(state.signOut(kSalon), 1);
    EXPECT_EQ(state.sessionUser(*session, kSalon), nullptr);
}

TEST(ServiceSessions, RoleChangesReachTheSignedInUser) {
    ServiceState state = makeState();
    const User* user = state.authenticate("admin@salon.velmora.fr", "demo", kSalon);
    const auto session = state.redeemLoginToken(state.issueLoginToken(*user, kNow), kSalon, kNow);
    EXPECT_EQ(state.setRole(kSalon, "staff", "admin@salon.velmora.fr"), 1);
    EXPECT_EQ(state.sessionUser(*session, kSalon)->role, "staff");
    EXPECT_EQ(state.setRole(kSalon, "admin", ""), 2);  // both demo accounts of the host
}

TEST(ServiceSessions, CredentialsMustMatchAccountAndSpace) {
    ServiceState state = makeState();
    EXPECT_EQ(state.authenticate("admin@salon.velmora.fr", "faux", ""), nullptr);
    EXPECT_EQ(state.authenticate("admin@salon.velmora.fr", "demo", "autre.velmora.fr"), nullptr);
    state.putUser({"gerante@salon.velmora.fr", "secret", kSalon, "admin", "Gérante"});
    EXPECT_NE(state.authenticate("gerante@salon.velmora.fr", "secret", ""), nullptr);
}

TEST(ServicePersistence, StateDocumentRoundTrips) {
    ServiceState state = makeState();
    state.addInstance("nouveau.velmora.fr", kNow);
    state.addEntry(kSalon, parseObject(R"({"id":"payable:42","kind":"payable"})").get(), kNow);
    const User* user = state.authenticate("admin@salon.velmora.fr", "demo", kSalon);
    const auto session = state.redeemLoginToken(state.issueLoginToken(*user, kNow), kSalon, kNow);

    ServiceState restored("velmora.fr", {kSalon}, kNow + 60000);
    ASSERT_TRUE(restored.fromJson(state.toJson().get(), kNow + 60000));
    EXPECT_NE(restored.sessionUser(*session, kSalon), nullptr);
    EXPECT_TRUE(restored.isInstance("nouveau.velmora.fr"));
    EXPECT_EQ(json::stringify(restored.inboxJson(kSalon).get()), json::stringify(state.inboxJson(kSalon).get()));
}

TEST(ServicePersistence, RefusesADocumentOfAnotherShape) {
    ServiceState state = makeState();
    const std::string before = json::stringify(state.toJson().get());
    for (const char* text :
         {R"({"version":2})", R"([])", R"({"version":1,"instances":[1]})",
          R"({"version":1,"instances":[],"users":[5],"sessions":[],"inboxes":{},"preferences":{}})"}) {
        json::Node document = json::parse(text);
        EXPECT_FALSE(state.fromJson(document.get(), kNow)) << text;
    }
    EXPECT_EQ(json::stringify(state.toJson().get()), before);
}

}  // namespace
}  // namespace service
