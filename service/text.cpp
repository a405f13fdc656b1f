#include "text.h"

#include <glib.h>

namespace service {

std::string percentEncodeId(std::string_view id) {
    // GLib's g_uri_escape_string keeps the RFC 3986 unreserved marks ("-", ".", "_", "~"), which the
    // console's links encode, so the stricter rule is written out here.
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(id.size() * 3);
    for (unsigned char c : id) {
        if (g_ascii_isalnum(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}

std::string isoTimeMs(int64_t epochMs) {
    const int64_t seconds = epochMs >= 0 ? epochMs / 1000 : (epochMs - 999) / 1000;
    const int millis = static_cast<int>(epochMs - seconds * 1000);
    GDateTime* time = g_date_time_new_from_unix_utc(seconds);
    if (!time) return {};
    gchar* base = g_date_time_format(time, "%Y-%m-%dT%H:%M:%S");
    g_date_time_unref(time);
    gchar* text = g_strdup_printf("%s.%03dZ", base, millis);
    std::string result = text;
    g_free(text);
    g_free(base);
    return result;
}

int64_t nowMs() { return g_get_real_time() / 1000; }

std::string hostWithoutPort(std::string_view header) {
    std::string_view host = header;
    if (host.starts_with('[')) {
        const auto close = host.find(']');
        host = close == std::string_view::npos ? host : host.substr(0, close + 1);
    } else if (const auto colon = host.rfind(':'); colon != std::string_view::npos) {
        host = host.substr(0, colon);
    }
    std::string lower(host);
    for (char& c : lower) c = g_ascii_tolower(c);
    return lower;
}

std::string scriptSafeJson(std::string_view json) {
    std::string out;
    out.reserve(json.size());
    for (size_t i = 0; i < json.size(); ++i) {
        if (json[i] == '<' && i + 1 < json.size() && json[i + 1] == '/') {
            out += "<\\/";
            ++i;
        } else if (json.substr(i, 3) == "\xE2\x80\xA8") {
            out += "\\u2028";
            i += 2;
        } else if (json.substr(i, 3) == "\xE2\x80\xA9") {
            out += "\\u2029";
            i += 2;
        } else {
            out += json[i];
        }
    }
    return out;
}

std::string randomToken() {
    gchar* uuid = g_uuid_string_random();
    std::string token;
    for (const char* p = uuid; *p; ++p) {
        if (*p != '-') token += *p;
    }
    g_free(uuid);
    return token;
}

}  // namespace service
