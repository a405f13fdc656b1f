#include "state.h"

#include "text.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace service {
namespace {

constexpr int64_t kNow = 1767607530123;  // 2026-01-05T10:05:30.123Z
const std::string kSalon = "salon.velmora.fr", kOther = "autre.velmora.fr", kAdmin = "admin@salon.velmora.fr";

class ServiceStateTest : public ::testing::Test {
protected:
    // Adds an entry with these members (JSON text) to the salon's inbox; the stored entry as JSON text.
    std::string add(const char* members) {
        const json::Node node = json::parse(members);
        const json::Object object = json::asObject(node.get());
        JsonObject* entry = state.addEntry(kSalon, object.get(), kNow);
        return entry ? json::stringify(json::objectNode(entry).get()) : "null";
    }
    JsonArray* feed() {
        feed_ = state.inboxJson(kSalon);
        return json_object_get_array_member(json_node_get_object(feed_.get()), "notifications");
    }
    JsonObject* entry(const std::string& id) {
        JsonArray* list = feed();
        for (guint i = 0; i < json_array_get_length(list); ++i) {
            if (json::stringMember(json_array_get_object_element(list, i), "id") == id) {
                return json_array_get_object_element(list, i);
            }
        }
        return nullptr;
    }
    std::vector<std::string> readIds(ServiceState& of, const std::string& host) {
        const json::Node node = of.inboxJson(host);
        return json::stringArrayMember(json_node_get_object(node.get()), "readIds")
            .value_or(std::vector<std::string>{});
    }
    // A session opened through a sign-in link redeemed at once on the salon.
    std::string signedIn() {
        const User* user = state.authenticate(kAdmin, "demo", kSalon);
        return state.redeemLoginToken(state.issueLoginToken(*user, kNow), kSalon, kNow).value_or("");
    }

    ServiceState state{"velmora.fr", {kSalon, kOther}, kNow};
    json::Node feed_;
};

TEST_F(ServiceStateTest, AddedEntriesGetWhatTheyLackAndKeepWhatTheyHave) {
    // The seeded inbox holds notice:1; the control's "host" member is not the entry's.
    EXPECT_EQ(add(R"({"host":"salon.velmora.fr"})"),
              R"({"id":"notice:2","kind":"notice","title":"Nouvel avis","body":"","read_at":null,"dismissed":0,)"
              R"("created_at":"2026-01-05T10:05:30.123Z","url":"/admin?notification=notice&noticeId=notice%3A2"})");
    EXPECT_EQ(add(R"({"id":5,"dismissed":true,"read_at":3,"url":null,"kind":"payable","title":"t","body":"b",)"
                  R"("created_ago":301})"),
              R"({"id":5,"dismissed":true,"read_at":3,"url":null,"kind":"payable","title":"t","body":"b",)"
              R"("created_at":")" +
                  isoTimeMs(kNow - 301000) + R"("})");
    EXPECT_EQ(state.addEntry("inconnu.velmora.fr", nullptr, kNow), nullptr);
}

TEST_F(ServiceStateTest, AutomaticIdsSkipTakenOnesAndTheSameIdReplacesInPlace) {
    add(R"({"id":"notice:3","title":"premier"})");
    EXPECT_EQ(json::stringMember(state.addEntry(kSalon, nullptr, kNow), "id"), "notice:2");
    EXPECT_EQ(json::stringMember(state.addEntry(kSalon, nullptr, kNow), "id"), "notice:4");
    add(R"({"id":"notice:3","title":"remplacé"})");
    EXPECT_EQ(json::stringMember(entry("notice:3"), "title"), "remplacé");
    EXPECT_EQ(json_array_get_length(feed()), 6u);  // three seeded, three added
    EXPECT_EQ(json::stringMember(json_array_get_object_element(feed(), 0), "id"), "notice:4");  // newest first
}

