// Strict ISO 8601 internet date-time parsing.
#pragma once

#include <optional>
#include <string_view>

namespace foundation {

// Parses "YYYY-MM-DDThh:mm:ss.fff" followed by "Z", "±hh:mm" or "±hhmm"; the fraction (one digit or
// more) is required. Returns seconds since the Unix epoch.
std::optional<double> parseInternetDateTimeWithFractionalSeconds(std::string_view text);

// Parses "YYYY-MM-DDThh:mm:ss" followed by "Z", "±hh:mm" or "±hhmm"; a fraction is refused.
std::optional<double> parseInternetDateTime(std::string_view text);

}  // namespace foundation
