// The command line of velmora-service.
#pragma once

#include <string>
#include <variant>
#include <vector>

namespace service {

struct Options {
    int port = 8443;                // 0 picks a free port
    int httpPort = 0;               // beside a TLS listener, a plain-HTTP one on this port; 0: none
    int otherHttpsPort = 0;         // beside the TLS listener, another one on this port; 0: none
    std::string certFile, keyFile;  // both or neither; neither serves plain HTTP for debugging
    std::string publicHost = "velmora.fr";
    std::vector<std::string> instanceHosts{"salon.velmora.fr"};
    std::string listenAddress = "127.0.0.1";
    std::string stateFile;       // empty: state lives in memory only
    std::string updateFilesDir;  // served under /mises-a-jour/ on the public host; empty: none
};

// Parses the arguments that follow the program name; returns the options or a French error text.
std::variant<Options, std::string> parseOptions(const std::vector<std::string>& arguments);

// Returns whether the text is a usable host name: lower-case letters, digits, hyphens and dots, no empty label.
bool isPlainHostName(const std::string& host);

}  // namespace service
