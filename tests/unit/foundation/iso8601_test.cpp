#include "platform/foundation/iso8601.h"

#include <gtest/gtest.h>

#include <optional>

namespace foundation {
namespace {

using std::nullopt;

constexpr double kSample = 1740824130;  // 2025-03-01T10:15:30Z

TEST(InternetDateTime, EachVariantTakesOnlyItsOwnForm) {
    const struct {
        const char* text;
        std::optional<double> plain;       // parseInternetDateTime
        std::optional<double> fractional;  // parseInternetDateTimeWithFractionalSeconds
    } cases[] = {
        {"2025-03-01T10:15:30Z", kSample, nullopt},
        {"2025-03-01T10:15:30.123Z", nullopt, kSample + 0.123},
        {"2025-03-01T10:15:30.5Z", nullopt, kSample + 0.5},
        {"2025-03-01T10:15:30.1234567890123456789012345Z", nullopt, kSample + 0.123456789},  // beyond any integer
        {"2025-03-01T10:15:30+01:00", kSample - 3600, nullopt},                              // east of UTC
        {"2025-03-01T10:15:30-02:30", kSample + 9000, nullopt},
        {"2025-03-01T10:15:30.5+01:00", nullopt, kSample - 3600 + 0.5},
        {"2016-10-08T00:00:00+0600", 1475863200, nullopt},  // a zone without its colon
        {"2025-03-01T10:15:30.5-0230", nullopt, kSample + 9000 + 0.5},
        {"2025-03-01T10:15:30+00:00", kSample, nullopt},
        {"2025-03-01T00:30:00+01:00", 1740785400, nullopt},  // across midnight
        {"2025-03-01T10:15:30+23:59", kSample - 86340, nullopt},
        {"2024-02-29T00:00:00Z", 1709164800, nullopt},
        {"2000-02-29T00:00:00Z", 951782400, nullopt},  // divisible by 400
        {"2025-12-31T23:59:59Z", 1767225599, nullopt},
        {"1970-01-01T00:00:00Z", 0, nullopt},
        {"1970-01-01T00:00:00.000Z", nullopt, 0},
        {"1969-12-31T23:59:59Z", -1, nullopt},
        {"1970-01-01T01:00:00+01:00", 0, nullopt},
        {"2038-01-19T03:14:08Z", 2147483648.0, nullopt},  // past the 32-bit limit
        {"0001-01-01T00:00:00Z", -62135596800.0, nullopt},
        {"9999-12-31T23:59:59Z", 253402300799.0, nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto plain = parseInternetDateTime(c.text);
        const auto fractional = parseInternetDateTimeWithFractionalSeconds(c.text);
        ASSERT_EQ(plain.has_value(), c.plain.has_value());
        ASSERT_EQ(fractional.has_value(), c.fractional.has_value());
        if (c.plain) {
            EXPECT_DOUBLE_EQ(*plain, *c.plain);
        }
        if (c.fractional) {
            EXPECT_DOUBLE_EQ(*fractional, *c.fractional);
        }
    }
}

TEST(InternetDateTime, BothVariantsRefuseLooseFormsAndImpossibleDates) {
    for (const char* text :
         {// Fractions and zones.
          "2025-03-01T10:15:30.Z", "2025-03-01T10:15:30,5Z", "2025-03-01T10:15:30", "2025-03-01T10:15:30.5",
          "2025-03-01T10:15:30+01", "2025-03-01T10:15:30+010", "2025-03-01T10:15:30+01000", "2025-03-01T10:15:30+01:0",
          "2025-03-01T10:15:30+01::00", "2025-03-01T10:15:30+2400", "2025-03-01T10:15:30+24:00",
          "2025-03-01T10:15:30+01:60", "2025-03-01T10:15:30z", "2025-03-01T10:15:30UTC",
          // Layout.
          "2025-03-01 10:15:30Z", "2025-03-01t10:15:30Z", "2025-03-01", "2025-03-01T10:15Z", "20250301T101530Z",
          "2025-3-01T10:15:30Z", "12025-03-01T10:15:30Z", " 2025-03-01T10:15:30Z", "2025-03-01T10:15:30Z ",
          "2025-03-01T10:15:30Zjunk", "+2025-03-01T10:15:30Z", "",
          // Ranges: leap days, month lengths, hours, minutes and leap seconds.
          "2023-02-29T00:00:00Z", "1900-02-29T00:00:00Z", "2025-04-31T00:00:00Z", "2025-03-00T00:00:00Z",
          "2025-00-01T00:00:00Z", "2025-13-01T00:00:00Z", "2025-03-01T24:00:00Z", "2025-03-01T10:60:00Z",
          "2016-12-31T23:59:60Z", "2016-12-31T23:59:60.5Z"}) {
        EXPECT_FALSE(parseInternetDateTime(text).has_value()) << text;
        EXPECT_FALSE(parseInternetDateTimeWithFractionalSeconds(text).has_value()) << text;
    }
}

}  // namespace
}  // namespace foundation
