// Instance hosts, navigation policy, connection retry, the page bridge, printing and dialogs.
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/base64.h"
#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

using platform::NavigationPolicy;

TEST(InstanceHosts, JudgesInstanceUrlsExactly) {
    const struct {
        const char* url;
        std::optional<std::string> judged;
    } cases[] = {
        {"https://salon.example/admin?notification=notice&noticeId=7#x",
         "https://salon.example/admin?notification=notice&noticeId=7#x"},
        {"https://velmora.fr:443/admin", "https://velmora.fr:443/admin"},  // the explicit default port stays
        {"http://velmora.fr/admin", std::nullopt},
        {"HTTPS://velmora.fr/admin", std::nullopt},  // scheme compared exactly
        {"//velmora.fr/admin", std::nullopt},        // no scheme
        {"https://velmora.fr:8443/admin", std::nullopt},
        {"https://u@velmora.fr/admin", std::nullopt},
        {"https://:p@velmora.fr/admin", std::nullopt},
        {"https://Velmora.fr/admin", std::nullopt},  // no case folding
        {"https://velmora.fr./admin", std::nullopt},
        {"https://other.example/admin", std::nullopt},
        {"mailto:a@velmora.fr", std::nullopt},
        // A retired host moves to the public site, although it is also allowed.
        {"https://ancien.example/admin?a=1#f", "https://velmora.fr/admin?a=1#f"},
        {"https://ancien.example:443/x", "https://velmora.fr:443/x"},
        {"https://ancien.example:444/x", std::nullopt},
    };
    Rig r;
    r.console();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const auto judged = r.controller->currentInstanceURL(*foundation::Url::parse(c.url));
        EXPECT_EQ(judged ? std::optional(judged->string()) : std::nullopt, c.judged);
    }
}

TEST(InstanceHosts, ChoosesTheStartPage) {
    const struct {
        const char* name;
        std::optional<std::vector<std::string>> known;
        std::optional<std::string> stored;
        std::string start;
    } cases[] = {
        {"first launch", std::nullopt, std::nullopt, kSignIn},
        {"remembered instance", Calls{"salon.example"}, "salon.example", "https://salon.example/admin"},
        {"stored host never admitted", Calls{"autre.example"}, "salon.example", kSignIn},
        {"stored public host", Calls{"velmora.fr"}, "velmora.fr", kSignIn},
        {"stored retired host", Calls{"ancien.example"}, "ancien.example", kSignIn},
        {"stored host differs in case", Calls{"salon.example"}, "Salon.example", kSignIn},
        {"stored host that cannot form a URL", Calls{"a b"}, "a b", kSignIn},
        {"stored host that would change the path", Calls{"a/b"}, "a/b", kSignIn},
        {"stored host with a port", Calls{"a:8443"}, "a:8443", kSignIn},
        {"stored empty host", Calls{""}, "", kSignIn},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        if (c.known) r.knownHosts(*c.known);
        if (c.stored) r.fake.defaults.values["velmoraInstanceHost"] = *c.stored;
        r.launch();
        EXPECT_EQ(r.web().loads, Calls{c.start});
        EXPECT_EQ(r.controller->pendingURL()->string(), c.start);
    }
}

using platform::NavigationTarget;
constexpr auto kMain = NavigationTarget::MainFrame, kSub = NavigationTarget::SubFrame,
               kWindow = NavigationTarget::NewWindow, kUnknown = NavigationTarget::UnknownFrame;

platform::NavigationAction action(const char* url, NavigationTarget target, bool download = false) {
    return {url ? foundation::Url::parse(url) : std::nullopt, target, download};
}

