#include "platform/foundation/iso8601.h"

#include <cstddef>
#include <cstdint>

// A parser of its own rather than g_date_time_new_from_iso8601: GLib takes many more forms
// (week dates, ordinal dates, a blank instead of "T", missing seconds, a local time without
// zone), and the dates this system reads must be in exactly one form.
namespace foundation {

namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ == text_.size(); }

    bool take(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    // Exactly `count` ASCII digits.
    bool number(int count, int& value) {
        value = 0;
        for (int i = 0; i < count; ++i) {
            if (pos_ >= text_.size() || text_[pos_] < '0' || text_[pos_] > '9') {
                return false;
            }
            value = value * 10 + (text_[pos_] - '0');
            ++pos_;
        }
        return true;
    }

    // One digit or more, read as the fraction of a second. Digits beyond the ninth (below a
    // nanosecond) are checked but not used: a double of today's epoch seconds cannot hold them,
    // and stopping there keeps the integer small.
    bool fraction(double& value) {
        std::int64_t numerator = 0;
        std::int64_t denominator = 1;
        const std::size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            if (pos_ - start < 9) {
                numerator = numerator * 10 + (text_[pos_] - '0');
                denominator *= 10;
            }
            ++pos_;
        }
        value = static_cast<double>(numerator) / static_cast<double>(denominator);
        return pos_ > start;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

// Days from 1970-01-01 to the given proleptic Gregorian date (Howard Hinnant's
// days_from_civil); plain integer arithmetic, free of time zones and of time_t's range.
std::int64_t daysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return std::int64_t{era} * 146097 + dayOfEra - 719468;
}

std::optional<double> parse(std::string_view text, bool withFraction) {
    Reader r(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    // Upper-case "T" and "Z" only, as written by the service; the lower-case forms RFC 3339
    // tolerates are refused like any other variant.
    if (!r.number(4, year) || !r.take('-') || !r.number(2, month) || !r.take('-') || !r.number(2, day) ||
        !r.take('T') || !r.number(2, hour) || !r.take(':') || !r.number(2, minute) || !r.take(':') ||
        !r.number(2, second)) {
        return std::nullopt;
    }
    double fraction = 0;
    if (withFraction && (!r.take('.') || !r.fraction(fraction))) {
        return std::nullopt;
    }

    int offsetSeconds = 0;
    if (!r.take('Z')) {
        int sign = 0;
        if (r.take('+')) {
            sign = 1;
        } else if (r.take('-')) {
            sign = -1;
        } else {
            return std::nullopt;  // no zone, or a fraction where none is allowed
        }
        // "+01:00" and "+0100" alike: the formatter the service's dates are judged by reads both.
        int offsetHours = 0, offsetMinutes = 0;
        if (!r.number(2, offsetHours)) return std::nullopt;
        r.take(':');
        if (!r.number(2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59) {
            return std::nullopt;
        }
        offsetSeconds = sign * (offsetHours * 3600 + offsetMinutes * 60);
    }
    if (!r.atEnd()) {
        return std::nullopt;
    }

    // A leap second (":60") is refused: a count of seconds since the epoch has no place for
    // it, and the service never sends one.
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59) {
        return std::nullopt;
    }

    const std::int64_t seconds = daysFromCivil(year, month, day) * 86400 + std::int64_t{hour} * 3600 +
                                 std::int64_t{minute} * 60 + second - offsetSeconds;
    return static_cast<double>(seconds) + fraction;
}

}  // namespace

std::optional<double> parseInternetDateTimeWithFractionalSeconds(std::string_view text) { return parse(text, true); }

std::optional<double> parseInternetDateTime(std::string_view text) { return parse(text, false); }

}  // namespace foundation
