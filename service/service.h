// The stand-in web service: one SoupServer on loopback answering for the public site, every instance host and
// the control interface of the tests, told apart by the Host header.
#pragma once

#include "json.h"
#include "options.h"
#include "request.h"
#include "state.h"

#include <libsoup/soup.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace service {

enum class ApiFault { None, Malformed, ServerError, Hang };
enum class Refusal { None, Closed, Drop };

class Service {
public:
    Service(Options options, ServiceState& state);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Loads the certificate and the state file (when one exists), then listens; returns an error text on failure.
    std::optional<std::string> start();
    // Returns the port listened on, the chosen one when started with port 0.
    int port() const { return port_; }

private:
    static void onRequest(SoupServer* server, SoupServerMessage* message, const char* path, GHashTable* query,
                          gpointer self);
    void dispatch(Request& request);

    // The public site (service_public.cpp).
    void handlePublicSite(Request& request);
    void handleLogin(Request& request);
    // The update files (service_updates.cpp).
    // An update file sent a piece at a time; kept as a record once the exchange is over.
    struct PacedAnswer {
        std::string path;
        std::string body;
        std::size_t piece = 1;  // bytes a piece
        std::size_t appended = 0;
        std::size_t written = 0;
        bool complete = false;  // every byte was written
        bool ended = false;     // the exchange is over, complete or given up by the client
        SoupServerMessage* message = nullptr;
        guint timer = 0;
        // Stops sending and lets go of the message.
        void stop();
        static gboolean sendPiece(gpointer answer);
    };
    bool handleUpdateFile(Request& request);
    void sendPaced(Request& request, const char* contentType, std::string body);
    void stopPacedAnswers();

    // An instance host (service_console.cpp).
    void handleInstance(Request& request);
    void handleSignInReturn(Request& request);
    void handleSignOut(Request& request);
    void handleApi(Request& request, const User* user);
    bool applyApiFault(Request& request);
    std::string sessionCookie(const std::string& value, int maxAgeSeconds) const;

    // Pages and files for the tests, on every host (service_testpages.cpp).
    bool handleSharedPath(Request& request);
    void handleBeacon(Request& request);

    // The control interface (service_control.cpp).
    void handleControl(Request& request);
    void controlReset(Request& request, JsonObject* body);
    void controlStatus(Request& request, JsonObject* body);
    void controlInstance(Request& request, JsonObject* body);
    void controlUser(Request& request, JsonObject* body);
    void controlRole(Request& request, JsonObject* body);
    void controlSignOut(Request& request, JsonObject* body);
    void controlSessions(Request& request, JsonObject* body);
    void controlInboxAdd(Request& request, JsonObject* body);
    void controlInboxRead(Request& request, JsonObject* body);
    void controlInboxDismiss(Request& request, JsonObject* body);
    void controlInboxClear(Request& request, JsonObject* body);
    void controlInbox(Request& request, JsonObject* body);
    void controlOptions(Request& request, JsonObject* body);
    void controlRefuse(Request& request, JsonObject* body);
    void controlApiFault(Request& request, JsonObject* body);
    void controlRequests(Request& request, JsonObject* body);
    void controlRequestsClear(Request& request, JsonObject* body);
    void controlBeacons(Request& request, JsonObject* body);
    void controlBeaconsClear(Request& request, JsonObject* body);
    void controlReport(Request& request, JsonObject* body);
    void controlReports(Request& request, JsonObject* body);
    void controlReportsClear(Request& request, JsonObject* body);
    void controlRedirect(Request& request, JsonObject* body);
    void controlServe(Request& request, JsonObject* body);
    void controlCut(Request& request, JsonObject* body);
    void controlUpdatePace(Request& request, JsonObject* body);
    void controlPacedAnswers(Request& request, JsonObject* body);

    // Listening, outages and faults (service.cpp).
    std::optional<std::string> listen();
    void cutShort(Request& request);
    void refuse(double seconds, Refusal mode, SoupServerMessage* trigger);
    void endRefusal();
    void setApiFault(ApiFault fault, std::string path);
    void releaseHangingRequests();

    // Helpers (service.cpp).
    bool secure() const { return certificate_ != nullptr; }
    std::string origin(const std::string& host) const;
    std::string pageConfig(const Request& request) const;
    void renderPage(Request& request, const char* page);
    void changed() { dirty_ = true; }
    void persist();
    json::Object logRecord(const Request& request) const;

    Options options_;
    ServiceState& state_;
    SoupServer* server_ = nullptr;
    GTlsCertificate* certificate_ = nullptr;
    int port_ = 0;
    bool dirty_ = false;

    Refusal refusal_ = Refusal::None;
    int64_t refusalEndsMs_ = 0;
    guint refusalTimer_ = 0;

    ApiFault apiFault_ = ApiFault::None;
    std::string apiFaultPath_;  // empty: every faultable endpoint
    std::vector<SoupServerMessage*> hanging_;

    std::deque<json::Object> requestLog_;
    // One-shot redirects set by tests: (host, path) → location.
    std::map<std::pair<std::string, std::string>, std::string> redirects_;
    // One-shot pages set by tests: (host, path) → the test page answered there.
    std::map<std::pair<std::string, std::string>, std::string> servedPages_;
    // One-shot answers cut short by tests: (host, path).
    std::set<std::pair<std::string, std::string>> cuts_;
    std::vector<json::Object> beacons_;
    std::vector<json::Object> reports_;
    // Bytes a second at which update files go out; 0: at once.
    std::size_t updatePace_ = 0;
    std::vector<std::unique_ptr<PacedAnswer>> pacedAnswers_;
};

}  // namespace service