TEST(Navigation, DecidesEveryNavigationByTheTable) {
    const auto cancel = NavigationPolicy::Cancel, allow = NavigationPolicy::Allow;
    const struct {
        const char* name;
        platform::NavigationAction action;
        NavigationPolicy policy;
        const char* call = nullptr;  // the one platform call it makes
    } cases[] = {
        {"retired host in the main frame", action("https://ancien.example/a?b=1#f", kMain), cancel,
         "web.load(https://velmora.fr/a?b=1#f)"},
        {"retired host in a new window", action("https://ancien.example/x", kWindow), cancel,
         "web.load(https://velmora.fr/x)"},
        {"retired host in a sub-frame", action("https://ancien.example/x", kSub), allow},
        // Judged when the main frame starts loading it, if it ever does.
        {"retired host in a frame the engine does not name", action("https://ancien.example/x", kUnknown), allow},
        {"retired host over http", action("http://ancien.example/x", kMain), allow},
        {"download attribute", action(kConsole, kMain, true), NavigationPolicy::Download},
        {"download in a sub-frame", action("https://other.example/f.pdf", kSub, true), NavigationPolicy::Download},
        {"no URL", action(nullptr, kMain), allow},
        {"mailto", action("mailto:contact@salon.example", kUnknown), cancel,
         "workspace.openUrl(mailto:contact@salon.example)"},
        {"tel in a sub-frame", action("tel:+33123456789", kSub), cancel, "workspace.openUrl(tel:+33123456789)"},
        {"mailto in a new window", action("mailto:a@b.fr", kWindow), cancel, "workspace.openUrl(mailto:a@b.fr)"},
        {"MAILTO is not mailto", action("MAILTO:a@b.fr", kMain), allow},
        {"an unrelated site", action("https://www.example.org/", kMain), allow},
        {"an allowed console", action(kConsole, kUnknown), allow},
    };
    Rig r;
    r.console();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        r.fake.log.clear();
        EXPECT_EQ(r.controller->decidePolicyForNavigationAction(c.action), c.policy);
        EXPECT_EQ(r.fake.log.calls, c.call ? Calls{c.call} : Calls{});
    }
    // What the view can show is shown, unless the server sends it for saving.
    const auto download = platform::ResponsePolicy::Download;
    EXPECT_EQ(r.controller->decidePolicyForNavigationResponse({true, false}), platform::ResponsePolicy::Allow);
    EXPECT_EQ(r.controller->decidePolicyForNavigationResponse({false, false}), download);
    EXPECT_EQ(r.controller->decidePolicyForNavigationResponse({true, true}), download);
    EXPECT_EQ(r.controller->decidePolicyForNavigationResponse({false, true}), download);
}

// Only the web's own schemes reach the default browser: anything else would start whatever
// program registered its scheme, on the word of a page or of any frame in it.
TEST(Navigation, HandsOnlyWebPagesToTheDefaultBrowser) {
    const struct {
        const char* url;
        bool opened;
    } cases[] = {
        {kConsole, true},  // instance pages included
        {"http://www.example.org/tarifs", true},
        {"smb://serveur/partage", false},
        {"sftp://serveur/fichier", false},
        {"file:///etc/passwd", false},
        {"velmora-essai:ouvrir", false},
        {"x-scheme-handler:a", false},
        {"javascript:alert(1)", false},
        {"data:text/html,<p>x</p>", false},
        {"HTTPS://velmora.fr/", false},  // the engine writes schemes in lower case
        {"mailto:a@b.fr", false},        // handed over by the navigation decision, never here
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        Rig r;
        r.console();
        r.fake.log.clear();
        r.controller->requestNewWebView(action(c.url, kWindow));
        EXPECT_EQ(r.fake.log.calls, c.opened ? Calls{std::string("workspace.openUrl(") + c.url + ")"} : Calls{});
        // "Ouvrir dans le navigateur" gives the browser the page shown, or the sign-in page.
        r.web().showPage(c.url);
        r.fake.log.clear();
        r.controller->safari();
        EXPECT_EQ(r.fake.log.calls, Calls{std::string("workspace.openUrl(") + (c.opened ? c.url : kSignIn) + ")"});
    }
    Rig r;
    r.console(std::nullopt);
    r.fake.log.clear();
    r.controller->requestNewWebView(action(nullptr, kWindow));
    r.controller->safari();
    EXPECT_EQ(r.fake.log.calls, Calls{std::string("workspace.openUrl(") + kSignIn + ")"});
}

