#include <optional>
#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

std::optional<std::string> judge(const Velmora& velmora, const std::string& text) {
    const auto url = foundation::Url::parse(text);
    if (!url) return "unparsable";
    const auto judged = velmora.currentInstanceURL(*url);
    if (!judged) return std::nullopt;
    return judged->string();
}

TEST_F(ControllerTest, JudgesInstanceUrlsExactly) {
    fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{"velmora.fr", "salon.example"};
    launch();
    const struct {
        const char* url;
        std::optional<std::string> expected;
    } cases[] = {
        {"https://velmora.fr/admin", "https://velmora.fr/admin"},
        {"https://salon.example/admin?notification=notice&noticeId=7#x",
         "https://salon.example/admin?notification=notice&noticeId=7#x"},
        {"https://velmora.fr:443/admin", "https://velmora.fr:443/admin"},  // the explicit default port stays
        {"http://velmora.fr/admin", std::nullopt},
        {"HTTPS://velmora.fr/admin", std::nullopt},  // scheme compared exactly
        {"Https://velmora.fr/admin", std::nullopt},
        {"//velmora.fr/admin", std::nullopt},  // no scheme
        {"https://velmora.fr:8443/admin", std::nullopt},
        {"https://velmora.fr:80/admin", std::nullopt},
        {"https://u@velmora.fr/admin", std::nullopt},
        {"https://u:p@velmora.fr/admin", std::nullopt},
        {"https://:p@velmora.fr/admin", std::nullopt},
        {"https://Velmora.fr/admin", std::nullopt},  // no case folding
        {"https://velmora.fr./admin", std::nullopt},
        {"https://other.example/admin", std::nullopt},
        {"mailto:a@velmora.fr", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(judge(*controller, c.url), c.expected);
    }
}

TEST_F(ControllerTest, MovesRetiredHostsToThePublicSite) {
    fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{"ancien.example"};
    controller = std::make_unique<Velmora>(fake.platform, BuildConstants{kPublicHost, {"ancien.example"}},
                                           std::vector<std::string>{"Velmora"});
    controller->applicationWillFinishLaunching();
    controller->applicationDidFinishLaunching();
    // The retired check wins although the host is also allowed.
    EXPECT_EQ(judge(*controller, "https://ancien.example/admin?a=1#f"), "https://velmora.fr/admin?a=1#f");
    EXPECT_EQ(judge(*controller, "https://ancien.example:443/x"), "https://velmora.fr:443/x");
    EXPECT_EQ(judge(*controller, "https://ancien.example:444/x"), std::nullopt);
}

TEST_F(ControllerTest, ChoosesTheStartPage) {
    const struct {
        const char* name;
        std::optional<std::vector<std::string>> known;
        std::optional<std::string> stored;
        std::string start;
    } cases[] = {
        {"first launch", std::nullopt, std::nullopt, "https://velmora.fr/connexion.html"},
        {"remembered instance", std::vector<std::string>{"salon.example"}, "salon.example",
         "https://salon.example/admin"},
        {"stored host never admitted", std::vector<std::string>{"autre.example"}, "salon.example",
         "https://velmora.fr/connexion.html"},
        {"stored public host opens the sign-in page", std::vector<std::string>{"velmora.fr"}, "velmora.fr",
         "https://velmora.fr/connexion.html"},
        {"stored host differs in case", std::vector<std::string>{"salon.example"}, "Salon.example",
         "https://velmora.fr/connexion.html"},
        {"stored host that cannot form a URL", std::vector<std::string>{"a b"}, "a b",
         "https://velmora.fr/connexion.html"},
        {"stored host that would change the path", std::vector<std::string>{"a/b"}, "a/b",
         "https://velmora.fr/connexion.html"},
        {"stored host with a port", std::vector<std::string>{"a:8443"}, "a:8443", "https://velmora.fr/connexion.html"},
        {"stored empty host", std::vector<std::string>{""}, "", "https://velmora.fr/connexion.html"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakes::FakePlatform platform;
        if (c.known) platform.defaults.values["velmoraKnownHosts"] = *c.known;
        if (c.stored) platform.defaults.values["velmoraInstanceHost"] = *c.stored;
        Velmora velmora(platform.platform, BuildConstants{kPublicHost}, {"Velmora"});
        velmora.applicationWillFinishLaunching();
        velmora.applicationDidFinishLaunching();
        EXPECT_EQ(platform.views.web->loads, (std::vector<std::string>{c.start}));
        ASSERT_TRUE(velmora.pendingURL());
        EXPECT_EQ(velmora.pendingURL()->string(), c.start);
    }
}

TEST_F(ControllerTest, RetiredStoredHostOpensTheSignInPage) {
    fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{"ancien.example"};
    fake.defaults.values["velmoraInstanceHost"] = std::string("ancien.example");
    controller = std::make_unique<Velmora>(fake.platform, BuildConstants{kPublicHost, {"ancien.example"}},
                                           std::vector<std::string>{"Velmora"});
    controller->applicationWillFinishLaunching();
    controller->applicationDidFinishLaunching();
    EXPECT_EQ(web().loads, (std::vector<std::string>{"https://velmora.fr/connexion.html"}));
}

TEST_F(ControllerTest, MalformedKnownHostsKeepTheDefaultHost) {
    fake.defaults.values["velmoraKnownHosts"] = std::string("salon.example");  // not an array
    launch();
    EXPECT_EQ(controller->allowed(), (std::set<std::string>{"velmora.fr"}));
}

TEST_F(ControllerTest, RestoresKnownHostsIntoTheAllowedSet) {
    fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{"a.example", "b.example"};
    launch();
    EXPECT_EQ(controller->allowed(), (std::set<std::string>{"velmora.fr", "a.example", "b.example"}));
}

TEST_F(ControllerTest, RecordsOnlyTheConsoleOfAnAllowedHost) {
    const struct {
        const char* finished;
        std::optional<std::string> stored;
    } cases[] = {
        {"https://salon.example/admin", "salon.example"},
        {"https://salon.example/admin?notification=notice", "salon.example"},
        {"http://salon.example:8080/admin", "salon.example"},  // scheme and port are not examined
        {"https://salon.example/admin/bookings", std::nullopt},
        {"https://salon.example/admin/", std::nullopt},
        {"https://autre.example/admin", std::nullopt},
        {"https://velmora.fr/connexion.html", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.finished);
        fakes::FakePlatform platform;
        platform.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{"salon.example"};
        Velmora velmora(platform.platform, BuildConstants{kPublicHost}, {"Velmora"});
        velmora.applicationWillFinishLaunching();
        velmora.applicationDidFinishLaunching();
        platform.views.web->showPage(c.finished);
        velmora.didFinishNavigation();
        EXPECT_EQ(platform.defaults.string("velmoraInstanceHost"), c.stored);
    }
}

}  // namespace
}  // namespace velmora::testing
