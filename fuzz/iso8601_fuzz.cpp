// Internet date-times from any bytes, through both parsers: at most one of them accepts a
// text, and a text with a fraction means its whole seconds plus that fraction.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/require.h"
#include "platform/foundation/iso8601.h"

using fuzzing::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto withFraction = foundation::parseInternetDateTimeWithFractionalSeconds(text);
    const auto withoutFraction = foundation::parseInternetDateTime(text);
    require(!(withFraction && withoutFraction), "a fraction is either required or refused");
    if (withoutFraction) require(std::isfinite(*withoutFraction), "a date-time is a finite number of seconds");
    if (!withFraction) return 0;
    require(std::isfinite(*withFraction), "a date-time is a finite number of seconds");

    // "YYYY-MM-DDThh:mm:ss" is 19 characters; the fraction runs from there to the zone.
    require(text.size() > 20 && text[19] == '.', "the fraction follows the seconds");
    const std::size_t zone = text.find_first_not_of("0123456789", 20);
    require(zone != std::string_view::npos, "a zone follows the fraction");
    const std::string whole = std::string(text.substr(0, 19)) + std::string(text.substr(zone));
    const auto seconds = foundation::parseInternetDateTime(whole);
    require(seconds.has_value(), "without its fraction the text is a date-time of the other form");
    const double fraction = *withFraction - *seconds;
    // A double of epoch seconds keeps about a microsecond; allow for that rounding.
    require(fraction > -1e-3 && fraction < 1.0 + 1e-3, "the fraction adds less than a second");
    return 0;
}
