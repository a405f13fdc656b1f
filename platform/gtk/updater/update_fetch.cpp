#include "platform/gtk/updater/update_fetch.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace gtk {

namespace {

// The most asked of the stream in one read: small enough for the progress to move smoothly.
constexpr gsize kLargestPiece = gsize{64} * 1024;

template <typename T>
using ObjectPtr = std::unique_ptr<T, decltype(&g_object_unref)>;

struct FetchJob {
    FetchJob(SoupMessage* message, gsize limit, GCancellable* cancellable, FetchProgress progress,
             std::function<void(FetchResult)> done)
        : message(message, g_object_unref),
          limit(limit),
          cancellable(cancellable ? G_CANCELLABLE(g_object_ref(cancellable)) : nullptr, g_object_unref),
          progress(std::move(progress)),
          done(std::move(done)) {}
    ~FetchJob() { g_signal_handlers_disconnect_by_data(message.get(), this); }
    FetchJob(const FetchJob&) = delete;
    FetchJob& operator=(const FetchJob&) = delete;

    ObjectPtr<SoupMessage> message;
    gsize limit;
    ObjectPtr<GCancellable> cancellable;  // null when the caller gave none
    FetchProgress progress;
    std::function<void(FetchResult)> done;
    // Set when a redirect went through an address other than https, even to come back.
    bool leftHttps = false;
    ObjectPtr<GInputStream> body{nullptr, g_object_unref};
    // The answer so far, in a buffer of `limit` bytes allocated once.
    std::unique_ptr<guint8, decltype(&g_free)> buffer{nullptr, g_free};
    gsize received = 0;
    // Where a byte beyond the limit is read to, to learn that there is one.
    guint8 beyond = 0;
};

bool isHttps(GUri* uri) { return uri && g_strcmp0(g_uri_get_scheme(uri), "https") == 0; }

// Whether the caller gave up: the job then ends without a word.
bool givenUp(const FetchJob* job, const GError* error) {
    return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) ||
           (job->cancellable && g_cancellable_is_cancelled(job->cancellable.get()));
}

void finish(FetchJob* job, FetchResult result) {
    auto done = std::move(job->done);
    delete job;
    done(std::move(result));
}

void finishWith(FetchJob* job, FetchResult::Outcome outcome) {
    FetchResult result;
    result.outcome = outcome;
    result.status = soup_message_get_status(job->message.get());
    finish(job, std::move(result));
}

void readNext(FetchJob* job);

void onRead(GObject* source, GAsyncResult* result, gpointer data) {
    auto* job = static_cast<FetchJob*>(data);
    g_autoptr(GError) error = nullptr;
    const gssize count = g_input_stream_read_finish(G_INPUT_STREAM(source), result, &error);
    if (givenUp(job, error)) {
        delete job;
        return;
    }
    if (count < 0) return finishWith(job, FetchResult::Outcome::Unreachable);
    if (count > 0 && job->received == job->limit) return finishWith(job, FetchResult::Outcome::TooLarge);
    if (count == 0) {
        FetchResult fetched;
        fetched.outcome = FetchResult::Outcome::Received;
        fetched.status = soup_message_get_status(job->message.get());
        fetched.body = std::shared_ptr<GBytes>(g_bytes_new_take(job->buffer.release(), job->received), g_bytes_unref);
        return finish(job, std::move(fetched));
    }
    job->received += static_cast<gsize>(count);
    if (job->progress) job->progress(job->received);
    readNext(job);
}

void readNext(FetchJob* job) {
    // Once the buffer is full one byte more is asked for, into a place of its own: the answer
    // must end there.
    const bool full = job->received == job->limit;
    guint8* into = full ? &job->beyond : job->buffer.get() + job->received;
    const gsize room = full ? 1 : std::min(job->limit - job->received, kLargestPiece);
    g_input_stream_read_async(job->body.get(), into, room, G_PRIORITY_DEFAULT, job->cancellable.get(), onRead, job);
}

void onSent(GObject* source, GAsyncResult* result, gpointer data) {
    auto* job = static_cast<FetchJob*>(data);
    g_autoptr(GError) error = nullptr;
    job->body.reset(soup_session_send_finish(SOUP_SESSION(source), result, &error));
    if (givenUp(job, error)) {
        delete job;
        return;
    }
    if (!job->body) return finishWith(job, FetchResult::Outcome::Unreachable);
    // libsoup follows redirects by itself; one through plain HTTP could have been answered by
    // anyone on the way.
    if (job->leftHttps || !isHttps(soup_message_get_uri(job->message.get())))
        return finishWith(job, FetchResult::Outcome::NotHttps);
    if (soup_message_get_status(job->message.get()) != SOUP_STATUS_OK)
        return finishWith(job, FetchResult::Outcome::HttpError);
    SoupMessageHeaders* headers = soup_message_get_response_headers(job->message.get());
    if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
        static_cast<guint64>(soup_message_headers_get_content_length(headers)) > job->limit)
        return finishWith(job, FetchResult::Outcome::TooLarge);
    job->buffer.reset(static_cast<guint8*>(g_malloc(std::max<gsize>(job->limit, 1))));
    readNext(job);
}

void onRestarted(SoupMessage* message, gpointer data) {
    // Sent again, after a redirect (or an authentication), to the address it now has.
    if (!isHttps(soup_message_get_uri(message))) static_cast<FetchJob*>(data)->leftHttps = true;
}

}  // namespace

void fetchBounded(SoupSession* session, const std::string& url, gsize limit, GCancellable* cancellable,
                  FetchProgress progress, std::function<void(FetchResult)> done) {
    SoupMessage* message = soup_message_new(SOUP_METHOD_GET, url.c_str());
    if (!message) {
        done(FetchResult{});
        return;
    }
    auto* job = new FetchJob(message, limit, cancellable, std::move(progress), std::move(done));
    g_signal_connect(message, "restarted", G_CALLBACK(onRestarted), job);
    soup_session_send_async(session, message, G_PRIORITY_DEFAULT, cancellable, onSent, job);
}

}  // namespace gtk
