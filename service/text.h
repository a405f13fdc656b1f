// Small text helpers of the service: identifiers in links, times, host names, embedding JSON in pages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace service {

// Percent-encodes every byte except ASCII letters and digits as %XX with upper-case hex, the form the
// console uses for entry ids in its links ("notice:7" → "notice%3A7").
std::string percentEncodeId(std::string_view id);

// Formats milliseconds since the Unix epoch as an ISO 8601 UTC time with milliseconds ("2026-01-05T10:15:30.123Z").
std::string isoTimeMs(int64_t epochMs);

// Returns the wall-clock time in milliseconds since the Unix epoch.
int64_t nowMs();

// Returns the host of a Host header value without its port, lower-cased (host names are case-insensitive on the
// wire); an IPv6 literal keeps its brackets.
std::string hostWithoutPort(std::string_view header);

// Makes JSON text safe inside an HTML script element by escaping every "</" and the two JavaScript line separators.
std::string scriptSafeJson(std::string_view json);

// Returns a fresh random token of 32 lower-case hex digits, for sessions and sign-in links.
std::string randomToken();

}  // namespace service
