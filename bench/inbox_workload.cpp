#include "bench/inbox_workload.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace bench {

namespace {

const char* const kKinds[] = {"appointment", "payable", "notice", "message"};

std::string entryId(int n) {
    char id[32];
    std::snprintf(id, sizeof id, "%s:%05d", kKinds[n % 4], n);
    return id;
}

// "YYYY-MM-DDThh:mm:ss.mmmZ" for `seconds` since the epoch, as the service writes dates.
std::string isoTime(double seconds) {
    const std::time_t whole = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&whole, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &parts);
    return text;
}

}  // namespace

std::string snapshotJson() {
    std::string json = R"({"authenticated":true,"notifications":[)";
    std::string readIds;
    for (int n = 0; n < kEntries; ++n) {
        const std::string id = entryId(n);
        const bool read = n % 5 != 0;
        const double created = kNowSeconds - 3600.0 - 60.0 * n;
        if (n > 0) json += ',';
        json += R"({"id":")" + id + R"(","kind":")" + kKinds[n % 4] +
                R"(","title":"Nouveau rendez-vous","body":"Léa Bernard — coloration, samedi à 10 h 30.",)" +
                R"("read_at":)" + (read ? "\"" + isoTime(created + 600.0) + "\"" : std::string("null")) +
                R"(,"dismissed":0,"created_at":")" + isoTime(created) +
                R"(","url":"/admin?notification=notice&noticeId=)" + id + R"("})";
        if (read) {
            if (!readIds.empty()) readIds += ',';
            readIds += "\"" + id + "\"";
        }
    }
    json += R"(],"readIds":[)" + readIds + "],";
    json += R"("preferences":{"booking":{"enabled":true,"sound":true},"payable":{"enabled":true,"sound":true},)"
            R"("notice":{"enabled":true,"sound":true},"message":{"enabled":true,"sound":true}}})";
    return json;
}

std::vector<std::string> fullSeenList() {
    std::vector<std::string> seen;
    const std::string prefix = std::string("shared:") + kInstanceHost + ":";
    for (int n = 0; n < kEntries; ++n) seen.push_back(prefix + entryId(n));
    // Entries that have left the inbox since fill the list up to its limit.
    for (int n = kEntries; n < kSeenEntries; ++n) seen.push_back(prefix + entryId(n));
    std::sort(seen.begin(), seen.end());
    return seen;
}

}  // namespace bench
