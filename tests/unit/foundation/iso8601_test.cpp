#include "platform/foundation/iso8601.h"

#include <gtest/gtest.h>

#include <optional>

namespace foundation {
namespace {

using std::nullopt;

// Seconds since the epoch of 2025-03-01T10:15:30Z.
constexpr double kSample = 1740824130;

struct DateCase {
    const char* behaviour;
    const char* text;
    std::optional<double> plain;       // parseInternetDateTime
    std::optional<double> fractional;  // parseInternetDateTimeWithFractionalSeconds
};

const DateCase kDateCases[] = {
    // Which variant takes which text.
    {"whole seconds in UTC", "2025-03-01T10:15:30Z", kSample, nullopt},
    {"milliseconds in UTC", "2025-03-01T10:15:30.123Z", nullopt, kSample + 0.123},
    {"one fraction digit", "2025-03-01T10:15:30.5Z", nullopt, kSample + 0.5},
    {"many fraction digits", "2025-03-01T10:15:30.250000000000Z", nullopt, kSample + 0.25},
    {"fraction longer than any integer type", "2025-03-01T10:15:30.1234567890123456789012345Z", nullopt,
     kSample + 0.123456789},
    {"point without fraction digits", "2025-03-01T10:15:30.Z", nullopt, nullopt},
    {"comma as decimal sign", "2025-03-01T10:15:30,5Z", nullopt, nullopt},

    // Zones.
    {"positive offset is east of UTC", "2025-03-01T10:15:30+01:00", kSample - 3600, nullopt},
    {"negative offset is west of UTC", "2025-03-01T10:15:30-02:30", kSample + 9000, nullopt},
    {"offset with a fraction", "2025-03-01T10:15:30.5+01:00", nullopt, kSample - 3600 + 0.5},
    {"zero offset equals Z", "2025-03-01T10:15:30+00:00", kSample, nullopt},
    {"offset moves across midnight", "2025-03-01T00:30:00+01:00", 1740785400, nullopt},
    {"largest offset", "2025-03-01T10:15:30+23:59", kSample - 86340, nullopt},
    {"no zone", "2025-03-01T10:15:30", nullopt, nullopt},
    {"no zone after a fraction", "2025-03-01T10:15:30.5", nullopt, nullopt},
    {"offset without colon", "2025-03-01T10:15:30+0100", nullopt, nullopt},
    {"offset with hours only", "2025-03-01T10:15:30+01", nullopt, nullopt},
    {"offset hour 24", "2025-03-01T10:15:30+24:00", nullopt, nullopt},
    {"offset minute 60", "2025-03-01T10:15:30+01:60", nullopt, nullopt},
    {"lower-case z", "2025-03-01T10:15:30z", nullopt, nullopt},
    {"zone name", "2025-03-01T10:15:30UTC", nullopt, nullopt},

    // Layout.
    {"blank instead of T", "2025-03-01 10:15:30Z", nullopt, nullopt},
    {"lower-case t", "2025-03-01t10:15:30Z", nullopt, nullopt},
    {"date only", "2025-03-01", nullopt, nullopt},
    {"missing seconds", "2025-03-01T10:15Z", nullopt, nullopt},
    {"basic format without separators", "20250301T101530Z", nullopt, nullopt},
    {"one-digit month", "2025-3-01T10:15:30Z", nullopt, nullopt},
    {"five-digit year", "12025-03-01T10:15:30Z", nullopt, nullopt},
    {"leading blank", " 2025-03-01T10:15:30Z", nullopt, nullopt},
    {"trailing blank", "2025-03-01T10:15:30Z ", nullopt, nullopt},
    {"text after the zone", "2025-03-01T10:15:30Zjunk", nullopt, nullopt},
    {"sign before the year", "+2025-03-01T10:15:30Z", nullopt, nullopt},
    {"empty text", "", nullopt, nullopt},

    // Ranges.
    {"leap day of a leap year", "2024-02-29T00:00:00Z", 1709164800, nullopt},
    {"leap day of a common year", "2023-02-29T00:00:00Z", nullopt, nullopt},
    {"leap day of a century year", "1900-02-29T00:00:00Z", nullopt, nullopt},
    {"leap day of a year divisible by 400", "2000-02-29T00:00:00Z", 951782400, nullopt},
    {"day 31 of a 30-day month", "2025-04-31T00:00:00Z", nullopt, nullopt},
    {"day 31 of a 31-day month", "2025-12-31T23:59:59Z", 1767225599, nullopt},
    {"day zero", "2025-03-00T00:00:00Z", nullopt, nullopt},
    {"month zero", "2025-00-01T00:00:00Z", nullopt, nullopt},
    {"month 13", "2025-13-01T00:00:00Z", nullopt, nullopt},
    {"hour 24", "2025-03-01T24:00:00Z", nullopt, nullopt},
    {"minute 60", "2025-03-01T10:60:00Z", nullopt, nullopt},
    {"leap second", "2016-12-31T23:59:60Z", nullopt, nullopt},
    {"leap second with a fraction", "2016-12-31T23:59:60.5Z", nullopt, nullopt},

    // Known points in time.
    {"epoch", "1970-01-01T00:00:00Z", 0, nullopt},
    {"epoch with a fraction", "1970-01-01T00:00:00.000Z", nullopt, 0},
    {"start of 2000", "2000-01-01T00:00:00Z", 946684800, nullopt},
    {"second before the epoch", "1969-12-31T23:59:59Z", -1, nullopt},
    {"epoch written with an offset", "1970-01-01T01:00:00+01:00", 0, nullopt},
    {"past the 32-bit limit", "2038-01-19T03:14:08Z", 2147483648.0, nullopt},
    {"first day of the era", "0001-01-01T00:00:00Z", -62135596800.0, nullopt},
    {"last second of year 9999", "9999-12-31T23:59:59Z", 253402300799.0, nullopt},
};

TEST(InternetDateTime, ParsesExactlyTheStrictForms) {
    for (const auto& c : kDateCases) {
        SCOPED_TRACE(c.behaviour);
        const auto plain = parseInternetDateTime(c.text);
        const auto fractional = parseInternetDateTimeWithFractionalSeconds(c.text);
        ASSERT_EQ(plain.has_value(), c.plain.has_value()) << c.text;
        ASSERT_EQ(fractional.has_value(), c.fractional.has_value()) << c.text;
        if (c.plain) {
            EXPECT_DOUBLE_EQ(*plain, *c.plain);
        }
        if (c.fractional) {
            EXPECT_DOUBLE_EQ(*fractional, *c.fractional);
        }
    }
}

}  // namespace
}  // namespace foundation
