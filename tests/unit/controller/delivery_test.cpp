#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using foundation::JsValue;

// A launched controller whose page shows `page`, with salon.example allowed.
struct Console {
    explicit Console(std::optional<std::string> page = "https://salon.example/admin") {
        fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{"salon.example"};
        velmora.applicationWillFinishLaunching();
        velmora.applicationDidFinishLaunching();
        if (page) {
            fake.views.web->showPage(*page);
        } else {
            fake.views.web->currentUrl.reset();
        }
    }
    std::string statusTitle() { return fake.application.mainMenu->findAction("")->title(); }

    fakes::FakePlatform fake;
    Velmora velmora{fake.platform, BuildConstants{kPublicHost}, {"Velmora"}};
};

TEST(NoticeDelivery, TestNotificationLeadsToTheConsole) {
    Console console;
    console.fake.application.mainMenu->choose("testNativeNotice");
    console.fake.application.mainMenu->choose("testNativeNotice");
    const auto& added = console.fake.notifications.added;
    ASSERT_EQ(added.size(), 2u);
    const std::regex identifier(
        "velmora-notification-test-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    for (const auto& request : added) {
        EXPECT_TRUE(std::regex_match(request.identifier, identifier)) << request.identifier;
        EXPECT_EQ(request.content.title, "Essai Velmóra");
        EXPECT_EQ(request.content.body, "Les notifications sont assurées par Velmóra sur ce Mac.");
        EXPECT_TRUE(request.content.sound);
        EXPECT_EQ(request.content.userInfo,
                  (std::map<std::string, std::string>{{"url", "https://salon.example/admin"}}));
        EXPECT_FALSE(request.delaySeconds);
    }
    // Each test adds a notification of its own.
    EXPECT_NE(added[0].identifier, added[1].identifier);
    EXPECT_EQ(console.fake.notifications.shown.size(), 2u);
}

TEST(NoticeDelivery, PostsOnlyFromAPageOfAnAllowedHost) {
    const struct {
        std::optional<std::string> page;
        std::optional<std::string> url;
    } cases[] = {
        {"https://salon.example/admin", "https://salon.example/admin?noticeId=7"},
        {"https://salon.example/admin/bookings?x=1", "https://salon.example/admin?noticeId=7"},  // the host alone
        {"https://salon.example:8443/connexion.html", "https://salon.example/admin?noticeId=7"},
        {"https://velmora.fr/connexion.html", "https://velmora.fr/admin?noticeId=7"},
        {"https://ailleurs.example/admin", std::nullopt},
        {"https://Salon.example/admin", std::nullopt},
        {"file:///admin", std::nullopt},
        {"/admin", std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page.value_or("no page"));
        Console console(c.page);
        console.velmora.deliverNativeNotice("shared:salon.example:7", "Titre", "Texte", "/admin?noticeId=7", true);
        const auto& added = console.fake.notifications.added;
        ASSERT_EQ(added.size(), c.url ? 1u : 0u);
        if (c.url) {
            EXPECT_EQ(added[0].content.userInfo.at("url"), *c.url);
        }
        EXPECT_EQ(console.statusTitle(), "Notifications : connexion nécessaire");
    }
}

TEST(NoticeDelivery, PostsOnlyPathsOfTheConsole) {
    const struct {
        const char* path;
        bool posts;
    } cases[] = {
        {"/admin", true},
        {"/administration", true},  // a plain prefix test
        {"/admin?notification=notice&noticeId=7", true},
        {"admin", false},
        {"/connexion.html", false},
        {"/Admin", false},
        {" /admin", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        Console console;
        console.velmora.deliverNativeNotice("id", "Titre", "Texte", c.path, false);
        EXPECT_EQ(console.fake.notifications.added.size(), c.posts ? 1u : 0u);
    }
}

TEST(NoticeDelivery, CarriesTheContentAsGiven) {
    for (const bool sound : {true, false}) {
        SCOPED_TRACE(sound);
        Console console;
        console.velmora.deliverNativeNotice("shared:salon.example:payable:4", "Acompte", "Réglez l’acompte",
                                            "/admin?notification=notice&noticeId=payable%3A4", sound);
        ASSERT_EQ(console.fake.notifications.added.size(), 1u);
        const auto& request = console.fake.notifications.added[0];
        EXPECT_EQ(request.identifier, "shared:salon.example:payable:4");
        EXPECT_EQ(request.content.title, "Acompte");
        EXPECT_EQ(request.content.body, "Réglez l’acompte");
        EXPECT_EQ(request.content.sound, sound);
        EXPECT_EQ(request.content.userInfo,
                  (std::map<std::string, std::string>{
                      {"url", "https://salon.example/admin?notification=notice&noticeId=payable%3A4"}}));
        EXPECT_FALSE(request.delaySeconds);  // shown at once
    }
}

TEST(NoticeDelivery, RefusalShowsInTheStatusUntilTheNextSignedInPoll) {
    Console console;
    console.fake.notifications.refusal = "Notifications non autorisées";
    console.velmora.testNativeNotice();
    EXPECT_EQ(console.statusTitle(), "Notifications : autorisation à vérifier");

    console.fake.notifications.refusal.reset();
    console.velmora.pollNativeNotifications();
    auto pending = std::move(console.fake.views.web->scripts.at(0));
    pending.done(JsValue(JsValue::Object{{"authenticated", true}}));
    EXPECT_EQ(console.statusTitle(), "Notifications synchronisées : actives");
}

TEST(NoticeDelivery, AcceptedNoticeLeavesTheStatus) {
    Console console;
    console.velmora.testNativeNotice();
    EXPECT_EQ(console.statusTitle(), "Notifications : connexion nécessaire");
}

TEST(NoticeDelivery, WithoutWebViewPostsNothing) {
    fakes::FakePlatform fake;
    Velmora velmora(fake.platform, BuildConstants{kPublicHost}, {"Velmora"});
    velmora.deliverNativeNotice("id", "Titre", "Texte", "/admin", true);
    velmora.testNativeNotice();
    EXPECT_TRUE(fake.notifications.added.empty());
}

}  // namespace
}  // namespace velmora::testing
