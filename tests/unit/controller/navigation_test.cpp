#include <optional>
#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using platform::NavigationPolicy;

class NavigationTest : public ControllerTest {
protected:
    void start(std::set<std::string> retired = {}) {
        fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{"salon.example", "ancien.example"};
        controller = std::make_unique<Velmora>(fake.platform, BuildConstants{kPublicHost, std::move(retired)},
                                               std::vector<std::string>{"Velmora"});
        fake.application.setDelegate(controller.get());
        controller->applicationWillFinishLaunching();
        controller->applicationDidFinishLaunching();
        fake.log.clear();
    }
};

platform::NavigationAction action(const char* url, std::optional<bool> mainFrame, bool download = false) {
    return {url ? foundation::Url::parse(url) : std::nullopt, mainFrame, download};
}

TEST_F(NavigationTest, DecidesEveryNavigationByTheTable) {
    start({"ancien.example"});
    const struct {
        const char* name;
        platform::NavigationAction action;
        NavigationPolicy policy;
        std::vector<std::string> calls;
    } cases[] = {
        {"retired host in the main frame",
         action("https://ancien.example/admin?a=1#f", true),
         NavigationPolicy::Cancel,
         {"web.load(https://velmora.fr/admin?a=1#f)"}},
        {"retired host in a new window",
         action("https://ancien.example/x", std::nullopt),
         NavigationPolicy::Cancel,
         {"web.load(https://velmora.fr/x)"}},
        {"retired host in a sub-frame", action("https://ancien.example/x", false), NavigationPolicy::Allow, {}},
        {"retired host over http is not an instance URL",
         action("http://ancien.example/x", true),
         NavigationPolicy::Allow,
         {}},
        {"download attribute", action("https://salon.example/admin", true, true), NavigationPolicy::Download, {}},
        {"download in a sub-frame", action("https://other.example/f.pdf", false, true), NavigationPolicy::Download, {}},
        {"no URL", action(nullptr, true), NavigationPolicy::Allow, {}},
        {"mailto",
         action("mailto:contact@salon.example", true),
         NavigationPolicy::Cancel,
         {"workspace.openUrl(mailto:contact@salon.example)"}},
        {"tel in a sub-frame",
         action("tel:+33123456789", false),
         NavigationPolicy::Cancel,
         {"workspace.openUrl(tel:+33123456789)"}},
        {"MAILTO is not mailto", action("MAILTO:a@b.fr", true), NavigationPolicy::Allow, {}},
        {"an unrelated site", action("https://www.example.org/", true), NavigationPolicy::Allow, {}},
        {"an instance outside the allowed set",
         action("https://inconnu.example/admin", true),
         NavigationPolicy::Allow,
         {}},
        {"an allowed console", action("https://salon.example/admin", true), NavigationPolicy::Allow, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake.log.clear();
        EXPECT_EQ(controller->decidePolicyForNavigationAction(c.action), c.policy);
        EXPECT_EQ(fake.log.calls, c.calls);
    }
}

TEST_F(NavigationTest, ResponsesTheViewCannotShowBecomeDownloads) {
    start();
    EXPECT_EQ(controller->decidePolicyForNavigationResponse({true}), platform::ResponsePolicy::Allow);
    EXPECT_EQ(controller->decidePolicyForNavigationResponse({false}), platform::ResponsePolicy::Download);
}

TEST_F(NavigationTest, NewWindowsOpenInTheDefaultBrowser) {
    start();
    controller->requestNewWebView(action("https://salon.example/admin", std::nullopt));
    controller->requestNewWebView(action(nullptr, std::nullopt));
    EXPECT_EQ(fake.log.calls, (std::vector<std::string>{"workspace.openUrl(https://salon.example/admin)"}));
}

TEST_F(NavigationTest, NavigationMenuCommands) {
    start();
    web().currentUrl.reset();
    menu().choose("safari");  // no page yet: the sign-in page
    web().showPage("https://salon.example/admin?x=1");
    menu().choose("safari");
    menu().choose("reload");
    fake.defaults.values["velmoraInstanceHost"] = std::string("salon.example");
    menu().choose("changeSpace");
    EXPECT_EQ(fake.log.calls, (std::vector<std::string>{
                                  "workspace.openUrl(https://velmora.fr/connexion.html)",
                                  "workspace.openUrl(https://salon.example/admin?x=1)",
                                  "web.reload",
                                  "web.load(https://velmora.fr/connexion.html)",
                              }));
    // The remembered console is kept: a restart without signing in opens it again.
    EXPECT_EQ(fake.defaults.string("velmoraInstanceHost"), "salon.example");
}

TEST_F(NavigationTest, DownloadsGetTheControllerAsDelegate) {
    start();
    struct RecordingDownload final : platform::Download {
        void setDelegate(platform::DownloadDelegate* d) override { delegate = d; }
        platform::DownloadDelegate* delegate = nullptr;
    } fromAction, fromResponse;
    controller->navigationActionDidBecomeDownload(fromAction);
    controller->navigationResponseDidBecomeDownload(fromResponse);
    EXPECT_EQ(fromAction.delegate, controller.get());
    EXPECT_EQ(fromResponse.delegate, controller.get());
}

}  // namespace
}  // namespace velmora::testing
