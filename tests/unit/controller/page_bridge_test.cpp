#include <string>
#include <vector>

#include "platform/foundation/base64.h"
#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using foundation::JsValue;

constexpr const char* kInstance = "salon.example";

class PageBridgeTest : public ControllerTest {
protected:
    void SetUp() override {
        fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{kInstance};
        launch();
        fake.log.clear();
    }
    // Posts a message and returns the platform calls it caused.
    std::vector<std::string> post(const std::string& name, JsValue body, bool mainFrame, const std::string& origin) {
        fake.log.clear();
        controller->didReceiveScriptMessage({name, std::move(body), mainFrame, origin});
        return fake.log.calls;
    }
};

JsValue object(JsValue::Object members) { return JsValue(std::move(members)); }

const JsValue kNoticeIds = object({{"ids", JsValue(JsValue::Array{"a", "b"})}});
const JsValue kMail = object({{"uid", "12"}, {"validity", "3"}, {"account", "a@b.fr"}});

TEST_F(PageBridgeTest, AcceptsMessagesOnlyFromTheMainFrameOfTheirHosts) {
    const std::vector<std::string> none;
    const std::vector<std::string> admitted{"defaults.set(velmoraKnownHosts)"};
    const std::vector<std::string> cleared{"notifications.delivered", "notifications.removeDelivered"};
    const std::vector<std::string> update{"updater.checkForUpdates"};
    const std::vector<std::string> printed{"print.runModal(page)"};
    const struct {
        const char* name;
        JsValue body;
        bool mainFrame;
        const char* origin;
        std::vector<std::string> effect;
    } cases[] = {
        // Only the public sign-in site adds hosts.
        {"velmoraInstance", "https://new.example", true, kPublicHost, admitted},
        {"velmoraInstance", "https://new.example", false, kPublicHost, none},
        {"velmoraInstance", "https://new.example", true, kInstance, none},
        {"velmoraInstance", "https://new.example", true, "other.example", none},
        {"velmoraInstance", "https://new.example", true, "Velmora.fr", none},
        // Every other handler: the main frame of an allowed host.
        {"velmoraNoticeRead", kNoticeIds, true, kInstance, cleared},
        {"velmoraNoticeRead", kNoticeIds, true, kPublicHost, cleared},
        {"velmoraNoticeRead", kNoticeIds, false, kInstance, none},
        {"velmoraNoticeRead", kNoticeIds, true, "other.example", none},
        {"velmoraMailRead", kMail, true, kInstance, cleared},
        {"velmoraMailRead", kMail, false, kInstance, none},
        {"velmoraMailRead", kMail, true, "other.example", none},
        {"velmoraUpdate", JsValue(), true, kInstance, update},
        {"velmoraUpdate", 42, false, kInstance, none},
        {"velmoraUpdate", JsValue(), true, "other.example", none},
        {"velmoraPrint", "print", true, kInstance, printed},
        {"velmoraPrint", "print", false, kInstance, none},
        {"velmoraPrint", "print", true, "other.example", none},
        {"velmoraPrint", "print", true, "", none},
        {"velmoraUnknown", "print", true, kInstance, none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " from " + c.origin + (c.mainFrame ? " main frame" : " sub-frame"));
        auto calls = post(c.name, c.body, c.mainFrame, c.origin);
        // Printing also sends the afterprint event once the fake's dialog ends at once.
        std::erase_if(calls, [](const std::string& call) { return call.starts_with("web.evaluateJavaScript"); });
        EXPECT_EQ(calls, c.effect);
    }
}

