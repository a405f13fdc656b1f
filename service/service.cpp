#include "service.h"

#include "pages.h"
#include "text.h"

#include <cstdio>

namespace service {

namespace {

constexpr size_t kRequestLogLimit = 5000;

void onHangingFinished(SoupServerMessage* message, gpointer self);

}  // namespace

Service::Service(Options options, ServiceState& state) : options_(std::move(options)), state_(state) {
    port_ = options_.port;
}

Service::~Service() {
    if (refusalTimer_) g_source_remove(refusalTimer_);
    stopPacedAnswers();
    for (SoupServerMessage* message : hanging_) {
        g_signal_handlers_disconnect_by_data(message, this);
        g_object_unref(message);
    }
    if (server_) {
        soup_server_disconnect(server_);
        g_object_unref(server_);
    }
    if (certificate_) g_object_unref(certificate_);
}

std::optional<std::string> Service::start() {
    GError* error = nullptr;
    if (!options_.certFile.empty()) {
        certificate_ = g_tls_certificate_new_from_files(options_.certFile.c_str(), options_.keyFile.c_str(), &error);
        if (!certificate_) {
            std::string message = std::string("Certificat inutilisable : ") + error->message;
            g_error_free(error);
            return message;
        }
    }
    if (!options_.stateFile.empty() && g_file_test(options_.stateFile.c_str(), G_FILE_TEST_EXISTS)) {
        gchar* contents = nullptr;
        gsize length = 0;
        if (!g_file_get_contents(options_.stateFile.c_str(), &contents, &length, &error)) {
            std::string message = std::string("Fichier d’état illisible : ") + error->message;
            g_error_free(error);
            return message;
        }
        json::Node document = json::parse(std::string_view(contents, length));
        g_free(contents);
        if (!document || !state_.fromJson(document.get(), nowMs())) {
            return "Fichier d’état invalide : " + options_.stateFile;
        }
    }
    server_ = SOUP_SERVER(
        g_object_new(SOUP_TYPE_SERVER, "tls-certificate", certificate_, "server-header", "velmora-service ", nullptr));
    soup_server_add_handler(server_, nullptr, &Service::onRequest, this, nullptr);
    if (auto failure = listen()) return failure;
    changed();
    persist();
    return std::nullopt;
}

namespace {

std::optional<std::string> listenOn(SoupServer* server, const std::string& listenAddress, int port,
                                    SoupServerListenOptions flags) {
    GInetAddress* inet = g_inet_address_new_from_string(listenAddress.c_str());
    GSocketAddress* address = g_inet_socket_address_new(inet, static_cast<guint16>(port));
    g_object_unref(inet);
    GError* error = nullptr;
    const bool listening = soup_server_listen(server, address, flags, &error);
    g_object_unref(address);
    if (listening) return std::nullopt;
    std::string message = std::string("Écoute impossible : ") + error->message;
    g_error_free(error);
    return message;
}

}  // namespace

std::optional<std::string> Service::listen() {
    const auto flags = secure() ? SOUP_SERVER_LISTEN_HTTPS : static_cast<SoupServerListenOptions>(0);
    if (auto failure = listenOn(server_, options_.listenAddress, port_, flags)) return failure;
    if (port_ == 0) {
        GSList* uris = soup_server_get_uris(server_);
        if (uris) port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    // The same site over plain HTTP, and over HTTPS on another port: what anyone on the network
    // can serve under the service's names, for the tests that check the application does not
    // trust it.
    if (options_.httpPort != 0) {
        if (auto failure =
                listenOn(server_, options_.listenAddress, options_.httpPort, static_cast<SoupServerListenOptions>(0)))
            return failure;
    }
    if (options_.otherHttpsPort != 0)
        return listenOn(server_, options_.listenAddress, options_.otherHttpsPort, SOUP_SERVER_LISTEN_HTTPS);
    return std::nullopt;
}

void Service::onRequest(SoupServer*, SoupServerMessage* message, const char* path, GHashTable* query, gpointer self) {
    auto* service = static_cast<Service*>(self);
    Request request(message, path, query);
    service->dispatch(request);
    service->persist();
}

void Service::dispatch(Request& request) {
    if (request.path().starts_with("/control/")) {
        handleControl(request);
        return;
    }
    if (refusal_ == Refusal::Drop) {
        // The connection goes away without a byte of answer, as when the service's front end dies mid-request.
        if (GIOStream* stream = soup_server_message_steal_connection(request.message())) {
            g_io_stream_close(stream, nullptr, nullptr);
            g_object_unref(stream);
        }
        return;
    }
    requestLog_.push_back(logRecord(request));
    if (requestLog_.size() > kRequestLogLimit) requestLog_.pop_front();

    if (const auto redirect = redirects_.find({request.host(), request.path()}); redirect != redirects_.end()) {
        const std::string location = redirect->second;
        redirects_.erase(redirect);
        request.redirect(location);
        return;
    }
    if (cuts_.erase({request.host(), request.path()}) > 0) {
        cutShort(request);
        return;
    }
    if (const auto page = servedPages_.find({request.host(), request.path()}); page != servedPages_.end()) {
        const std::string name = page->second;
        servedPages_.erase(page);
        renderPage(request, name.c_str());
        return;
    }
    if (request.host() == state_.publicHost()) {
        handlePublicSite(request);
    } else if (state_.isInstance(request.host())) {
        handleInstance(request);
    } else {
        request.respond(SOUP_STATUS_MISDIRECTED_REQUEST, "text/plain; charset=utf-8",
                        "Aucun espace Velmóra ne répond à cette adresse.\n");
    }
}

void Service::cutShort(Request& request) {
    // The head promises more than follows: enough of a page that a browser starts showing it,
    // then the connection is closed.
    GIOStream* stream = soup_server_message_steal_connection(request.message());
    if (!stream) return;
    const std::string page =
        "<!doctype html><html lang=\"fr\"><meta charset=\"utf-8\"><title>Console</title>"
        "<body><h1>Console</h1><p>" +
        std::string(std::size_t{64} * 1024, '.');
    const std::string answer =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
        "Content-Length: " +
        std::to_string(page.size() * 4) + "\r\n\r\n" + page;
    g_output_stream_write_all(g_io_stream_get_output_stream(stream), answer.data(), answer.size(), nullptr, nullptr,
                              nullptr);
    g_io_stream_close(stream, nullptr, nullptr);
    g_object_unref(stream);
}

void Service::refuse(double seconds, Refusal mode, SoupServerMessage* trigger) {
    if (refusalTimer_) {
        g_source_remove(refusalTimer_);
        refusalTimer_ = 0;
    }
    if (seconds <= 0) {
        endRefusal();
        return;
    }
    refusal_ = mode;
    refusalEndsMs_ = nowMs() + static_cast<int64_t>(seconds * 1000.0);
    refusalTimer_ = g_timeout_add(
        static_cast<guint>(seconds * 1000.0),
        [](gpointer self) -> gboolean {
            auto* service = static_cast<Service*>(self);
            service->refusalTimer_ = 0;
            service->endRefusal();
            return G_SOURCE_REMOVE;
        },
        this);
    if (mode == Refusal::Closed) {
        // Close the listener only once the answer to the control request is out, then refuse connections: this
        // is what a stopped service looks like to a browser ("connection refused").
        g_signal_connect(trigger, "finished", G_CALLBACK(+[](SoupServerMessage*, gpointer self) {
                             g_idle_add(
                                 [](gpointer self) -> gboolean {
                                     auto* service = static_cast<Service*>(self);
                                     if (service->refusal_ == Refusal::Closed) soup_server_disconnect(service->server_);
                                     return G_SOURCE_REMOVE;
                                 },
                                 self);
                         }),
                         this);
    }
}

void Service::endRefusal() {
    const Refusal previous = refusal_;
    refusal_ = Refusal::None;
    refusalEndsMs_ = 0;
    if (previous != Refusal::Closed) return;
    if (auto failure = listen()) {
        std::fprintf(stderr, "velmora-service: %s\n", failure->c_str());
        std::fflush(stderr);
    }
}

void Service::setApiFault(ApiFault fault, std::string path) {
    apiFault_ = fault;
    apiFaultPath_ = std::move(path);
    if (fault != ApiFault::Hang) releaseHangingRequests();
}

namespace {

void onHangingFinished(SoupServerMessage* message, gpointer self) {
    // A request held by the "hang" fault is over without an answer; forget it.
    auto* hanging = static_cast<std::vector<SoupServerMessage*>*>(self);
    for (auto it = hanging->begin(); it != hanging->end(); ++it) {
        if (*it == message) {
            hanging->erase(it);
            g_signal_handlers_disconnect_by_data(message, self);
            g_object_unref(message);
            return;
        }
    }
}

}  // namespace

bool Service::applyApiFault(Request& request) {
    if (apiFault_ == ApiFault::None) return false;
    const std::string& path = request.path();
    const bool faultable =
        path == "/api/session" || path == "/api/admin/notification-inbox" || path == "/api/admin/options";
    if (!faultable || (!apiFaultPath_.empty() && apiFaultPath_ != path)) return false;
    switch (apiFault_) {
        case ApiFault::Malformed:
            request.respond(SOUP_STATUS_OK, "application/json; charset=utf-8", "{\"authenticated\":tru");
            return true;
        case ApiFault::ServerError:
            request.respondError(SOUP_STATUS_INTERNAL_SERVER_ERROR, "Erreur interne du service.");
            return true;
        case ApiFault::Hang:
            soup_server_message_pause(request.message());
            hanging_.push_back(SOUP_SERVER_MESSAGE(g_object_ref(request.message())));
            // A held request ends without our answer when its client or the listener goes away.
            g_signal_connect(request.message(), "finished", G_CALLBACK(onHangingFinished), &hanging_);
            g_signal_connect(request.message(), "disconnected", G_CALLBACK(onHangingFinished), &hanging_);
            return true;
        case ApiFault::None:
            break;
    }
    return false;
}

void Service::releaseHangingRequests() {
    std::vector<SoupServerMessage*> held;
    held.swap(hanging_);
    for (SoupServerMessage* message : held) {
        g_signal_handlers_disconnect_by_data(message, &hanging_);
        json::Object error = json::newObject();
        json_object_set_string_member(error.get(), "error", "Service momentanément indisponible.");
        const std::string body = json::stringify(json::objectNode(error.get()).get());
        soup_server_message_set_status(message, SOUP_STATUS_SERVICE_UNAVAILABLE, nullptr);
        soup_server_message_set_response(message, "application/json; charset=utf-8", SOUP_MEMORY_COPY, body.data(),
                                         body.size());
        soup_server_message_unpause(message);
        g_object_unref(message);
    }
}

std::string Service::origin(const std::string& host) const {
    const int defaultPort = secure() ? 443 : 80;
    std::string origin = std::string(secure() ? "https://" : "http://") + host;
    if (port_ != defaultPort) origin += ":" + std::to_string(port_);
    return origin;
}

std::string Service::pageConfig(const Request& request) const {
    json::Object config = json::newObject();
    const std::string& host = request.host();
    json_object_set_string_member(config.get(), "host", host.c_str());
    json_object_set_string_member(config.get(), "publicHost", state_.publicHost().c_str());
    json_object_set_string_member(config.get(), "publicOrigin", origin(state_.publicHost()).c_str());
    json_object_set_boolean_member(config.get(), "isInstance", state_.isInstance(host));
    JsonArray* instances = json_array_new();
    for (const auto& instance : state_.instanceHosts()) {
        JsonObject* item = json_object_new();
        json_object_set_string_member(item, "host", instance.c_str());
        json_object_set_string_member(item, "origin", origin(instance).c_str());
        json_array_add_object_element(instances, item);
    }
    json_object_set_array_member(config.get(), "instances", instances);
    const std::string console = state_.isInstance(host)          ? host
                                : state_.instanceHosts().empty() ? state_.publicHost()
                                                                 : state_.instanceHosts().front();
    json_object_set_string_member(config.get(), "consoleOrigin", origin(console).c_str());
    return scriptSafeJson(json::stringify(json::objectNode(config.get()).get()));
}

void Service::renderPage(Request& request, const char* page) {
    request.respond(SOUP_STATUS_OK, "text/html; charset=utf-8",
                    service::renderPage(page, {{"CONFIG", pageConfig(request)}}));
}

void Service::persist() {
    if (!dirty_ || options_.stateFile.empty()) return;
    dirty_ = false;
    const std::string text = json::stringify(state_.toJson().get());
    GError* error = nullptr;
    if (!g_file_set_contents(options_.stateFile.c_str(), text.data(), static_cast<gssize>(text.size()), &error)) {
        std::fprintf(stderr, "velmora-service: état non enregistré : %s\n", error->message);
        std::fflush(stderr);
        g_error_free(error);
    }
}

json::Object Service::logRecord(const Request& request) const {
    json::Object record = json::newObject();
    const int64_t now = nowMs();
    json_object_set_string_member(record.get(), "host", request.host().c_str());
    GUri* uri = soup_server_message_get_uri(request.message());
    json_object_set_string_member(record.get(), "scheme", uri ? g_uri_get_scheme(uri) : "");
    json_object_set_int_member(record.get(), "port", uri ? g_uri_get_port(uri) : -1);
    json_object_set_string_member(record.get(), "method", request.method().c_str());
    json_object_set_string_member(record.get(), "path", request.path().c_str());
    json_object_set_string_member(record.get(), "query", request.rawQuery().c_str());
    json_object_set_string_member(record.get(), "time", isoTimeMs(now).c_str());
    json_object_set_int_member(record.get(), "epoch_ms", now);
    return record;
}

}  // namespace service
