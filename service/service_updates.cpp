// The update files of the public site: whatever the tests put in the folder given with
// --files is served under /mises-a-jour/, read afresh at every request so that a test can
// change the feed or the archive between two checks.
#include "service.h"

#include <string_view>

namespace service {

namespace {

constexpr std::string_view kUpdatePath = "/mises-a-jour/";

// A plain file name: letters, digits, ".", "-" and "_", not starting with a dot, so that no
// request reaches outside the folder or a hidden file in it.
bool isPlainFileName(std::string_view name) {
    if (name.empty() || name.front() == '.') return false;
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        if (!plain) return false;
    }
    return true;
}

}  // namespace

bool Service::handleUpdateFile(Request& request) {
    if (options_.updateFilesDir.empty() || !request.path().starts_with(kUpdatePath)) return false;
    const std::string name = request.path().substr(kUpdatePath.size());
    gchar* contents = nullptr;
    gsize length = 0;
    if (!isPlainFileName(name) ||
        !g_file_get_contents((options_.updateFilesDir + "/" + name).c_str(), &contents, &length, nullptr)) {
        request.respond(SOUP_STATUS_NOT_FOUND, "text/plain; charset=utf-8", "Aucune mise à jour à cette adresse.\n");
        return true;
    }
    const std::string body(contents, length);
    g_free(contents);
    request.respond(SOUP_STATUS_OK, name.ends_with(".json") ? "application/json" : "application/octet-stream", body);
    return true;
}

}  // namespace service
