// Bounded HTTPS downloads for the updater.
#pragma once

#include <libsoup/soup.h>

#include <functional>
#include <memory>
#include <string>

namespace gtk {

struct FetchResult {
    enum class Outcome {
        Received,     // `body` holds the whole answer
        Unreachable,  // no answer: no connection, a TLS failure, a time-out, a redirect off https
        HttpError,    // an answer other than 200; `status` says which
        TooLarge,     // the answer went beyond the limit and was cut off
    };
    Outcome outcome = Outcome::Unreachable;
    unsigned status = 0;
    std::shared_ptr<GBytes> body;
};

// Downloads `url` with `session`, keeping at most `limit` bytes in memory: the buffer has a
// fixed size, so a server that sends more cannot make it grow. `done` runs once on the main
// loop, and never once `cancellable` has been cancelled.
void fetchBounded(SoupSession* session, const std::string& url, gsize limit, GCancellable* cancellable,
                  std::function<void(FetchResult)> done);

}  // namespace gtk
