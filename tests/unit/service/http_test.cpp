// The running service over HTTPS on loopback, driven with curl the way the end-to-end tests drive it.
#include "json.h"
#include "running_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace service::testing {
namespace {

json::Object objectOf(const CurlResult& result) {
    json::Node node = json::parse(result.body);
    return json::asObject(node.get());
}

std::string headerValue(const CurlResult& result, const std::string& name) {
    std::string lower = result.headers;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string wanted = name + ":";
    for (char& c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t at = lower.rfind(wanted);
    if (at == std::string::npos) return {};
    const size_t start = result.headers.find_first_not_of(' ', at + wanted.size());
    return result.headers.substr(start, result.headers.find('\r', start) - start);
}

class ServiceOverHttps : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(service.ready()) << "velmora-service did not start"; }

    std::string salon(const std::string& path) const { return service.origin("salon.velmora.fr") + path; }
    std::string site(const std::string& path) const { return service.origin("velmora.fr") + path; }

    // Signs in through the public site and follows the sign-in link; returns the cookie jar path.
    std::string signIn(CurlResult* linkAnswer = nullptr) const {
        const std::string jar = RunningService::scratchDirectory() + "/cookies";
        const CurlResult login =
            service.curl(site("/api/login"),
                         {"-X", "POST", "-H", "Content-Type: application/json", "--data-binary",
                          R"({"email":"admin@salon.velmora.fr","password":"demo","espace":"salon.velmora.fr"})"});
        EXPECT_EQ(login.status, 200) << login.body;
        const auto next = json::stringMember(objectOf(login).get(), "next");
        EXPECT_TRUE(next.has_value());
        const CurlResult link = service.curl(next.value_or(""), {"-c", jar});
        if (linkAnswer) *linkAnswer = link;
        return jar;
    }

    RunningService service;
};

TEST_F(ServiceOverHttps, SignInAnswersWithTheBareInstanceAndALinkOnIt) {
    const CurlResult login = service.curl(
        site("/api/login"), {"-X", "POST", "--data-binary", R"({"email":"admin@salon.velmora.fr","password":"demo"})"});
    ASSERT_EQ(login.status, 200);
    const json::Object answer = objectOf(login);
    EXPECT_EQ(json::stringMember(answer.get(), "instance"), "https://salon.velmora.fr");
    EXPECT_TRUE(json::stringMember(answer.get(), "next").value_or("").starts_with(salon("/connexion/retour?token=")));
}

TEST_F(ServiceOverHttps, SignInLinkSetsAPersistentHostOnlySessionCookie) {
    CurlResult link;
    const std::string jar = signIn(&link);
    EXPECT_EQ(link.status, 302);
    EXPECT_EQ(headerValue(link, "Location"), "/admin");
    const std::string cookie = headerValue(link, "Set-Cookie");
    for (const char* attribute :
         {"velmora_session=", "Path=/", "Max-Age=2592000", "HttpOnly", "SameSite=Lax", "Secure"}) {
        EXPECT_NE(cookie.find(attribute), std::string::npos) << attribute << " in " << cookie;
    }
    EXPECT_EQ(cookie.find("Domain"), std::string::npos) << cookie;

    const CurlResult session = service.curl(salon("/api/session"), {"-b", jar});
    const json::Object body = objectOf(session);
    EXPECT_TRUE(json_object_get_boolean_member(body.get(), "authenticated"));
    EXPECT_EQ(json::stringMember(body.get(), "role"), "admin");
    const CurlResult console = service.curl(salon("/admin"), {"-b", jar});
    EXPECT_EQ(console.status, 200);
    EXPECT_NE(console.body.find("async function api(path"), std::string::npos);
    // In curl's cookie jar the second field says whether subdomains get the cookie.
    gchar* jarText = nullptr;
    ASSERT_TRUE(g_file_get_contents(jar.c_str(), &jarText, nullptr, nullptr));
    EXPECT_NE(std::string(jarText).find("salon.velmora.fr\tFALSE\t/\tTRUE\t"), std::string::npos) << jarText;
    g_free(jarText);
}

