#include "pages.h"

#include <gio/gio.h>

extern "C" GResource* velmora_service_pages_get_resource(void);

namespace service {

std::string pageFile(const std::string& name) {
    const std::string path = "/fr/velmora/service/" + name;
    GBytes* bytes = g_resource_lookup_data(velmora_service_pages_get_resource(), path.c_str(),
                                           G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
    if (!bytes) return {};
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::string text(data, size);
    g_bytes_unref(bytes);
    return text;
}

std::string renderPage(const std::string& name, const std::map<std::string, std::string>& values) {
    const std::string page = pageFile(name);
    std::string out;
    out.reserve(page.size() * 2);
    size_t at = 0;
    while (true) {
        const size_t open = page.find("{{", at);
        const size_t close = open == std::string::npos ? std::string::npos : page.find("}}", open + 2);
        if (close == std::string::npos) {
            out.append(page, at, std::string::npos);
            return out;
        }
        out.append(page, at, open - at);
        const std::string key = page.substr(open + 2, close - open - 2);
        if (key == "STYLE") {
            out += pageFile("style.css");
        } else if (key == "COMMON_JS") {
            out += pageFile("common.js");
        } else if (auto value = values.find(key); value != values.end()) {
            out += value->second;
        } else {
            out.append(page, open, close + 2 - open);
        }
        at = close + 2;
    }
}

}  // namespace service
