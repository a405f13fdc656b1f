#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

constexpr const char* kStart = "https://velmora.fr/connexion.html";

class ConnectionTest : public ControllerTest {
protected:
    void SetUp() override { launch(); }
    void fail(int code = 7, const std::string& description = "Connexion refusée") {
        controller->didFailProvisionalNavigation({code, description});
    }
    std::vector<std::shared_ptr<fakes::FakeTimer>> retryTimers() { return fake.timers.withInterval(15.0); }
    std::string status() { return item("").title(); }
};

TEST_F(ConnectionTest, AFailedStartRetriesEveryFifteenSecondsUntilALoadFinishes) {
    fail(7, "Could not connect: Connection refused");
    EXPECT_EQ(status(), "Connexion en cours — nouvelle tentative automatique");
    EXPECT_EQ(fake.systemLog.lines,
              (std::vector<std::string>{"Velmóra: connexion temporairement indisponible: Could not connect: "
                                        "Connection refused"}));
    web().loads.clear();
    fake.timers.advance(14.9);
    EXPECT_TRUE(web().loads.empty());
    fake.timers.advance(0.1);
    EXPECT_EQ(web().loads, (std::vector<std::string>{kStart}));
    // The retried load fails again: the same target once more, 15 s later.
    web().showPage("https://velmora.fr/ailleurs");
    fail();
    fake.timers.advance(15.0);
    EXPECT_EQ(web().loads, (std::vector<std::string>{kStart, kStart}));
    EXPECT_EQ(fake.systemLog.lines.size(), 2u);

    controller->didFinishNavigation();
    EXPECT_FALSE(controller->pendingURL());
    EXPECT_TRUE(retryTimers().empty());
    fake.timers.advance(60.0);
    EXPECT_EQ(web().loads.size(), 2u);
}

TEST_F(ConnectionTest, TwoFailuresLeaveOneTimerDueAfterTheSecond) {
    fail();
    fake.timers.advance(10.0);
    fail();
    ASSERT_EQ(retryTimers().size(), 1u);
    web().loads.clear();
    fake.timers.advance(14.0);
    EXPECT_TRUE(web().loads.empty());  // the first timer, due at 15 s, was cancelled
    fake.timers.advance(1.0);
    EXPECT_EQ(web().loads, (std::vector<std::string>{kStart}));
}

TEST_F(ConnectionTest, ACancelledLoadChangesNothing) {
    controller->didFinishNavigation();
    item("").setTitle("Notifications synchronisées : actives");
    fake.log.clear();
    controller->didFailProvisionalNavigation({platform::NavigationError::kCancelled, "cancelled"});
    EXPECT_TRUE(fake.log.calls.empty());
    EXPECT_TRUE(fake.systemLog.lines.empty());
    EXPECT_EQ(status(), "Notifications synchronisées : actives");
    EXPECT_FALSE(controller->pendingURL());
}

TEST_F(ConnectionTest, TheFirstTargetStaysTheRetryTarget) {
    // The start URL is pending; a page load the user started in between fails too.
    web().showPage("https://www.example.org/");
    fail();
    ASSERT_TRUE(controller->pendingURL());
    EXPECT_EQ(controller->pendingURL()->string(), kStart);
}

TEST_F(ConnectionTest, AFailureWithNoPageAndNoTargetRetriesNothing) {
    controller->didFinishNavigation();
    web().currentUrl.reset();
    fail();
    EXPECT_FALSE(controller->pendingURL());
    EXPECT_EQ(retryTimers().size(), 1u);
    web().loads.clear();
    fake.timers.advance(15.0);
    EXPECT_TRUE(web().loads.empty());
    EXPECT_EQ(fake.systemLog.lines.size(), 1u);
}

TEST_F(ConnectionTest, ShowingTheWindowRetriesAtOnce) {
    fail();
    web().loads.clear();
    controller->showNativeWindow();
    EXPECT_EQ(web().loads, (std::vector<std::string>{kStart}));
    EXPECT_TRUE(retryTimers().empty());
    EXPECT_TRUE(controller->pendingURL());  // kept until a load finishes
}

TEST_F(ConnectionTest, AFinishedSignInPageEndsTheCycleAndStoresNoHost) {
    fail();
    web().showPage(kStart);
    controller->didFinishNavigation();
    EXPECT_TRUE(retryTimers().empty());
    EXPECT_FALSE(fake.defaults.string("velmoraInstanceHost"));
    EXPECT_FALSE(fake.log.has("web.callAsyncJavaScript"));
}

TEST_F(ConnectionTest, AFinishedConsoleStoresTheHostAndPollsOnce) {
    fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{"salon.example"};
    SetUp();  // launch again with the known host
    web().showPage("https://salon.example/admin");
    fake.log.clear();
    controller->didFinishNavigation();
    EXPECT_EQ(fake.defaults.string("velmoraInstanceHost"), "salon.example");
    EXPECT_EQ(fake.log.count("web.callAsyncJavaScript"), 1);
}

}  // namespace
}  // namespace velmora::testing

namespace velmora::testing {
namespace {

TEST_F(ConnectionTest, ADeadPageIsLoadedAgain) {
    const struct {
        const char* name;
        bool pending;
        const char* shown;
        std::vector<std::string> loads;
    } cases[] = {
        {"the page still being connected to", true, "https://velmora.fr/ailleurs", {kStart}},
        {"the page shown", false, "https://salon.example/admin?x=1", {"https://salon.example/admin?x=1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (!c.pending) controller->didFinishNavigation();
        web().showPage(c.shown);
        web().loads.clear();
        controller->webContentProcessDidTerminate();
        EXPECT_EQ(web().loads, c.loads);
    }
}

TEST_F(ConnectionTest, ADeadPageBeforeAnyLoadLoadsNothing) {
    controller->didFinishNavigation();
    web().currentUrl.reset();
    web().loads.clear();
    controller->webContentProcessDidTerminate();
    EXPECT_TRUE(web().loads.empty());
}

}  // namespace
}  // namespace velmora::testing
