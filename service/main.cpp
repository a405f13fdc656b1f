// velmora-service: the stand-in for the hosted web service, for the demo and the end-to-end tests.
#include "options.h"
#include "service.h"
#include "state.h"
#include "text.h"

#include <glib-unix.h>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    auto parsed = service::parseOptions(arguments);
    if (auto* failure = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "velmora-service: %s\n", failure->c_str());
        std::fprintf(stderr,
                     "usage : velmora-service [--port N] [--cert FICHIER --key FICHIER [--http-port N] "
                     "[--other-https-port N]] [--public-host HÔTE] [--instance HÔTE]... [--listen 127.0.0.1] "
                     "[--state-file FICHIER] [--files DOSSIER]\n");
        return 2;
    }
    const auto& options = std::get<service::Options>(parsed);

    service::ServiceState state(options.publicHost, options.instanceHosts, service::nowMs());
    service::Service server(options, state);
    if (auto failure = server.start()) {
        std::fprintf(stderr, "velmora-service: %s\n", failure->c_str());
        return 1;
    }
    // The tests wait for exactly this line before they talk to the service.
    std::printf("ready %d\n", server.port());
    std::fflush(stdout);

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    auto quit = [](gpointer data) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(data));
        return G_SOURCE_CONTINUE;
    };
    g_unix_signal_add(SIGTERM, quit, loop);
    g_unix_signal_add(SIGINT, quit, loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    return 0;
}
