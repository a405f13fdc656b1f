#include "platform/foundation/text.h"

#include <glib.h>

#include <cstddef>

namespace foundation {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view digitRun(std::string_view text, std::size_t start) {
    std::size_t end = start;
    while (end < text.size() && isDigit(text[end])) {
        ++end;
    }
    return text.substr(start, end - start);
}

// Compares two runs of digits by the number they write, of any length: without leading
// zeros, the longer run is the larger number, and runs of equal length compare as text.
int compareDigitRuns(std::string_view a, std::string_view b) {
    const auto stripZeros = [](std::string_view run) {
        const std::size_t first = run.find_first_not_of('0');
        return first == std::string_view::npos ? std::string_view() : run.substr(first);
    };
    a = stripZeros(a);
    b = stripZeros(b);
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    return a.compare(b);
}

}  // namespace

int numericCompare(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::string_view runA = digitRun(a, i);
            const std::string_view runB = digitRun(b, j);
            if (const int order = compareDigitRuns(runA, runB); order != 0) {
                return order < 0 ? -1 : 1;
            }
            // Same value: "007" and "7" count as equal and the walk goes on after both.
            i += runA.size();
            j += runB.size();
            continue;
        }
        // Unsigned bytes: for UTF-8 text, byte order is code-point order.
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        ++i;
        ++j;
    }
    // One text is exhausted: whichever has something left orders after.
    const bool aLeft = i < a.size();
    const bool bLeft = j < b.size();
    return aLeft == bLeft ? 0 : (aLeft ? 1 : -1);
}

std::string percentEncodeIdentifier(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c)) {
            out += c;
        } else {
            // Even "-", ".", "_" and "~" are escaped, so that the encoded text never holds
            // anything but letters, digits and "%".
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        }
    }
    return out;
}

std::string makeUuidString() {
    gchar* raw = g_uuid_string_random();
    std::string uuid(raw);
    g_free(raw);
    for (char& c : uuid) {
        if (c >= 'a' && c <= 'f') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return uuid;
}

}  // namespace foundation