TEST_F(ServiceOverHttps, SignInRefusesBadCredentialsAndUnknownSpaces) {
    const struct {
        const char* name;
        const char* body;
        int status;
    } cases[] = {
        {"wrong password", R"({"email":"admin@salon.velmora.fr","password":"faux"})", 401},
        {"account of another space",
         R"({"email":"admin@salon.velmora.fr","password":"demo","espace":"autre.velmora.fr"})", 401},
        {"unknown space", R"({"email":"admin@salon.velmora.fr","password":"demo","espace":"x.velmora.fr"})", 404},
        {"no e-mail", R"({"password":"demo"})", 400},
        {"not JSON", "email=admin", 400},
    };
    service.control("/control/instance", R"({"host":"autre.velmora.fr"})");
    for (const auto& c : cases) {
        const CurlResult login = service.curl(site("/api/login"), {"-X", "POST", "--data-binary", c.body});
        EXPECT_EQ(login.status, c.status) << c.name;
        EXPECT_TRUE(json::stringMember(objectOf(login).get(), "error").has_value()) << c.name;
    }
}

TEST_F(ServiceOverHttps, WithoutSessionTheConsoleSendsToSignInAndTheApiRefuses) {
    const struct {
        const char* path;
        int status;
    } cases[] = {
        {"/admin", 302},
        {"/admin?notification=notice&noticeId=notice%3A1", 302},
        {"/api/admin/notification-inbox", 401},
        {"/api/admin/options", 401},
        {"/api/admin/invoice.pdf", 401},
        {"/api/session", 200},
    };
    for (const auto& c : cases) {
        const CurlResult answer = service.curl(salon(c.path));
        EXPECT_EQ(answer.status, c.status) << c.path;
        if (c.status == 302) {
            EXPECT_EQ(headerValue(answer, "Location"), site("/connexion.html")) << c.path;
        }
        if (c.status == 401) {
            EXPECT_TRUE(objectOf(answer)) << c.path;
        }
    }
    const json::Object session = objectOf(service.curl(salon("/api/session")));
    EXPECT_FALSE(json_object_get_boolean_member(session.get(), "authenticated"));
}

