// The page bridge's dispatch of whatever a page may post: any handler name, any body, from the
// main frame or a sub-frame, from any origin. The input is JSON, one message or an array of
// them, each {"name", "mainFrame", "origin", "body"}; a number for the name or the origin
// picks one of the usual ones, so the engine reaches every branch without guessing names, and
// a string for the origin is a host over HTTPS. Text that is not JSON becomes one message
// whose body is that text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/console.h"
#include "platform/foundation/json_text.h"
#include "platform/foundation/url.h"

namespace {

using foundation::JsValue;
using fuzzing::require;

const char* const kNames[] = {"velmoraInstance", "velmoraNoticeRead", "velmoraMailRead", "velmoraUpdate",
                              "velmoraPrint"};
const platform::SecurityOrigin kOrigins[] = {
    {"https", fuzzing::kPublicHost, std::nullopt},
    {"https", fuzzing::kInstanceHost, std::nullopt},
    {"https", "cabinet.velmora.fr", std::nullopt},
    {"https", "autre-site.example", std::nullopt},
    {"", "", std::nullopt},
    {"http", fuzzing::kPublicHost, std::nullopt},
    {"http", fuzzing::kInstanceHost, std::nullopt},
    {"https", fuzzing::kInstanceHost, 8443},
    {"https", fuzzing::kPublicHost, 443},
    {"HTTPS", fuzzing::kPublicHost, std::nullopt},
};

// The number `value` holds, when it is an index into a table of `size` entries.
std::optional<std::size_t> indexOf(const JsValue* value, std::size_t size) {
    if (!value || !value->number()) return std::nullopt;
    const double n = *value->number();
    if (n < 0 || n >= static_cast<double>(size)) return std::nullopt;
    return static_cast<std::size_t>(n);
}

std::string nameOf(const JsValue* value) {
    if (value && value->string()) return *value->string();
    return kNames[indexOf(value, std::size(kNames)).value_or(0)];
}

platform::SecurityOrigin originOf(const JsValue* value) {
    if (value && value->string()) return {"https", *value->string(), std::nullopt};
    return kOrigins[indexOf(value, std::size(kOrigins)).value_or(1)];
}

// The origin of an instance page: HTTPS on the default port.
bool isSecure(const platform::SecurityOrigin& origin) {
    return origin.scheme == "https" && (!origin.port || *origin.port == 443);
}

platform::ScriptMessage messageOf(const JsValue& description) {
    platform::ScriptMessage message;
    message.name = nameOf(description.member("name"));
    message.origin = originOf(description.member("origin"));
    const JsValue* mainFrame = description.member("mainFrame");
    message.isMainFrame = !mainFrame || mainFrame->boolean() != false;
    if (const JsValue* body = description.member("body")) message.body = *body;
    return message;
}

std::vector<platform::ScriptMessage> messagesOf(std::string_view text) {
    const auto value = foundation::parseJsonText(text);
    if (!value) {
        platform::ScriptMessage message;
        message.name = text.empty() ? kNames[0] : kNames[static_cast<unsigned char>(text.front()) % std::size(kNames)];
        message.isMainFrame = true;
        message.origin = kOrigins[0];
        message.body = std::string(text);
        return {message};
    }
    std::vector<platform::ScriptMessage> messages;
    if (const auto* array = value->array()) {
        for (const auto& element : *array) messages.push_back(messageOf(element));
    } else {
        messages.push_back(messageOf(*value));
    }
    return messages;
}

// A host the sign-in page admits must be one the controller can turn back into exactly its
// console URL at the next launch.
void checkAdmittedHost(const std::string& host) {
    require(!host.empty(), "an admitted host is not empty");
    const auto console = foundation::Url::parse("https://" + host + "/admin");
    require(console && console->host() == host && console->path() == "/admin" && !console->port() && !console->user() &&
                !console->query() && !console->fragment(),
            "an admitted host makes exactly its console URL");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto messages = messagesOf(std::string_view(reinterpret_cast<const char*>(data), size));
    fuzzing::Console console;
    auto& fake = console.fake;

    for (const auto& message : messages) {
        const std::set<std::string> hostsBefore = console.controller.allowed();
        const std::size_t removalsBefore = fake.notifications.removals.size();
        const int printsBefore = fake.log.count("print.runModal(page)") + fake.log.count("print.runModal(pdf)");
        const int updatesBefore = fake.log.count("updater.checkForUpdates");

        console.controller.didReceiveScriptMessage(message);

        const std::set<std::string>& hosts = console.controller.allowed();
        const bool fromSignInPage =
            message.isMainFrame && isSecure(message.origin) && message.origin.host == fuzzing::kPublicHost;
        const bool fromConsole =
            message.isMainFrame && isSecure(message.origin) && hostsBefore.contains(message.origin.host);
        if (hosts != hostsBefore) {
            require(message.name == "velmoraInstance" && fromSignInPage, "only the sign-in page admits hosts");
            require(hosts.size() == hostsBefore.size() + 1, "one message admits one host");
            for (const auto& host : hosts)
                if (!hostsBefore.contains(host)) checkAdmittedHost(host);
            const auto stored = fake.defaults.stringArray("velmoraKnownHosts");
            require(stored && std::set<std::string>(stored->begin(), stored->end()) == hosts,
                    "the admitted hosts are remembered");
        }
        if (fake.notifications.removals.size() != removalsBefore)
            require(fromConsole && (message.name == "velmoraNoticeRead" || message.name == "velmoraMailRead"),
                    "only the console's read reports withdraw notices");
        const int prints = fake.log.count("print.runModal(page)") + fake.log.count("print.runModal(pdf)");
        require(prints == printsBefore + (fromConsole && message.name == "velmoraPrint" ? 1 : 0),
                "the console's print request prints once, nothing else prints");
        require(fake.log.count("updater.checkForUpdates") ==
                    updatesBefore + (fromConsole && message.name == "velmoraUpdate" ? 1 : 0),
                "only the console asks for an update check");
    }
    return 0;
}
