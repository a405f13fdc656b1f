// The page bridge's dispatch of whatever a page may post: any handler name, any body, from the
// main frame or a sub-frame, from any origin. The input is JSON, one message or an array of
// them, each {"name", "mainFrame", "origin", "body"}; a number for the name or the origin
// picks one of the usual ones, so the engine reaches every branch without guessing names.
// Text that is not JSON becomes one message whose body is that text.
#include <cstddef>
#include <cstdint>
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
const char* const kOrigins[] = {fuzzing::kPublicHost, fuzzing::kInstanceHost, "cabinet.velmora.fr",
                                "autre-site.example", ""};

template <std::size_t N>
std::string pick(const JsValue* value, const char* const (&choices)[N], const char* fallback) {
    if (value && value->string()) return *value->string();
    if (value && value->number()) {
        const double n = *value->number();
        if (n >= 0 && n < static_cast<double>(N)) return choices[static_cast<std::size_t>(n)];
    }
    return fallback;
}

platform::ScriptMessage messageOf(const JsValue& description) {
    platform::ScriptMessage message;
    message.name = pick(description.member("name"), kNames, kNames[0]);
    message.originHost = pick(description.member("origin"), kOrigins, fuzzing::kInstanceHost);
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
        message.originHost = fuzzing::kPublicHost;
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
        const bool fromSignInPage = message.isMainFrame && message.originHost == fuzzing::kPublicHost;
        const bool fromConsole = message.isMainFrame && hostsBefore.contains(message.originHost);
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
