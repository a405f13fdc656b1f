// Messages the page posts to the application. The frame facts (main frame, origin) come from
// the web engine; a check that fails ends the handling silently, and a body of
// the wrong shape is ignored as a whole.
#include "app/velmora.h"

namespace velmora {

namespace {

// An instance's base URL as the sign-in page reports it: "https://" + host, with at most a
// "/" path, and nothing else (no user, port — not even 443 —, query or fragment).
std::optional<std::string> instanceHostOf(const foundation::JsValue& body) {
    const std::string* text = body.string();
    if (!text) return std::nullopt;
    const auto url = foundation::Url::parse(*text);
    if (!url || url->scheme() != "https" || !url->host() || url->host()->empty()) return std::nullopt;
    if (url->user() || url->password() || url->port() || url->query() || url->fragment()) return std::nullopt;
    if (!url->path().empty() && url->path() != "/") return std::nullopt;
    // An empty port (":" with no digits) is a port written all the same.
    if (*text != "https://" + *url->host() + url->path()) return std::nullopt;
    return *url->host();
}

std::optional<std::vector<std::string>> noticeIdsOf(const foundation::JsValue& body) {
    const foundation::JsValue* ids = body.member("ids");
    if (!ids || !ids->array()) return std::nullopt;
    std::vector<std::string> result;
    for (const auto& id : *ids->array()) {
        if (!id.string()) return std::nullopt;
        result.push_back(*id.string());
    }
    return result;
}

}  // namespace

void Velmora::didReceiveScriptMessage(const platform::ScriptMessage& message) {
    // Every handler: the main frame of an instance page over HTTPS on the default port.
    if (!message.isMainFrame || !isInstanceOrigin(message.origin)) return;
    if (message.name == "velmoraInstance") {
        // Only the public sign-in site may add hosts; customer instances cannot.
        if (message.origin.host != activeInstanceHost) return;
        if (const auto host = instanceHostOf(message.body)) admitHost(*host);
        return;
    }
    if (message.name == "velmoraNoticeRead") {
        if (const auto ids = noticeIdsOf(message.body)) clearSharedNotices(*ids, message.origin.host);
    } else if (message.name == "velmoraMailRead") {
        clearReadMailNotice(message);
    } else if (message.name == "velmoraUpdate") {
        updaterController->checkForUpdates();
    } else if (message.name == "velmoraPrint") {
        print(message.body);
    }
}

}  // namespace velmora