TEST_F(PageBridgeTest, AdmitsOnlyAStrictInstanceBaseUrl) {
    const struct {
        JsValue body;
        bool admitted;
    } cases[] = {
        {"https://x.example", true},
        {"https://x.example/", true},
        {"https://x.example/admin", false},
        {"https://x.example/?a=1", false},
        {"https://x.example?", false},
        {"https://x.example/#f", false},
        {"https://x.example:443", false},  // an explicit port, even the default one
        {"https://x.example:", false},
        {"https://u@x.example", false},
        {"https://u:p@x.example", false},
        {"http://x.example", false},
        {"HTTPS://x.example", false},
        {"https://", false},
        {"https:///", false},
        {"x.example", false},
        {" https://x.example", false},
        {"https://x example", false},
        {42, false},
        {JsValue(JsValue::Array{"https://x.example"}), false},
        {object({{"url", "https://x.example"}}), false},
        {JsValue(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.toJson());
        fakes::FakePlatform platform;
        Velmora velmora(platform.platform, BuildConstants{kPublicHost}, {"Velmora"});
        velmora.applicationWillFinishLaunching();
        velmora.applicationDidFinishLaunching();
        velmora.didReceiveScriptMessage({"velmoraInstance", c.body, true, kPublicHost});
        const auto stored = platform.defaults.stringArray("velmoraKnownHosts");
        EXPECT_EQ(stored.has_value(), c.admitted);
        EXPECT_EQ(velmora.allowed().contains("x.example"), c.admitted);
        if (stored) {
            EXPECT_EQ(*stored, (std::vector<std::string>{"velmora.fr", "x.example"}));
        }
    }
}

TEST_F(PageBridgeTest, AdmissionRewritesTheWholeSetEveryTimeAndLoadsNothing) {
    post("velmoraInstance", "https://x.example", true, kPublicHost);
    const int writes = fake.defaults.writes;
    const auto calls = post("velmoraInstance", "https://x.example/", true, kPublicHost);
    EXPECT_EQ(calls, (std::vector<std::string>{"defaults.set(velmoraKnownHosts)"}));
    EXPECT_EQ(fake.defaults.writes, writes + 1);
    EXPECT_FALSE(fake.defaults.string("velmoraInstanceHost"));
    // A host admitted in this run can send the console's messages at once.
    EXPECT_EQ(post("velmoraUpdate", JsValue(), true, "x.example"),
              (std::vector<std::string>{"updater.checkForUpdates"}));
}

TEST_F(PageBridgeTest, IgnoresNoticeIdsOfTheWrongShape) {
    const JsValue bodies[] = {
        object({{"ids", JsValue(JsValue::Array{1, 2})}}),
        object({{"ids", JsValue(JsValue::Array{"a", 2})}}),
        object({{"ids", "a"}}),
        object({{"ids", object({{"0", "a"}})}}),
        object({{"id", JsValue(JsValue::Array{"a"})}}),
        JsValue(JsValue::Array{"a"}),
        "a",
        JsValue(),
    };
    for (const auto& body : bodies) {
        SCOPED_TRACE(body.toJson());
        EXPECT_TRUE(post("velmoraNoticeRead", body, true, kInstance).empty());
    }
}

TEST_F(PageBridgeTest, PrintsAStrictlyDecodedPdfAndThePageOtherwise) {
    const std::string pdf = foundation::encodeBase64({'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n'});
    const struct {
        const char* name;
        JsValue body;
        const char* printed;
    } cases[] = {
        {"pdf", object({{"pdf", pdf}}), "pdf"},
        {"print hook", "print", "page"},
        {"number", 7, "page"},
        {"pdf with a line break", object({{"pdf", pdf.substr(0, 4) + "\n" + pdf.substr(4)}}), "page"},
        {"pdf not a string", object({{"pdf", 7}}), "page"},
        {"not a pdf document", object({{"pdf", foundation::encodeBase64({'h', 'e', 'l', 'l', 'o'})}}), "page"},
        {"empty base64", object({{"pdf", ""}}), "page"},
        {"object without pdf", object({{"file", pdf}}), "page"},
        {"array", JsValue(JsValue::Array{pdf}), "page"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto calls = post("velmoraPrint", c.body, true, kInstance);
        EXPECT_EQ(calls,
                  (std::vector<std::string>{std::string("print.runModal(") + c.printed + ")",
                                            "web.evaluateJavaScript(window.dispatchEvent(new Event('afterprint')))"}));
    }
}

}  // namespace
}  // namespace velmora::testing
