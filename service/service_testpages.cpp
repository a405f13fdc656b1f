// Paths served on every host: the pages and files the end-to-end tests drive, and the page beacons.
#include "service.h"

#include "documents.h"
#include "text.h"

#include <map>

namespace service {

namespace {

const std::map<std::string, const char*>& testPages() {
    static const std::map<std::string, const char*> pages{
        {"/test/dialogs.html", "dialogs.html"}, {"/test/upload.html", "upload.html"},
        {"/test/links.html", "links.html"},     {"/test/note.html", "note.html"},
        {"/test/iframe.html", "iframe.html"},   {"/test/bridge-probe.html", "bridge-probe.html"},
        {"/test/print.html", "print.html"},     {"/test/save.html", "save.html"},
    };
    return pages;
}

}  // namespace

bool Service::handleSharedPath(Request& request) {
    const std::string& path = request.path();
    if (auto page = testPages().find(path); page != testPages().end()) {
        renderPage(request, page->second);
    } else if (path == "/test/download") {
        request.addHeader("Content-Disposition", "attachment; filename=\"facture-2026.txt\"");
        request.respond(SOUP_STATUS_OK, "text/plain; charset=utf-8",
                        "Facture n° 2026-001\nSalon Velmóra — 12 rue des Lilas, 69002 Lyon\nTotal TTC : 107,00 €\n");
    } else if (path == "/test/archive.zip") {
        // No Content-Disposition: the web view must turn it into a download because it cannot show the type.
        request.respond(SOUP_STATUS_OK, "application/zip", archiveZip());
    } else if (path.starts_with("/beacon/")) {
        handleBeacon(request);
    } else if (path == "/favicon.ico") {
        request.respond(SOUP_STATUS_NO_CONTENT, "image/x-icon", "");
    } else {
        return false;
    }
    return true;
}

void Service::handleBeacon(Request& request) {
    const std::string name = request.path().substr(std::string("/beacon/").size());
    json::Object beacon = json::newObject();
    const int64_t now = nowMs();
    json_object_set_string_member(beacon.get(), "host", request.host().c_str());
    json_object_set_string_member(beacon.get(), "name", name.c_str());
    json_object_set_string_member(beacon.get(), "time", isoTimeMs(now).c_str());
    json_object_set_int_member(beacon.get(), "epoch_ms", now);
    const char* referer =
        soup_message_headers_get_one(soup_server_message_get_request_headers(request.message()), "Referer");
    json_object_set_string_member(beacon.get(), "referer", referer ? referer : "");
    json_object_set_string_member(beacon.get(), "body", request.body().c_str());
    beacons_.push_back(std::move(beacon));
    request.respond(SOUP_STATUS_NO_CONTENT, "text/plain", "");
}

}  // namespace service
