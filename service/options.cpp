#include "options.h"

#include <gio/gio.h>

#include <algorithm>

namespace service {

namespace {

std::string joinFailure(const char* what, const std::string& value) { return std::string(what) + " : " + value; }

}  // namespace

bool isPlainHostName(const std::string& host) {
    if (host.empty() || host.size() > 253 || host.front() == '.' || host.back() == '.') return false;
    if (host.find("..") != std::string::npos) return false;
    return std::all_of(host.begin(), host.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'; });
}

std::variant<Options, std::string> parseOptions(const std::vector<std::string>& arguments) {
    gint port = 8443;
    gint httpPort = 0;
    gint otherHttpsPort = 0;
    gchar* cert = nullptr;
    gchar* key = nullptr;
    gchar* publicHost = nullptr;
    gchar** instances = nullptr;
    gchar* listen = nullptr;
    gchar* stateFile = nullptr;
    gchar* updateFiles = nullptr;
    GOptionEntry entries[] = {
        {"port", 0, 0, G_OPTION_ARG_INT, &port, "Port d’écoute (0 : un port libre)", "N"},
        {"http-port", 0, 0, G_OPTION_ARG_INT, &httpPort, "Port d’écoute en HTTP simple, à côté du HTTPS", "N"},
        {"other-https-port", 0, 0, G_OPTION_ARG_INT, &otherHttpsPort, "Autre port d’écoute en HTTPS", "N"},
        {"cert", 0, 0, G_OPTION_ARG_FILENAME, &cert, "Certificat du serveur (PEM)", "FICHIER"},
        {"key", 0, 0, G_OPTION_ARG_FILENAME, &key, "Clé privée du serveur (PEM)", "FICHIER"},
        {"public-host", 0, 0, G_OPTION_ARG_STRING, &publicHost, "Hôte du site public", "HÔTE"},
        {"instance", 0, 0, G_OPTION_ARG_STRING_ARRAY, &instances, "Hôte d’un espace client (répétable)", "HÔTE"},
        {"listen", 0, 0, G_OPTION_ARG_STRING, &listen, "Adresse de bouclage d’écoute", "ADRESSE"},
        {"state-file", 0, 0, G_OPTION_ARG_FILENAME, &stateFile, "Fichier d’état conservé entre deux lancements",
         "FICHIER"},
        {"files", 0, 0, G_OPTION_ARG_FILENAME, &updateFiles, "Dossier servi sous /mises-a-jour/ du site public",
         "DOSSIER"},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };

    // GOption wants a mutable argv with a program name in front.
    std::vector<std::string> copies{"velmora-service"};
    copies.insert(copies.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& s : copies) argv.push_back(s.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(copies.size());
    char** argvPointer = argv.data();

    GOptionContext* context = g_option_context_new("— service de démonstration Velmóra");
    g_option_context_set_help_enabled(context, FALSE);
    g_option_context_add_main_entries(context, entries, nullptr);
    GError* error = nullptr;
    const bool parsed = g_option_context_parse(context, &argc, &argvPointer, &error);
    g_option_context_free(context);

    auto take = [](gchar* text) {
        std::string value = text ? text : "";
        g_free(text);
        return value;
    };
    Options options;
    options.port = port;
    options.httpPort = httpPort;
    options.otherHttpsPort = otherHttpsPort;
    options.certFile = take(cert);
    options.keyFile = take(key);
    if (std::string host = take(publicHost); !host.empty()) options.publicHost = host;
    if (instances && instances[0]) {
        options.instanceHosts.clear();
        for (gchar** p = instances; *p; ++p) options.instanceHosts.emplace_back(*p);
    }
    g_strfreev(instances);
    if (std::string address = take(listen); !address.empty()) options.listenAddress = address;
    options.stateFile = take(stateFile);
    options.updateFilesDir = take(updateFiles);

    if (!parsed) {
        std::string message = error ? error->message : "arguments illisibles";
        g_clear_error(&error);
        return message;
    }
    if (argc > 1) return joinFailure("Argument inattendu", argvPointer[1]);
    if (options.port < 0 || options.port > 65535) return joinFailure("Port invalide", std::to_string(options.port));
    for (const int extra : {options.httpPort, options.otherHttpsPort}) {
        if (extra < 0 || extra > 65535 || (extra != 0 && extra == options.port))
            return joinFailure("Port supplémentaire invalide", std::to_string(extra));
        if (extra != 0 && options.certFile.empty())
            return std::string("--http-port et --other-https-port vont avec --cert et --key");
    }
    if (options.httpPort != 0 && options.httpPort == options.otherHttpsPort)
        return joinFailure("Port supplémentaire invalide", std::to_string(options.httpPort));
    if (options.certFile.empty() != options.keyFile.empty()) return std::string("--cert et --key vont ensemble");
    if (!isPlainHostName(options.publicHost)) return joinFailure("Hôte public invalide", options.publicHost);
    for (const auto& host : options.instanceHosts) {
        if (!isPlainHostName(host)) return joinFailure("Hôte d’espace invalide", host);
        if (host == options.publicHost) return joinFailure("Un espace ne peut pas être l’hôte public", host);
    }
    GInetAddress* address = g_inet_address_new_from_string(options.listenAddress.c_str());
    const bool loopback = address && g_inet_address_get_is_loopback(address);
    if (address) g_object_unref(address);
    // Everything the tests start listens on loopback only; the service must never be reachable from outside.
    if (!loopback) return joinFailure("Seule une adresse de bouclage est acceptée", options.listenAddress);
    return options;
}

}  // namespace service
