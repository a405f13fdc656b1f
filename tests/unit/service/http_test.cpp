// The built velmora-service over HTTPS on a free loopback port, driven with curl the way the
// end-to-end tests drive it.
#include "json.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace service {
namespace {

namespace fs = std::filesystem;

// A fresh folder for one use, under a root of this test process that goes when the process ends.
std::string scratch(const std::string& name) {
    static const struct Root {
        fs::path path = fs::temp_directory_path() / ("velmora-service-test-" + std::to_string(getpid()));
        ~Root() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } root;
    static int count = 0;
    const fs::path folder = root.path / (std::to_string(++count) + "-" + name);
    fs::create_directories(folder);
    return folder.string();
}

// Runs the command to its end; its standard output.
std::string run(const std::vector<std::string>& command) {
    std::vector<const char*> argv;
    for (const auto& argument : command) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const auto flags =
        static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE);
    GSubprocess* process = g_subprocess_newv(argv.data(), flags, nullptr);
    GBytes* out = nullptr;
    if (!process || !g_subprocess_communicate(process, nullptr, nullptr, &out, nullptr, nullptr)) return {};
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(out, &size));
    std::string text(data ? data : "", size);
    g_bytes_unref(out);
    g_object_unref(process);
    return text;
}

const std::string& certificates() {
    static const std::string folder = [] {
        const std::string made = scratch("ca");
        run({"sh", VELMORA_MAKE_TEST_CA, made});
        return made;
    }();
    return folder;
}

struct Answer {
    int status = 0;  // 0 without an answer
    std::string headers, body;

    // The last header of that name, compared without case.
    std::string header(const std::string& name) const {
        std::string lower = headers;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        std::string wanted = "\n" + name + ": ";
        std::transform(wanted.begin(), wanted.end(), wanted.begin(), [](unsigned char c) { return std::tolower(c); });
        const size_t at = lower.rfind(wanted);
        if (at == std::string::npos) return {};
        const size_t start = at + wanted.size();
        return headers.substr(start, headers.find('\r', start) - start);
    }
    json::Object object() const {
        const json::Node node = json::parse(body);
        return json::asObject(node.get());
    }
    std::optional<std::string> member(const char* name) const { return json::stringMember(object().get(), name); }
};

// One velmora-service process; stopped with the object.
class RunningService {
public:
    explicit RunningService(std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(), {VELMORA_SERVICE_EXE, "--port", "0", "--cert",
                                             certificates() + "/server.pem", "--key", certificates() + "/server.key"});
        std::vector<const char*> argv;
        for (const auto& argument : arguments) argv.push_back(argument.c_str());
        argv.push_back(nullptr);
        process_ = g_subprocess_newv(argv.data(), G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr);
        if (!process_) return;
        // The service prints "ready <port>" once it listens.
        GDataInputStream* lines = g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_));
        gchar* line = g_data_input_stream_read_line(lines, nullptr, nullptr, nullptr);
        if (line && g_str_has_prefix(line, "ready ")) port_ = std::atoi(line + 6);
        g_free(line);
        g_object_unref(lines);
    }
    ~RunningService() {
        if (!process_) return;
        g_subprocess_send_signal(process_, SIGTERM);
        g_subprocess_wait(process_, nullptr, nullptr);
        g_object_unref(process_);
    }
    RunningService(const RunningService&) = delete;
    RunningService& operator=(const RunningService&) = delete;

    bool ready() const { return port_ > 0; }
    std::string origin(const std::string& host) const { return "https://" + host + ":" + std::to_string(port_); }
    // curl with the test CA trusted and every host on loopback.
    Answer curl(const std::string& url, const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> command{"curl",         "-sS",      "-i",
                                         "--max-time",   "5",        "--connect-to",
                                         "::127.0.0.1:", "--cacert", certificates() + "/ca.pem"};
        command.insert(command.end(), extra.begin(), extra.end());
        command.push_back(url);
        const std::string out = run(command);
        Answer answer;
        const size_t end = out.find("\r\n\r\n");
        answer.headers = out.substr(0, end == std::string::npos ? out.size() : end + 2);
        if (end != std::string::npos) answer.body = out.substr(end + 4);
        if (answer.headers.starts_with("HTTP/"))
            answer.status = std::atoi(answer.headers.c_str() + answer.headers.find(' '));
        return answer;
    }
    Answer post(const std::string& url, const std::string& body, std::vector<std::string> extra = {}) const {
        extra.insert(extra.end(), {"-X", "POST", "-H", "Content-Type: application/json", "--data-binary", body});
        return curl(url, extra);
    }
    Answer control(const std::string& path, const std::string& body) const {
        return post(origin("velmora.fr") + path, body);
    }
    Answer controlGet(const std::string& path) const { return curl(origin("velmora.fr") + path); }

