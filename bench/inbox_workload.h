// The inbox the poll benchmarks work on: a thousand entries and a seen list already full.
#pragma once

#include <string>
#include <vector>

namespace bench {

inline constexpr const char* kInstanceHost = "salon.velmora.fr";
inline constexpr int kEntries = 1000;
inline constexpr int kSeenEntries = 4000;
// The clock time of the poll; the snapshot's entries were created an hour and more before it.
inline constexpr double kNowSeconds = 1'750'000'000.0;

// The poll script's answer for a signed-in administrator, as JSON text: `kEntries` entries
// shaped like the service's (a fifth unread, all older than the announcement window), the
// read ones listed in readIds, and the four preferences.
std::string snapshotJson();

// A full seen list: the identifiers of every entry of snapshotJson() and of entries that have
// left the inbox, `kSeenEntries` in all, sorted as the controller stores them.
std::vector<std::string> fullSeenList();

}  // namespace bench