TEST_F(ServiceStateTest, MarkingReadStampsOnceAndDismissSetsOne) {
    add(R"({"id":"payable:42","kind":"payable"})");
    EXPECT_EQ(state.markRead(kSalon, {"payable:42", "inconnu"}, kNow + 1000), std::vector<std::string>{"payable:42"});
    state.markRead(kSalon, {"payable:42"}, kNow + 5000);
    EXPECT_EQ(json::stringMember(entry("payable:42"), "read_at"), isoTimeMs(kNow + 1000));
    const auto ids = readIds(state, kSalon);
    EXPECT_NE(std::find(ids.begin(), ids.end(), "payable:42"), ids.end());
    ServiceState fresh("velmora.fr", {kSalon, kOther}, kNow);
    EXPECT_EQ(readIds(state, kOther), readIds(fresh, kOther));

    EXPECT_TRUE(state.dismiss(kSalon, "appointment:12"));
    EXPECT_EQ(json::numberMember(entry("appointment:12"), "dismissed"), 1.0);
    EXPECT_FALSE(state.dismiss(kSalon, "notice:99"));
}

TEST_F(ServiceStateTest, SignInLinksAreOneTimeShortLivedAndBoundToTheirInstance) {
    const struct {
        const char* name;
        std::string host;
        int64_t at;
        int redemptions;
        bool opensSession;
    } cases[] = {
        {"on its instance", kSalon, kNow + 1000, 1, true},
        {"on another instance", kOther, kNow + 1000, 1, false},
        {"a second time", kSalon, kNow + 1000, 2, false},
        {"after two minutes", kSalon, kNow + 120000, 1, false},
    };
    for (const auto& c : cases) {
        const std::string token = state.issueLoginToken(*state.authenticate(kAdmin, "demo", kSalon), kNow);
        std::optional<std::string> session;
        for (int i = 0; i < c.redemptions; ++i) session = state.redeemLoginToken(token, c.host, c.at);
        EXPECT_EQ(session.has_value(), c.opensSession) << c.name;
    }
}

TEST_F(ServiceStateTest, SessionsHoldOnTheirHostUntilSignedOutAndFollowRoleChanges) {
    const std::string session = signedIn();
    EXPECT_NE(state.sessionUser(session, kSalon), nullptr);
    EXPECT_EQ(state.sessionUser(session, kOther), nullptr);
    EXPECT_EQ(state.setRole(kSalon, "staff", kAdmin), 1);
    EXPECT_EQ(state.sessionUser(session, kSalon)->role, "staff");
    EXPECT_EQ(state.setRole(kSalon, "admin", ""), 2);  // both demo accounts of the host
    EXPECT_EQ(state.signOut(kOther), 0);
    EXPECT_EQ(state.signOut(kSalon), 1);
    EXPECT_EQ(state.sessionUser(session, kSalon), nullptr);
}

TEST_F(ServiceStateTest, CredentialsMustMatchAccountAndSpace) {
    EXPECT_NE(state.authenticate(kAdmin, "demo", ""), nullptr);  // an empty space: the account's first
    EXPECT_EQ(state.authenticate(kAdmin, "faux", ""), nullptr);
    EXPECT_EQ(state.authenticate(kAdmin, "demo", kOther), nullptr);
    state.putUser({"gerante@salon.velmora.fr", "secret", kSalon, "admin", "Gérante"});
    EXPECT_NE(state.authenticate("gerante@salon.velmora.fr", "secret", ""), nullptr);
}

TEST_F(ServiceStateTest, StateDocumentRoundTripsAndOneOfAnotherShapeChangesNothing) {
    state.addInstance("nouveau.velmora.fr", kNow);
    add(R"({"id":"payable:42","kind":"payable"})");
    const std::string session = signedIn();
    ServiceState restored("velmora.fr", {kSalon}, kNow + 60000);
    ASSERT_TRUE(restored.fromJson(state.toJson().get(), kNow + 60000));
    EXPECT_NE(restored.sessionUser(session, kSalon), nullptr);
    EXPECT_TRUE(restored.isInstance("nouveau.velmora.fr"));
    EXPECT_EQ(json::stringify(restored.inboxJson(kSalon).get()), json::stringify(state.inboxJson(kSalon).get()));

    const std::string before = json::stringify(state.toJson().get());
    for (const char* text :
         {R"({"version":2})", R"([])", R"({"version":1,"instances":[1]})",
          R"({"version":1,"instances":[],"users":[5],"sessions":[],"inboxes":{},"preferences":{}})"}) {
        EXPECT_FALSE(state.fromJson(json::parse(text).get(), kNow)) << text;
    }
    EXPECT_EQ(json::stringify(state.toJson().get()), before);
}

}  // namespace
}  // namespace service