TEST_F(ServiceOverHttps, InboxChangesThroughControlShowInTheApi) {
    const std::string jar = signIn();
    const CurlResult added = service.control(
        "/control/inbox/add", R"({"host":"salon.velmora.fr","kind":"payable","title":"Paiement en attente"})");
    ASSERT_EQ(added.status, 200) << added.body;
    const std::string id = json::stringMember(objectOf(added).get(), "id").value_or("");
    ASSERT_FALSE(id.empty());

    auto entry = [&](const std::string& wanted) -> std::string {
        const CurlResult feed = service.curl(salon("/api/admin/notification-inbox"), {"-b", jar});
        json::Object body = objectOf(feed);
        JsonArray* list = json_object_get_array_member(body.get(), "notifications");
        for (guint i = 0; i < json_array_get_length(list); ++i) {
            json::Node node = json::objectNode(json_array_get_object_element(list, i));
            if (json::stringMember(json_array_get_object_element(list, i), "id") == wanted)
                return json::stringify(node.get());
        }
        return {};
    };
    EXPECT_NE(entry(id).find(R"("read_at":null)"), std::string::npos) << entry(id);

    ASSERT_EQ(service.control("/control/inbox/read", R"({"host":"salon.velmora.fr","id":")" + id + R"("})").status,
              200);
    EXPECT_NE(entry(id).find(R"("read_at":"20)"), std::string::npos) << entry(id);
    const auto readIds =
        json::stringArrayMember(objectOf(service.controlGet("/control/inbox?host=salon.velmora.fr")).get(), "readIds");
    ASSERT_TRUE(readIds);
    EXPECT_NE(std::find(readIds->begin(), readIds->end(), id), readIds->end());

    ASSERT_EQ(service.control("/control/inbox/dismiss", R"({"host":"salon.velmora.fr","id":")" + id + R"("})").status,
              200);
    EXPECT_NE(entry(id).find(R"("dismissed":1)"), std::string::npos) << entry(id);
    EXPECT_EQ(service.control("/control/inbox/read", R"({"host":"salon.velmora.fr","id":"notice:999"})").status, 404);
}

TEST_F(ServiceOverHttps, ConsoleMarksEntriesReadThroughTheApi) {
    const std::string jar = signIn();
    const CurlResult read = service.curl(salon("/api/admin/notification-inbox/read"),
                                         {"-b", jar, "-X", "POST", "--data-binary", R"({"ids":["appointment:12"]})"});
    ASSERT_EQ(read.status, 200) << read.body;
    const auto readIds =
        json::stringArrayMember(objectOf(service.controlGet("/control/inbox?host=salon.velmora.fr")).get(), "readIds");
    ASSERT_TRUE(readIds);
    EXPECT_NE(std::find(readIds->begin(), readIds->end(), "appointment:12"), readIds->end());
}

TEST_F(ServiceOverHttps, RoleAndSignOutReachTheSignedInConsole) {
    const std::string jar = signIn();
    service.control("/control/role", R"({"host":"salon.velmora.fr","role":"staff"})");
    EXPECT_EQ(json::stringMember(objectOf(service.curl(salon("/api/session"), {"-b", jar})).get(), "role"), "staff");
    EXPECT_EQ(service.curl(salon("/api/admin/notification-inbox"), {"-b", jar}).status, 403);

    service.control("/control/signout", R"({"host":"salon.velmora.fr"})");
    const json::Object session = objectOf(service.curl(salon("/api/session"), {"-b", jar}));
    EXPECT_FALSE(json_object_get_boolean_member(session.get(), "authenticated"));
    EXPECT_EQ(service.curl(salon("/admin"), {"-b", jar}).status, 302);
}

TEST_F(ServiceOverHttps, RefuseClosesTheListenerForItsDuration) {
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(service.control("/control/refuse", R"({"seconds":2})").status, 200);
    // The listener closes right after the answer to the control request has gone out.
    int exitCode = 0;
    while (exitCode != 7 && std::chrono::steady_clock::now() - begin < std::chrono::seconds(1)) {
        exitCode = service.curl(site("/connexion.html")).exitCode;
        if (exitCode != 7) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(exitCode, 7);  // connection refused
    std::this_thread::sleep_until(begin + std::chrono::milliseconds(2400));
    EXPECT_EQ(service.curl(site("/connexion.html")).status, 200);
}

TEST_F(ServiceOverHttps, DropModeHangsUpOnPagesButKeepsControl) {
    ASSERT_EQ(service.control("/control/refuse", R"({"seconds":30,"mode":"drop"})").status, 200);
    const CurlResult dropped = service.curl(site("/connexion.html"));
    EXPECT_EQ(dropped.exitCode, 52);  // empty reply
    EXPECT_EQ(dropped.status, 0);
    ASSERT_EQ(service.control("/control/refuse", R"({"seconds":0})").status, 200);
    EXPECT_EQ(service.curl(site("/connexion.html")).status, 200);
}

TEST_F(ServiceOverHttps, ApiFaultsHitOnlyThePolledEndpoints) {
    const std::string jar = signIn();
    ASSERT_EQ(service.control("/control/api-fault", R"({"mode":"malformed"})").status, 200);
    const CurlResult malformed = service.curl(salon("/api/session"), {"-b", jar});
    EXPECT_EQ(malformed.status, 200);
    EXPECT_FALSE(json::parse(malformed.body));
    EXPECT_EQ(service.curl(salon("/api/admin/dashboard"), {"-b", jar}).status, 200);

    service.control("/control/api-fault", R"({"mode":"500","path":"/api/admin/options"})");
    EXPECT_EQ(service.curl(salon("/api/admin/options"), {"-b", jar}).status, 500);
    EXPECT_EQ(service.curl(salon("/api/admin/notification-inbox"), {"-b", jar}).status, 200);

    service.control("/control/api-fault", R"({"mode":"hang"})");
    EXPECT_EQ(service.curl(salon("/api/admin/notification-inbox"), {"-b", jar, "--max-time", "1"}).exitCode, 28);
    service.control("/control/api-fault", R"({"mode":"none"})");
    EXPECT_EQ(service.curl(salon("/api/session"), {"-b", jar}).status, 200);
    EXPECT_EQ(service.control("/control/api-fault", R"({"mode":"parfois"})").status, 400);
}

TEST_F(ServiceOverHttps, RecordsRequestsBeaconsAndReports) {
    service.curl(site("/connexion.html"));
    service.curl(salon("/beacon/load"), {"-X", "POST", "--data-binary", ""});
    service.control("/control/report", R"({"page":"bridge-probe","frame":"sub"})");

    const CurlResult requests = service.controlGet("/control/requests?host=velmora.fr&path=/connexion.html");
    EXPECT_NE(requests.body.find(R"("path":"/connexion.html")"), std::string::npos) << requests.body;
    EXPECT_EQ(requests.body.find("/control/"), std::string::npos) << "control calls are not logged";
    const CurlResult beacons = service.controlGet("/control/beacons?name=load");
    EXPECT_NE(beacons.body.find(R"("host":"salon.velmora.fr")"), std::string::npos) << beacons.body;
    EXPECT_NE(beacons.body.find(R"("epoch_ms":)"), std::string::npos);
    const CurlResult reports = service.controlGet("/control/reports?page=bridge-probe");
    EXPECT_NE(reports.body.find(R"("frame":"sub")"), std::string::npos) << reports.body;
    EXPECT_EQ(service.controlGet("/control/reports?page=dialogs").body, R"({"reports":[]})");
}

TEST_F(ServiceOverHttps, ServesTestFilesAndPagesOnEveryHost) {
    const CurlResult download = service.curl(salon("/test/download"));
    EXPECT_EQ(headerValue(download, "Content-Disposition"), R"(attachment; filename="facture-2026.txt")");
    const CurlResult archive = service.curl(site("/test/archive.zip"));
    EXPECT_EQ(headerValue(archive, "Content-Type"), "application/zip");
    EXPECT_TRUE(archive.body.starts_with("PK"));
    for (const char* path : {"/test/dialogs.html", "/test/upload.html", "/test/links.html", "/test/iframe.html",
                             "/test/bridge-probe.html", "/test/print.html", "/test/save.html"}) {
        EXPECT_EQ(service.curl(site(path)).status, 200) << path;
        const CurlResult page = service.curl(salon(path));
        EXPECT_EQ(page.status, 200) << path;
        EXPECT_EQ(page.body.find("{{"), std::string::npos) << "unfilled placeholder in " << path;
    }
    const std::string jar = signIn();
    EXPECT_TRUE(service.curl(salon("/api/admin/invoice.pdf"), {"-b", jar}).body.starts_with("%PDF-"));
}

TEST_F(ServiceOverHttps, AnswersMisdirectedForUnknownHostsAndGuardsControl) {
    EXPECT_EQ(service.curl(service.origin("inconnu.velmora.fr") + "/admin").status, 421);
    EXPECT_EQ(service.controlGet("/control/nothing").status, 404);
    EXPECT_EQ(service.controlGet("/control/inbox/add").status, 405);
    EXPECT_EQ(service.controlGet("/control/inbox?host=inconnu.velmora.fr").status, 404);
    EXPECT_EQ(service.control("/control/inbox/add", "[1,2").status, 400);
}

TEST(ServiceStateFile, SessionsSurviveARestartOfTheService) {
    const std::string stateFile = RunningService::scratchDirectory() + "/etat.json";
    std::string jar;
    {
        RunningService first({"--state-file", stateFile});
        ASSERT_TRUE(first.ready());
        jar = RunningService::scratchDirectory() + "/cookies";
        const CurlResult login =
            first.curl(first.origin("velmora.fr") + "/api/login",
                       {"-X", "POST", "--data-binary", R"({"email":"admin@salon.velmora.fr","password":"demo"})"});
        first.curl(json::stringMember(objectOf(login).get(), "next").value_or(""), {"-c", jar});
        first.control("/control/inbox/add", R"({"host":"salon.velmora.fr","id":"payable:77","kind":"payable"})");
    }
    RunningService second({"--state-file", stateFile});
    ASSERT_TRUE(second.ready());
    const json::Object session = objectOf(second.curl(second.origin("salon.velmora.fr") + "/api/session", {"-b", jar}));
    EXPECT_TRUE(json_object_get_boolean_member(session.get(), "authenticated"));
    EXPECT_NE(second.controlGet("/control/inbox?host=salon.velmora.fr").body.find("payable:77"), std::string::npos);
}

TEST(ServicePlainHttp, ServesWithoutCertificateForDebugging) {
    RunningService plain({}, false);
    ASSERT_TRUE(plain.ready());
    const CurlResult console = plain.curl(plain.origin("salon.velmora.fr") + "/admin");
    EXPECT_EQ(headerValue(console, "Location"), plain.origin("velmora.fr") + "/connexion.html");
}

}  // namespace
}  // namespace service::testing
