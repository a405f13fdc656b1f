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
        Unreachable,  // no answer: no connection, a TLS failure, a time-out, an answer cut short
        NotHttps,     // a redirect led through or to an address other than https
        HttpError,    // an answer other than 200; `status` says which
        TooLarge,     // the answer went, or was announced to go, beyond the limit
    };
    Outcome outcome = Outcome::Unreachable;
    unsigned status = 0;
    std::shared_ptr<GBytes> body;
};

// Receives the number of bytes of the answer received so far, after each piece of it.
using FetchProgress = std::function<void(gsize received)>;

// Downloads `url` with `session`, keeping at most `limit` bytes in memory: the buffer has a
// fixed size, so a server that sends more cannot make it grow. `progress` (which may be empty)
// runs as the answer's pieces arrive and `done` once at the end, both on the main loop and
// neither once `cancellable` has been cancelled.
void fetchBounded(SoupSession* session, const std::string& url, gsize limit, GCancellable* cancellable,
                  FetchProgress progress, std::function<void(FetchResult)> done);

}  // namespace gtk