private:
    GSubprocess* process_ = nullptr;
    int port_ = 0;
};

constexpr const char* kCredentials = R"({"email":"admin@salon.velmora.fr","password":"demo"})";

class ServiceOverHttps : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(service.ready()) << "velmora-service did not start"; }

    std::string salon(const std::string& path) const { return service.origin("salon.velmora.fr") + path; }
    std::string site(const std::string& path) const { return service.origin("velmora.fr") + path; }
    std::vector<std::string> readIds() const {
        return json::stringArrayMember(service.controlGet("/control/inbox?host=salon.velmora.fr").object().get(),
                                       "readIds")
            .value_or(std::vector<std::string>{});
    }
    bool authenticated(const std::string& jar) const {
        return json_object_get_boolean_member(service.curl(salon("/api/session"), {"-b", jar}).object().get(),
                                              "authenticated");
    }
    // Signs in on the public site and follows the link; the cookie jar, and the link's answer.
    std::string signIn(Answer* link = nullptr) const {
        const std::string jar = scratch("cookies") + "/jar";
        const Answer login = service.post(site("/api/login"), kCredentials);
        EXPECT_EQ(login.status, 200) << login.body;
        const Answer followed = service.curl(login.member("next").value_or(""), {"-c", jar});
        if (link) *link = followed;
        return jar;
    }

    RunningService service;
};

TEST_F(ServiceOverHttps, SignInLinkOnTheInstanceSetsAPersistentHostOnlySessionCookie) {
    const Answer login = service.post(site("/api/login"), kCredentials);
    EXPECT_EQ(login.member("instance"), "https://salon.velmora.fr");
    EXPECT_TRUE(login.member("next").value_or("").starts_with(salon("/connexion/retour?token=")));

    Answer link;
    const std::string jar = signIn(&link);
    EXPECT_EQ(link.status, 302);
    EXPECT_EQ(link.header("Location"), "/admin");
    const std::string cookie = link.header("Set-Cookie");
    for (const char* attribute :
         {"velmora_session=", "Path=/", "Max-Age=2592000", "HttpOnly", "SameSite=Lax", "Secure"}) {
        EXPECT_NE(cookie.find(attribute), std::string::npos) << attribute << " in " << cookie;
    }
    EXPECT_EQ(cookie.find("Domain"), std::string::npos) << cookie;
    // In curl's cookie jar the second field says whether subdomains get the cookie.
    std::ifstream jarFile(jar);
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(jarFile), {}).find("salon.velmora.fr\tFALSE\t/\tTRUE\t"),
              std::string::npos);

    EXPECT_TRUE(authenticated(jar));
    EXPECT_EQ(service.curl(salon("/api/session"), {"-b", jar}).member("role"), "admin");
    const Answer console = service.curl(salon("/admin"), {"-b", jar});
    EXPECT_EQ(console.status, 200);
    EXPECT_NE(console.body.find("async function api(path"), std::string::npos);
}

