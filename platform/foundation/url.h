// Url: a URL reference split into its components exactly as written.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// One item of a query: the text before the first "=" is the name, the rest the value.
// Both are percent-decoded; "+" stays "+". An item without "=" has no value.
struct QueryItem {
    std::string name;
    std::optional<std::string> value;
    bool operator==(const QueryItem&) const = default;
};

// A URL reference (RFC 3986) kept as written: nothing is normalised, so the scheme and
// host keep their case, "https://h" has the empty path, and "/admin/" differs from "/admin".
// Absent components are nullopt; a present but empty component (a "?" with nothing after it)
// is the empty string.
class Url {
public:
    // Splits `text`; nullopt when it is not a URL reference (spaces, control characters,
    // characters outside RFC 3986 other than non-ASCII bytes, a malformed authority or port).
    static std::optional<Url> parse(std::string_view text);

    const std::optional<std::string>& scheme() const { return scheme_; }
    const std::optional<std::string>& user() const { return user_; }
    const std::optional<std::string>& password() const { return password_; }
    const std::optional<std::string>& host() const { return host_; }
    const std::optional<int>& port() const { return port_; }
    const std::string& path() const { return path_; }
    const std::optional<std::string>& query() const { return query_; }
    const std::optional<std::string>& fragment() const { return fragment_; }

    // The host, or the empty string when there is none.
    std::string hostOrEmpty() const { return host_.value_or(std::string()); }
    // The query split into items; empty when there is no query.
    std::vector<QueryItem> queryItems() const;
    // The first item named `name`, if any.
    std::optional<QueryItem> firstQueryItem(std::string_view name) const;

    // The same URL with another host, every other component kept as written.
    Url withHost(std::string host) const;
    // The text of the URL, rebuilt from its components (equal to the parsed text).
    std::string string() const;

    bool operator==(const Url&) const = default;

private:
    std::optional<std::string> scheme_;
    std::optional<std::string> user_;
    std::optional<std::string> password_;
    std::optional<std::string> host_;
    std::optional<int> port_;
    std::string portText_;  // as written, so that string() gives back the input
    std::string path_;
    std::optional<std::string> query_;
    std::optional<std::string> fragment_;
};

// Percent-decodes `text` ("%41" → "A"); nullopt when a "%" is not followed by two hex digits.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace foundation
