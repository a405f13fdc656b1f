#include "platform/foundation/url.h"

#include <algorithm>
#include <cstddef>
#include <utility>

// The splitter is written here rather than taken from GLib: GUri normalises (it lowercases the
// scheme, for one), and the controller needs every component exactly as the page wrote it.
namespace foundation {

namespace {

bool isAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool isUnreserved(char c) { return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~'; }

bool isSubDelim(char c) { return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos; }

bool isGenDelim(char c) { return std::string_view(":/?#[]@").find(c) != std::string_view::npos; }

// Bytes of 0x80 and above are let through unchecked so that UTF-8 text written directly in
// a link (an internationalised path or host) still parses; everything ASCII must be a
// character RFC 3986 allows somewhere in a reference, and "%" must start a full escape.
bool hasOnlyReferenceCharacters(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (static_cast<unsigned char>(c) >= 0x80 || isUnreserved(c) || isSubDelim(c) || isGenDelim(c)) {
            continue;
        }
        if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            i += 2;
            continue;
        }
        return false;
    }
    return true;
}

bool isScheme(std::string_view text) {
    if (text.empty() || !isAlpha(text.front())) {
        return false;
    }
    return std::ranges::all_of(text,
                               [](char c) { return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.'; });
}

// The inside of "[...]". Only IPv6 literals (with an optional zone) are expected there; the
// character set is that of RFC 3986's IP-literal, and a ":" is required because string()
// decides whether to put the brackets back by looking for one.
bool isIpLiteral(std::string_view text) {
    if (text.find(':') == std::string_view::npos) {
        return false;
    }
    return std::ranges::all_of(text, [](char c) { return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '%'; });
}

bool isRegisteredName(std::string_view text) { return std::ranges::none_of(text, isGenDelim); }

// Digits only, at most 65535. The empty text is accepted and means "no port".
bool parsePort(std::string_view text, std::optional<int>& port) {
    if (text.empty()) {
        port.reset();
        return true;
    }
    int value = 0;
    for (char c : text) {
        if (!isDigit(c)) {
            return false;
        }
        value = value * 10 + (c - '0');
        if (value > 65535) {  // checked at every digit, so long runs cannot overflow
            return false;
        }
    }
    port = value;
    return true;
}

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
    // The empty text is the empty relative reference (RFC 3986 allows it: it names the
    // current document). It parses, with no scheme and the empty path.
    if (!hasOnlyReferenceCharacters(text)) {
        return std::nullopt;
    }
    Url url;
    std::string_view rest = text;

    // Only a colon before any "/", "?" or "#" can end a scheme, and only when what precedes
    // it has the scheme's shape; "/a:b" or "1x:y" are scheme-less references.
    const std::size_t colon = rest.find(':');
    if (colon != std::string_view::npos && isScheme(rest.substr(0, colon))) {
        url.scheme_ = std::string(rest.substr(0, colon));
        rest.remove_prefix(colon + 1);
    }

    const std::size_t fragmentStart = rest.find('#');
    if (fragmentStart != std::string_view::npos) {
        url.fragment_ = std::string(rest.substr(fragmentStart + 1));
        rest = rest.substr(0, fragmentStart);
    }
    const std::size_t queryStart = rest.find('?');
    if (queryStart != std::string_view::npos) {
        url.query_ = std::string(rest.substr(queryStart + 1));
        rest = rest.substr(0, queryStart);
    }

    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t authorityEnd = rest.find('/');
        std::string_view authority = rest.substr(0, authorityEnd);
        rest = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);

        const std::size_t at = authority.rfind('@');
        if (at != std::string_view::npos) {
            const std::string_view userinfo = authority.substr(0, at);
            const std::size_t split = userinfo.find(':');
            url.user_ = std::string(userinfo.substr(0, split));
            if (split != std::string_view::npos) {
                url.password_ = std::string(userinfo.substr(split + 1));
            }
            authority.remove_prefix(at + 1);
        }

        std::string_view portText;
        bool hasPortText = false;
        if (authority.starts_with('[')) {
            const std::size_t close = authority.find(']');
            if (close == std::string_view::npos || !isIpLiteral(authority.substr(1, close - 1))) {
                return std::nullopt;
            }
            url.host_ = std::string(authority.substr(1, close - 1));
            const std::string_view after = authority.substr(close + 1);
            if (!after.empty()) {
                if (after.front() != ':') {
                    return std::nullopt;
                }
                hasPortText = true;
                portText = after.substr(1);
            }
        } else {
            const std::size_t portColon = authority.find(':');
            const std::string_view host = authority.substr(0, portColon);
            if (!isRegisteredName(host)) {
                return std::nullopt;
            }
            url.host_ = std::string(host);
            if (portColon != std::string_view::npos) {
                hasPortText = true;
                portText = authority.substr(portColon + 1);
            }
        }
        if (!parsePort(portText, url.port_)) {
            return std::nullopt;
        }
        // Kept with its colon, so that "h:" (a colon and no port) rebuilds as written
        // while "h" stays without one.
        if (hasPortText) {
            url.portText_ = ":" + std::string(portText);
        }
    }

    url.path_ = std::string(rest);
    return url;
}

std::vector<QueryItem> Url::queryItems() const {
    std::vector<QueryItem> items;
    if (!query_ || query_->empty()) {
        return items;
    }
    const std::string_view query = *query_;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = query.find('&', start);
        const std::string_view raw =
            query.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        const std::size_t equals = raw.find('=');
        const std::string_view rawName = raw.substr(0, equals);
        std::optional<std::string_view> rawValue;
        if (equals != std::string_view::npos) {
            rawValue = raw.substr(equals + 1);
        }

        QueryItem item;
        auto name = percentDecode(rawName);
        auto value = rawValue ? percentDecode(*rawValue) : std::optional<std::string>();
        if (name && (!rawValue || value)) {
            item.name = std::move(*name);
            item.value = std::move(value);
        } else {
            // Undecodable escapes: the item is still reported, with its text untouched.
            item.name = std::string(rawName);
            if (rawValue) {
                item.value = std::string(*rawValue);
            }
        }
        items.push_back(std::move(item));

        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return items;
}

std::optional<QueryItem> Url::firstQueryItem(std::string_view name) const {
    for (auto& item : queryItems()) {
        if (item.name == name) {
            return std::move(item);
        }
    }
    return std::nullopt;
}

Url Url::withHost(std::string host) const {
    Url copy = *this;
    copy.host_ = std::move(host);
    return copy;
}

std::string Url::string() const {
    std::string out;
    if (scheme_) {
        out += *scheme_;
        out += ':';
    }
    if (host_) {
        out += "//";
        if (user_) {
            out += *user_;
            if (password_) {
                out += ':';
                out += *password_;
            }
            out += '@';
        }
        // A registered name never contains ":", so a host that does is an IPv6 literal.
        if (host_->find(':') != std::string::npos) {
            out += '[';
            out += *host_;
            out += ']';
        } else {
            out += *host_;
        }
        out += portText_;
    }
    out += path_;
    if (query_) {
        out += '?';
        out += *query_;
    }
    if (fragment_) {
        out += '#';
        out += *fragment_;
    }
    return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
        i += 2;
    }
    return out;
}

}  // namespace foundation