TEST_F(ServiceOverHttps, SignInRefusesBadCredentialsAndUnknownSpaces) {
    service.control("/control/instance", R"({"host":"autre.velmora.fr"})");
    const struct {
        const char* body;
        int status;
    } cases[] = {
        {R"({"email":"admin@salon.velmora.fr","password":"faux"})", 401},
        {R"({"email":"admin@salon.velmora.fr","password":"demo","espace":"autre.velmora.fr"})", 401},
        {R"({"email":"admin@salon.velmora.fr","password":"demo","espace":"x.velmora.fr"})", 404},
        {R"({"password":"demo"})", 400},
        {"email=admin", 400},
    };
    for (const auto& c : cases) {
        const Answer login = service.post(site("/api/login"), c.body);
        EXPECT_EQ(login.status, c.status) << c.body;
        EXPECT_TRUE(login.member("error").has_value()) << c.body;
    }
}

TEST_F(ServiceOverHttps, WithoutSessionTheConsoleSendsToSignInAndTheApiRefuses) {
    for (const char* path : {"/admin", "/admin?notification=notice&noticeId=notice%3A1"}) {
        const Answer answer = service.curl(salon(path));
        EXPECT_EQ(answer.status, 302) << path;
        EXPECT_EQ(answer.header("Location"), site("/connexion.html")) << path;
    }
    for (const char* path : {"/api/admin/notification-inbox", "/api/admin/options", "/api/admin/invoice.pdf"}) {
        const Answer answer = service.curl(salon(path));
        EXPECT_EQ(answer.status, 401) << path;
        EXPECT_TRUE(answer.object()) << path;
    }
    EXPECT_FALSE(authenticated(scratch("cookies") + "/none"));
}

TEST_F(ServiceOverHttps, InboxChangesThroughControlAndConsoleReachTheApiAndEachOther) {
    const std::string jar = signIn();
    const Answer added = service.control("/control/inbox/add", R"({"host":"salon.velmora.fr","kind":"payable"})");
    const std::string id = added.member("id").value_or("?");
    const Answer feed = service.curl(salon("/api/admin/notification-inbox"), {"-b", jar});
    EXPECT_NE(feed.body.find(R"({"kind":"payable","id":")" + id + R"(")"), std::string::npos) << feed.body;
    const std::string target = R"({"host":"salon.velmora.fr","id":")" + id + R"("})";
    EXPECT_EQ(service.control("/control/inbox/read", target).status, 200);
    EXPECT_EQ(service.control("/control/inbox/dismiss", target).status, 200);
    EXPECT_EQ(service.control("/control/inbox/read", R"({"host":"salon.velmora.fr","id":"notice:999"})").status, 404);
    EXPECT_EQ(
        service.post(salon("/api/admin/notification-inbox/read"), R"({"ids":["appointment:12"]})", {"-b", jar}).status,
        200);
    const auto ids = readIds();
    EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 1);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "appointment:12"), 1);
    EXPECT_NE(service.curl(salon("/api/admin/notification-inbox"), {"-b", jar}).body.find(R"("dismissed":1)"),
              std::string::npos);
}

TEST_F(ServiceOverHttps, RoleAndSignOutReachTheSignedInConsole) {
    const std::string jar = signIn();
    service.control("/control/role", R"({"host":"salon.velmora.fr","role":"staff"})");
    EXPECT_EQ(service.curl(salon("/api/session"), {"-b", jar}).member("role"), "staff");
    EXPECT_EQ(service.curl(salon("/api/admin/notification-inbox"), {"-b", jar}).status, 403);

    service.control("/control/signout", R"({"host":"salon.velmora.fr"})");
    EXPECT_FALSE(authenticated(jar));
    EXPECT_EQ(service.curl(salon("/admin"), {"-b", jar}).status, 302);
}

TEST_F(ServiceOverHttps, ApiFaultsHitOnlyThePolledEndpoints) {
    const std::string jar = signIn();
    ASSERT_EQ(service.control("/control/api-fault", R"({"mode":"malformed"})").status, 200);
    const Answer malformed = service.curl(salon("/api/session"), {"-b", jar});
    EXPECT_EQ(malformed.status, 200);
    EXPECT_FALSE(json::parse(malformed.body));
    EXPECT_EQ(service.curl(salon("/api/admin/dashboard"), {"-b", jar}).status, 200);

    service.control("/control/api-fault", R"({"mode":"500","path":"/api/admin/options"})");
    EXPECT_EQ(service.curl(salon("/api/admin/options"), {"-b", jar}).status, 500);
    EXPECT_EQ(service.curl(salon("/api/admin/notification-inbox"), {"-b", jar}).status, 200);

    service.control("/control/api-fault", R"({"mode":"none"})");
    EXPECT_EQ(service.curl(salon("/api/session"), {"-b", jar}).status, 200);
    EXPECT_EQ(service.control("/control/api-fault", R"({"mode":"parfois"})").status, 400);
}

