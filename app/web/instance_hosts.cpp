// The instance host registry: which hosts are instances of the service, what is remembered
// between runs, and which URLs count as instance URLs.
#include "app/velmora.h"

namespace velmora {

namespace {
constexpr const char* kKnownHostsKey = "velmoraKnownHosts";
constexpr const char* kInstanceHostKey = "velmoraInstanceHost";
constexpr const char* kScheme = "https";
constexpr int kDefaultPort = 443;
constexpr const char* kConsolePath = "/admin";
constexpr const char* kSignInPath = "/connexion.html";
}  // namespace

std::optional<foundation::Url> Velmora::currentInstanceURL(const foundation::Url& url) const {
    // Every comparison is exact: "HTTPS" is not "https", and hosts are never case-folded.
    if (url.scheme() != kScheme) return std::nullopt;
    if (url.user() || url.password()) return std::nullopt;
    if (!url.host()) return std::nullopt;
    if (url.port() && *url.port() != kDefaultPort) return std::nullopt;
    // Checked before the allowed set: a retired host moves to the public site even if allowed.
    if (retiredInstanceHosts.contains(*url.host())) return url.withHost(activeInstanceHost);
    if (allowedInstanceHosts.contains(*url.host())) return url;
    return std::nullopt;
}

bool Velmora::isInstanceOrigin(const platform::SecurityOrigin& origin) const {
    // Anyone on the network can answer a plain-HTTP load, or one on another port, under any
    // host name: only HTTPS on the default port proves the host, as for instance URLs.
    if (origin.scheme != kScheme) return false;
    if (origin.port && *origin.port != kDefaultPort) return false;
    return allowedInstanceHosts.contains(origin.host);
}

bool Velmora::isInstancePage(const foundation::Url& url) const {
    if (url.user() || url.password()) return false;
    return isInstanceOrigin({url.scheme().value_or(std::string()), url.hostOrEmpty(), url.port()});
}

void Velmora::restoreKnownHosts() {
    if (const auto known = platform_.defaults.stringArray(kKnownHostsKey))
        allowedInstanceHosts.insert(known->begin(), known->end());
}

foundation::Url Velmora::signInURL() const {
    // The public host is a plain host name fixed at build time, so this always parses.
    return *foundation::Url::parse(std::string(kScheme) + "://" + activeInstanceHost + kSignInPath);
}

foundation::Url Velmora::startURL() const {
    const std::string stored = platform_.defaults.string(kInstanceHostKey).value_or(std::string());
    const bool usable = allowedInstanceHosts.contains(stored) && !retiredInstanceHosts.contains(stored);
    const std::string host = usable ? stored : activeInstanceHost;
    if (host == activeInstanceHost) return signInURL();
    // A stored host holding characters a host cannot hold ("a/b", "a b") must not turn into
    // some other URL: only a URL with exactly this host and the console path will do.
    const auto url = foundation::Url::parse(std::string(kScheme) + "://" + host + kConsolePath);
    if (host.empty() || !url || url->host() != host || url->path() != kConsolePath || url->port() || url->user() ||
        url->query() || url->fragment())
        return signInURL();
    return *url;
}

void Velmora::admitHost(const std::string& host) {
    allowedInstanceHosts.insert(host);
    // The whole set every time, also when the host was already known.
    platform_.defaults.setStringArray(
        kKnownHostsKey, std::vector<std::string>(allowedInstanceHosts.begin(), allowedInstanceHosts.end()));
}

void Velmora::recordConsoleHost(const foundation::Url& url) {
    // The console remembered here opens at every launch, so it must have been the real one.
    if (url.path() == kConsolePath && isInstancePage(url))
        platform_.defaults.setString(kInstanceHostKey, url.hostOrEmpty());
}

}  // namespace velmora