// Where the engine cannot name a navigation's frame, a retired host is moved once the main
// frame starts loading it; the main frame's other loads go on.
TEST(Navigation, MovesARetiredHostWhenTheMainFrameStartsLoadingIt) {
    const struct {
        std::optional<std::string> started;
        Calls loads;
    } cases[] = {
        {"https://ancien.example/admin?a=1", {"https://velmora.fr/admin?a=1"}},
        {"https://salon.example/admin", {}},
        {"http://ancien.example/admin", {}},
        {std::nullopt, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.started.value_or("no URL"));
        Rig r;
        r.console();
        r.web().currentUrl = c.started ? foundation::Url::parse(*c.started) : std::nullopt;
        r.web().loads.clear();
        r.controller->didStartProvisionalNavigation();
        EXPECT_EQ(r.web().loads, c.loads);
    }
}

struct ConnectionRig : Rig {
    ConnectionRig() { launch(); }
    void fail() { controller->didFailProvisionalNavigation({7, "Connexion refusée"}); }
    size_t retryTimers() { return fake.timers.withInterval(15.0).size(); }
};

TEST(Connection, AFailedStartRetriesFifteenSecondsAfterTheLastFailureUntilALoadFinishes) {
    ConnectionRig r;
    r.controller->didFailProvisionalNavigation({7, "Could not connect: Connection refused"});
    EXPECT_EQ(r.status(), "Connexion en cours — nouvelle tentative automatique");
    EXPECT_EQ(r.fake.systemLog.lines,
              Calls{"Velmóra: connexion temporairement indisponible: Could not connect: Connection refused"});
    r.fake.timers.advance(10.0);
    r.fail();  // the first timer, due at 15 s, is cancelled
    EXPECT_EQ(r.retryTimers(), 1u);
    r.web().loads.clear();
    r.fake.timers.advance(14.9);
    EXPECT_TRUE(r.web().loads.empty());
    r.fake.timers.advance(0.1);
    EXPECT_EQ(r.web().loads, Calls{kSignIn});
    // The retried load fails on another page: the first target stays the retry target.
    r.web().showPage("https://velmora.fr/ailleurs");
    r.fail();
    r.fake.timers.advance(15.0);
    EXPECT_EQ(r.web().loads, (Calls{kSignIn, kSignIn}));
    EXPECT_EQ(r.fake.systemLog.lines.size(), 3u);

    r.controller->didFinishNavigation();
    EXPECT_FALSE(r.controller->pendingURL());
    EXPECT_EQ(r.retryTimers(), 0u);
    r.fake.timers.advance(60.0);
    EXPECT_EQ(r.web().loads.size(), 2u);
}

TEST(Connection, ACancelledLoadChangesNothing) {
    ConnectionRig r;
    r.controller->didFinishNavigation();
    r.item("").setTitle("Notifications synchronisées : actives");
    r.fake.log.clear();
    r.controller->didFailProvisionalNavigation({platform::NavigationError::kCancelled, "cancelled"});
    EXPECT_TRUE(r.fake.log.calls.empty());
    EXPECT_TRUE(r.fake.systemLog.lines.empty());
    EXPECT_EQ(r.status(), "Notifications synchronisées : actives");
    EXPECT_FALSE(r.controller->pendingURL());
}

TEST(Connection, AFailureWithNoPageAndNoTargetRetriesNothing) {
    ConnectionRig r;
    r.controller->didFinishNavigation();
    r.web().currentUrl.reset();
    r.fail();
    EXPECT_FALSE(r.controller->pendingURL());
    r.web().loads.clear();
    r.fake.timers.advance(15.0);
    EXPECT_TRUE(r.web().loads.empty());
}

TEST(Connection, ShowingTheWindowRetriesAtOnce) {
    ConnectionRig r;
    r.fail();
    r.web().loads.clear();
    r.controller->showNativeWindow();
    EXPECT_EQ(r.web().loads, Calls{kSignIn});
    EXPECT_EQ(r.retryTimers(), 0u);
    EXPECT_TRUE(r.controller->pendingURL());  // kept until a load finishes
}

