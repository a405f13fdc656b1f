#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using foundation::JsValue;

// A controller launched at login (window hidden) with salon.example allowed.
struct Console {
    explicit Console(BuildConstants constants = BuildConstants{kPublicHost}) {
        fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{"salon.example", "ancien.example"};
        fake.application.loginItemLaunch = true;
        velmora = std::make_unique<Velmora>(fake.platform, constants, std::vector<std::string>{"Velmora"});
        velmora->applicationWillFinishLaunching();
        velmora->applicationDidFinishLaunching();
        fake.views.web->showPage("https://salon.example/admin");
        fake.log.clear();
    }
    // Clicks a notification; the number of times `done` ran is returned.
    int click(const platform::NotificationRequest& request) {
        int done = 0;
        velmora->didReceiveNotificationResponse(request, [&] {
            ++done;
            fake.log.add("done");
        });
        return done;
    }
    // Where `call` stands in the call log, or -1.
    long position(const std::string& call) const {
        const auto found = std::ranges::find(fake.log.calls, call);
        return found == fake.log.calls.end() ? -1 : found - fake.log.calls.begin();
    }

    fakes::FakePlatform fake;
    std::unique_ptr<Velmora> velmora;
};

platform::NotificationRequest notice(std::string identifier, std::optional<std::string> url) {
    platform::NotificationRequest request;
    request.identifier = std::move(identifier);
    request.content = {"Nouveau message", "Bonjour", true, {}};
    if (url) request.content.userInfo = {{"url", *url}};
    return request;
}

TEST(NoticeResponses, ClickOpensTheConsolePageInTheShownWindow) {
    const struct {
        std::optional<std::string> url;
        bool opens;
    } cases[] = {
        {"https://salon.example/admin", true},
        {"https://salon.example/admin?notification=notice&noticeId=7", true},
        {"https://salon.example/admin?notification=notice&noticeId=r%C3%A9servation%3A7", true},
        {"https://velmora.fr/admin", true},
        {"https://salon.example/admin/bookings", false},
        {"https://salon.example/admin/", false},
        {"https://salon.example/connexion.html", false},
        {"https://ailleurs.example/admin", false},  // no longer, or never, allowed
        {"http://salon.example/admin", false},
        {"https://salon.example:8443/admin", false},
        {"/admin", false},
        {"https://salon example/admin", false},  // does not parse
        {"", false},
        {std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.value_or("no url"));
        Console console;
        const auto loadsBefore = console.fake.views.web->loads.size();
        EXPECT_EQ(console.click(notice("shared:salon.example:7", c.url)), 1);
        EXPECT_EQ(console.fake.views.window->visible, c.opens);
        if (c.opens) {
            ASSERT_FALSE(console.fake.views.web->loads.empty());
            EXPECT_EQ(console.fake.views.web->loads.back(), *c.url);
            // The window comes forward before the page loads, and both before `done`.
            const long shown = console.position("window.makeKeyAndOrderFront");
            const long loaded = console.position("web.load(" + *c.url + ")");
            EXPECT_NE(shown, -1);
            EXPECT_LT(shown, loaded);
            EXPECT_LT(loaded, console.position("done"));
        } else {
            EXPECT_EQ(console.fake.views.web->loads.size(), loadsBefore);
            EXPECT_FALSE(console.fake.log.has("application.setActivationPolicy(regular)"));
            EXPECT_FALSE(console.fake.log.has("application.activate"));
        }
        EXPECT_TRUE(console.fake.notifications.added.empty());
    }
}

TEST(NoticeResponses, ClickOnARetiredHostOpensThePublicSite) {
    Console console(BuildConstants{kPublicHost, {"ancien.example"}});
    EXPECT_EQ(console.click(notice("shared:ancien.example:7", "https://ancien.example/admin?noticeId=7")), 1);
    ASSERT_FALSE(console.fake.views.web->loads.empty());
    EXPECT_EQ(console.fake.views.web->loads.back(), "https://velmora.fr/admin?noticeId=7");
    EXPECT_TRUE(console.fake.views.window->visible);
}

TEST(NoticeResponses, ClickedPayableComesBackSilentlyASecondLater) {
    const struct {
        const char* identifier;
        bool reposts;
    } cases[] = {
        {"shared:salon.example:payable:42", true},  {"shared:salon.example:a:payable:", true},
        {"shared:salon.example:7", false},          {"shared:salon.example:xpayable:42", false},
        {"shared:salon.example:Payable:42", false}, {"payable:42", false},
        {"velmora-notification-test-1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.identifier);
        Console console;
        const auto clicked = notice(c.identifier, "https://salon.example/admin?notification=notice&noticeId=42");
        EXPECT_EQ(console.click(clicked), 1);
        const auto& added = console.fake.notifications.added;
        ASSERT_EQ(added.size(), c.reposts ? 1u : 0u);
        if (c.reposts) {
            EXPECT_EQ(added[0].identifier, c.identifier);
            EXPECT_EQ(added[0].delaySeconds, 1.0);
            EXPECT_FALSE(added[0].content.sound);
            EXPECT_EQ(added[0].content.title, clicked.content.title);
            EXPECT_EQ(added[0].content.body, clicked.content.body);
            EXPECT_EQ(added[0].content.userInfo, clicked.content.userInfo);
        }
        // The page opens all the same.
        EXPECT_EQ(console.fake.views.web->loads.back(), "https://salon.example/admin?notification=notice&noticeId=42");
    }
}

TEST(NoticeResponses, PayableWithoutUrlIsRepostedAndOpensNothing) {
    Console console;
    EXPECT_EQ(console.click(notice("shared:salon.example:payable:1", std::nullopt)), 1);
    EXPECT_EQ(console.fake.notifications.added.size(), 1u);
    EXPECT_FALSE(console.fake.views.window->visible);
}

TEST(NoticeResponses, WithoutWebViewOnlyAnswers) {
    fakes::FakePlatform fake;
    fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{"salon.example"};
    Velmora velmora(fake.platform, BuildConstants{kPublicHost}, {"Velmora"});
    int done = 0;
    velmora.didReceiveNotificationResponse(notice("shared:salon.example:7", "https://velmora.fr/admin"),
                                           [&] { ++done; });
    EXPECT_EQ(done, 1);
    EXPECT_FALSE(fake.log.has("window.makeKeyAndOrderFront"));
}

}  // namespace
}  // namespace velmora::testing