TEST_F(ServiceOverHttps, AnswersMisdirectedForUnknownHostsAndGuardsControl) {
    EXPECT_EQ(service.curl(service.origin("inconnu.velmora.fr") + "/admin").status, 421);
    EXPECT_EQ(service.controlGet("/control/nothing").status, 404);
    EXPECT_EQ(service.controlGet("/control/inbox/add").status, 405);
    EXPECT_EQ(service.controlGet("/control/inbox?host=inconnu.velmora.fr").status, 404);
    EXPECT_EQ(service.control("/control/inbox/add", "[1,2").status, 400);
    EXPECT_EQ(service.curl(site("/mises-a-jour/linux.json")).status, 404);  // no update folder given
}

TEST(ServiceProcess, SessionsAndInboxSurviveARestartWithAStateFile) {
    const std::string stateFile = scratch("state") + "/etat.json", jar = scratch("cookies") + "/jar";
    {
        RunningService first({"--state-file", stateFile});
        ASSERT_TRUE(first.ready());
        const Answer login = first.post(first.origin("velmora.fr") + "/api/login", kCredentials);
        first.curl(login.member("next").value_or(""), {"-c", jar});
        first.control("/control/inbox/add", R"({"host":"salon.velmora.fr","id":"payable:77","kind":"payable"})");
    }
    RunningService second({"--state-file", stateFile});
    ASSERT_TRUE(second.ready());
    const Answer session = second.curl(second.origin("salon.velmora.fr") + "/api/session", {"-b", jar});
    EXPECT_TRUE(json_object_get_boolean_member(session.object().get(), "authenticated"));
    EXPECT_NE(second.controlGet("/control/inbox?host=salon.velmora.fr").body.find("payable:77"), std::string::npos);
}

TEST(ServiceProcess, ServesPlainNamesOfTheUpdateFolderOnThePublicSiteOnly) {
    const std::string folder = scratch("files") + "/mises-a-jour";
    fs::create_directories(folder);
    std::ofstream(folder + "/linux.json") << R"({"build": "101"})";
    std::ofstream(folder + "/.cache") << "caché";
    std::ofstream(folder + "/../voisin.txt") << "voisin";
    RunningService service({"--files", folder});
    ASSERT_TRUE(service.ready());
    const std::string site = service.origin("velmora.fr") + "/mises-a-jour/";
    EXPECT_EQ(service.curl(site + "linux.json").body, R"({"build": "101"})");
    // Every request reads the folder afresh, so a file written after the start is served too.
    const std::string gzip("\x1f\x8b\x00\x01", 4);
    std::ofstream(folder + "/Velmora-101.tar.gz", std::ios::binary) << gzip;
    const Answer archive = service.curl(site + "Velmora-101.tar.gz");
    EXPECT_EQ(archive.status, 200);
    EXPECT_EQ(archive.body, gzip);
    for (const char* path : {"absent.json", ".cache", "..%2Fvoisin.txt", "../voisin.txt", ""}) {
        // libsoup may refuse the path itself (400); either way nothing of the file system goes out.
        const Answer answer = service.curl(site + path, {"--path-as-is"});
        EXPECT_TRUE(answer.status == 404 || answer.status == 400) << path << ": " << answer.status;
        EXPECT_EQ(answer.body.find("voisin"), std::string::npos) << path;
        EXPECT_EQ(answer.body.find("caché"), std::string::npos) << path;
    }
    EXPECT_NE(service.curl(service.origin("salon.velmora.fr") + "/mises-a-jour/linux.json").body,
              R"({"build": "101"})");
}

}  // namespace
}  // namespace service