// After a failed load the view shows our error page at the failed URL, a console's URL too:
// it is no console to poll, and the status keeps saying that a retry is coming.
TEST(Connection, TheErrorPageOfAFailedConsoleIsNeverPolled) {
    for (const bool partWay : {false, true}) {
        SCOPED_TRACE(partWay ? "failed after content arrived" : "failed before any content");
        Rig r;
        r.knownHosts({"salon.example"});
        r.fake.defaults.values["velmoraInstanceHost"] = std::string("salon.example");
        r.launch();
        if (partWay) {
            r.controller->didFinishNavigation();
            r.answer(signedIn());
            r.controller->didFailNavigation({7, "Connexion interrompue"});
        } else {
            r.controller->didFailProvisionalNavigation({7, "Connexion refusée"});
        }
        EXPECT_EQ(r.controller->pendingURL()->string(), kConsole);
        r.fake.timers.advance(60.0);
        EXPECT_TRUE(r.web().scripts.empty());
        EXPECT_EQ(r.status(), "Connexion en cours — nouvelle tentative automatique");
        // The retried console loads: the cycle ends and the console is polled at once.
        r.controller->didFinishNavigation();
        r.answer(signedIn());
        EXPECT_EQ(r.status(), "Notifications synchronisées : actives");
    }
}

TEST(Connection, ADeadPageIsLoadedAgain) {
    const struct {
        const char* name;
        bool pending;
        std::optional<std::string> shown;
        Calls loads;
    } cases[] = {
        {"the page still being connected to", true, "https://velmora.fr/ailleurs", {kSignIn}},
        {"the page shown", false, "https://salon.example/admin?x=1", {"https://salon.example/admin?x=1"}},
        {"no page at all", false, std::nullopt, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConnectionRig r;
        if (!c.pending) r.controller->didFinishNavigation();
        r.web().currentUrl = c.shown ? foundation::Url::parse(*c.shown) : std::nullopt;
        r.web().loads.clear();
        r.controller->webContentProcessDidTerminate();
        r.web().currentUrl.reset();  // the view forgets the dead page's URL
        r.fake.timers.advance(1.0);
        EXPECT_EQ(r.web().loads, c.loads);
    }
}

// A page that brings its web process down again and again is not reloaded in a tight loop:
// 1 s after the first end, then twice as long after each further end, up to 15 s, also when
// each reload finishes loading; a page that has lived a minute since it loaded starts over.
TEST(Connection, AWebProcessThatKeepsEndingIsReloadedLessAndLessOften) {
    ConnectionRig r;
    r.controller->didFinishNavigation();
    const auto reloadsAfter = [&r](double waited) {
        r.web().loads.clear();
        r.controller->webContentProcessDidTerminate();
        r.fake.timers.advance(waited - 0.01);
        const bool early = !r.web().loads.empty();
        r.fake.timers.advance(0.01);
        const bool reloaded = !early && r.web().loads == Calls{kSignIn};
        r.controller->didStartProvisionalNavigation();
        r.controller->didFinishNavigation();
        return reloaded;
    };
    for (const double delay : {1.0, 2.0, 4.0, 8.0, 15.0, 15.0}) EXPECT_TRUE(reloadsAfter(delay)) << delay;
    r.fake.timers.advance(59.0);
    EXPECT_TRUE(reloadsAfter(15.0));
    r.fake.timers.advance(60.0);
    EXPECT_TRUE(reloadsAfter(1.0));
    // A load that starts while a reload waits, or finishes, makes it needless: the reload must
    // not replace the page chosen meanwhile.
    for (const bool finished : {false, true}) {
        r.fake.timers.advance(60.0);
        r.controller->webContentProcessDidTerminate();
        r.controller->didStartProvisionalNavigation();
        if (finished) r.controller->didFinishNavigation();
        r.web().loads.clear();
        r.fake.timers.advance(30.0);
        EXPECT_TRUE(r.web().loads.empty()) << finished;
    }
}

platform::SecurityOrigin https(const std::string& host) { return {"https", host, std::nullopt}; }

struct BridgeRig : Rig {
    BridgeRig() { console(); }
    // Posts a message and returns the platform calls it caused.
    Calls post(const std::string& name, JsValue body, bool mainFrame, const platform::SecurityOrigin& origin) {
        fake.log.clear();
        controller->didReceiveScriptMessage({name, std::move(body), mainFrame, origin});
        return fake.log.calls;
    }
};

// Every message by name, body, frame and origin, with the platform calls it causes.
TEST(PageBridge, HandlesEveryMessageByItsTable) {
    const auto mail = [](const JsValue::Object& changes) {
        JsValue::Object body{{"uid", "12"}, {"validity", "3"}, {"account", "a@b.fr"}};
        for (const auto& [key, value] : changes) body[key] = value;
        return JsValue(body);
    };
    const std::string pdf = foundation::encodeBase64({'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n'});
    const JsValue ids = JsValue::Object{{"ids", JsValue::Array{"a", "b"}}};
    const std::string afterPrint = "web.evaluateJavaScript(window.dispatchEvent(new Event('afterprint')))";
    const Calls none, admitted{"defaults.set(velmoraKnownHosts)"}, update{"updater.checkForUpdates"},
        cleared{"notifications.delivered", "notifications.removeDelivered"},
        // Printing the page, the engine tells the page itself; a document printed apart needs our event.
        page{"print.runModal(page)"}, printedPdf{"printing.openPdf(9 bytes)", "print.runModal(pdf)", afterPrint},
        notAPdf{"printing.openPdf(5 bytes)", "print.runModal(page)"}, emptyPdf{"printing.openPdf(0 bytes)", page[0]};
    const auto salon = https("salon.example"), site = https(kPublicHost), unknown = https("inconnu.example");
    // Anyone on the network can serve a page under any name over plain HTTP or another port.
    const platform::SecurityOrigin siteOverHttp{"http", kPublicHost, std::nullopt},
        siteOnAnotherPort{"https", kPublicHost, 8443}, salonOverHttp{"http", "salon.example", std::nullopt},
        salonOnAnotherPort{"https", "salon.example", 8443}, salonOn443{"https", "salon.example", 443},
        noOrigin{"", "", std::nullopt};
    const struct {
        const char* name;
        JsValue body;
        bool mainFrame;
        platform::SecurityOrigin origin;
        Calls effect;
    } cases[] = {
        // Only the main frame of the public sign-in site adds hosts, given a strict base URL.
        {"velmoraInstance", "https://x.example", true, site, admitted},
        {"velmoraInstance", "https://x.example/", true, site, admitted},
        {"velmoraInstance", "https://x.example", false, site, none},
        {"velmoraInstance", "https://x.example", true, salon, none},
        {"velmoraInstance", "https://x.example", true, https("Velmora.fr"), none},
        {"velmoraInstance", "https://x.example", true, siteOverHttp, none},
        {"velmoraInstance", "https://x.example", true, siteOnAnotherPort, none},
        {"velmoraInstance", "https://x.example", true, {"HTTPS", kPublicHost, std::nullopt}, none},
        {"velmoraInstance", "https://x.example", true, {"https", kPublicHost, 443}, admitted},
        {"velmoraInstance", "https://x.example/admin", true, site, none},
        {"velmoraInstance", "https://x.example/?a=1", true, site, none},
        {"velmoraInstance", "https://x.example?", true, site, none},
        {"velmoraInstance", "https://x.example/#f", true, site, none},
        {"velmoraInstance", "https://x.example:443", true, site, none},  // a port, even the default one
        {"velmoraInstance", "https://x.example:", true, site, none},
        {"velmoraInstance", "https://u@x.example", true, site, none},
        {"velmoraInstance", "https://:p@x.example", true, site, none},
        {"velmoraInstance", "http://x.example", true, site, none},
        {"velmoraInstance", "HTTPS://x.example", true, site, none},
        {"velmoraInstance", "https://", true, site, none},
        {"velmoraInstance", " https://x.example", true, site, none},
        {"velmoraInstance", "https://x example", true, site, none},
        {"velmoraInstance", JsValue::Array{"https://x.example"}, true, site, none},
        {"velmoraInstance", JsValue::Object{{"url", "https://x.example"}}, true, site, none},
        // Every other handler: the main frame of an allowed host.
        {"velmoraNoticeRead", ids, true, salon, cleared},
        {"velmoraNoticeRead", ids, true, site, cleared},
        {"velmoraNoticeRead", ids, false, salon, none},
        {"velmoraNoticeRead", ids, true, unknown, none},
        {"velmoraNoticeRead", ids, true, salonOverHttp, none},
        {"velmoraNoticeRead", ids, true, salonOnAnotherPort, none},
        {"velmoraNoticeRead", ids, true, salonOn443, cleared},
        {"velmoraNoticeRead", JsValue::Object{{"ids", JsValue::Array{"a", 2}}}, true, salon, none},
        {"velmoraNoticeRead", JsValue::Object{{"ids", "a"}}, true, salon, none},
        {"velmoraNoticeRead", JsValue::Object{{"ids", JsValue::Object{{"0", "a"}}}}, true, salon, none},
        {"velmoraNoticeRead", JsValue::Object{{"id", JsValue::Array{"a"}}}, true, salon, none},
        {"velmoraNoticeRead", JsValue::Array{"a"}, true, salon, none},
        // A read mail needs a dictionary of strings with a non-empty uid, validity and account.
        {"velmoraMailRead", mail({}), true, salon, cleared},
        {"velmoraMailRead", mail({{"folder", "INBOX"}}), true, salon, cleared},
        {"velmoraMailRead", mail({}), false, salon, none},
        {"velmoraMailRead", mail({}), true, unknown, none},
        {"velmoraMailRead", mail({}), true, salonOverHttp, none},
        {"velmoraMailRead", mail({{"uid", 12}}), true, salon, none},
        {"velmoraMailRead", mail({{"count", 1}}), true, salon, none},
        {"velmoraMailRead", mail({{"uid", ""}}), true, salon, none},
        {"velmoraMailRead", mail({{"validity", ""}}), true, salon, none},
        {"velmoraMailRead", mail({{"account", ""}}), true, salon, none},
        {"velmoraMailRead", JsValue::Object{{"uid", "12"}, {"validity", "3"}}, true, salon, none},
        {"velmoraMailRead", JsValue::Array{"12", "3", "a@b.fr"}, true, salon, none},
        {"velmoraUpdate", JsValue(), true, salon, update},
        {"velmoraUpdate", 42, false, salon, none},
        {"velmoraUpdate", JsValue(), true, unknown, none},
        {"velmoraUpdate", JsValue(), true, salonOnAnotherPort, none},
        // A strictly decoded PDF prints as such; anything else prints the page.
        {"velmoraPrint", "print", true, salon, page},
        {"velmoraPrint", "print", false, salon, none},
        {"velmoraPrint", "print", true, unknown, none},
        {"velmoraPrint", "print", true, noOrigin, none},
        {"velmoraPrint", "print", true, salonOverHttp, none},
        {"velmoraPrint", JsValue::Object{{"pdf", pdf}}, true, salon, printedPdf},
        {"velmoraPrint", JsValue::Object{{"pdf", pdf.substr(0, 4) + "\n" + pdf.substr(4)}}, true, salon, page},
        {"velmoraPrint", JsValue::Object{{"pdf", 7}}, true, salon, page},
        {"velmoraPrint", JsValue::Object{{"pdf", foundation::encodeBase64({'h', 'e', 'l', 'l', 'o'})}}, true, salon,
         notAPdf},
        {"velmoraPrint", JsValue::Object{{"pdf", ""}}, true, salon, emptyPdf},
        {"velmoraPrint", JsValue::Object{{"file", pdf}}, true, salon, page},
        {"velmoraUnknown", "print", true, salon, none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.body.toJson() + " from " + c.origin.scheme + "://" + c.origin.host +
                     ":" + std::to_string(c.origin.port.value_or(0)) + (c.mainFrame ? " main frame" : " sub-frame"));
        BridgeRig r;
        EXPECT_EQ(r.post(c.name, c.body, c.mainFrame, c.origin), c.effect);
        EXPECT_EQ(r.controller->allowed().contains("x.example"), c.effect == admitted);
    }
}

TEST(PageBridge, AdmissionRewritesTheWholeSetEveryTimeAndLoadsNothing) {
    BridgeRig r;
    r.post("velmoraInstance", "https://x.example", true, https(kPublicHost));
    EXPECT_EQ(r.post("velmoraInstance", "https://x.example/", true, https(kPublicHost)),
              Calls{"defaults.set(velmoraKnownHosts)"});
    EXPECT_EQ(r.fake.defaults.stringArray("velmoraKnownHosts"),
              (Calls{"ancien.example", "autre.example", "salon.example", "velmora.fr", "x.example"}));
    EXPECT_FALSE(r.fake.defaults.string("velmoraInstanceHost"));
    // A host admitted in this run can send the console's messages at once.
    EXPECT_EQ(r.post("velmoraUpdate", JsValue(), true, https("x.example")), Calls{"updater.checkForUpdates"});
}

// A PDF document beyond 64 MiB is never opened: the page prints instead. That the page hears
// "afterprint" once, printed or cancelled, is tested end to end (tests/e2e/test_dialogs.py).
TEST(Printing, APdfDocumentBeyond64MiBPrintsThePageInstead) {
    const std::string groups(((std::size_t{64} << 20) + 2) / 3 * 4 - 4, 'A');
    const std::string limit = groups + "AA==", largest = groups + "AAA=";  // 64 MiB, and one byte more
    BridgeRig r;
    EXPECT_EQ(r.post("velmoraPrint", JsValue::Object{{"pdf", limit}}, true, https("salon.example")),
              (Calls{"printing.openPdf(67108864 bytes)", "print.runModal(page)"}));
    EXPECT_EQ(r.post("velmoraPrint", JsValue::Object{{"pdf", largest}}, true, https("salon.example")),
              Calls{"print.runModal(page)"});
}

struct DialogRig : Rig {
    DialogRig() { launch(); }
};

// The sheet shown for each of the page's dialogs. What the page gets for each button, and that
// it waits for it, is tested end to end (tests/e2e/test_dialogs.py).
TEST(Dialogs, ShowThePagesQuestionWithTheButtonsOfItsKind) {
    const Calls confirm{"Confirmer", "Annuler"}, prompt{"Valider", "Annuler"};
    const struct {
        const char* name;
        std::function<void(Velmora&)> open;
        Calls buttons;
        std::optional<std::string> field;
    } cases[] = {
        {"alert", [](Velmora& v) { v.runJavaScriptAlert("Question ?", [] {}); }, {}, std::nullopt},
        {"confirm", [](Velmora& v) { v.runJavaScriptConfirm("Question ?", [](bool) {}); }, confirm, std::nullopt},
        {"prompt", [](Velmora& v) { v.runJavaScriptTextInput("Question ?", "Dupont", [](auto) {}); }, prompt, "Dupont"},
        {"prompt without default text",
         [](Velmora& v) { v.runJavaScriptTextInput("Question ?", std::nullopt, [](auto) {}); }, prompt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DialogRig r;
        c.open(*r.controller);
        const auto& alert = r.fake.panels.alerts.at(0);
        EXPECT_EQ(alert.messageText, "Question ?");
        EXPECT_EQ(alert.buttons, c.buttons);
        EXPECT_EQ(alert.textField, c.field);
    }
}

TEST(Dialogs, FileChooserFollowsTheRequest) {
    DialogRig r;
    std::optional<std::vector<std::string>> chosen;
    r.controller->runOpenPanel({true, false}, [&](auto files) { chosen = std::move(files); });
    r.fake.panels.pendingOpen(Calls{"/tmp/a.pdf", "/tmp/b.pdf"});
    EXPECT_EQ(chosen, (Calls{"/tmp/a.pdf", "/tmp/b.pdf"}));
    r.controller->runOpenPanel({false, true}, [&](auto files) { chosen = std::move(files); });
    r.fake.panels.pendingOpen(std::nullopt);
    EXPECT_FALSE(chosen);
    EXPECT_TRUE(r.fake.log.has("panels.beginOpenPanel(multiple files)"));
    EXPECT_TRUE(r.fake.log.has("panels.beginOpenPanel(single directories)"));
}

}  // namespace
}  // namespace velmora::testing
