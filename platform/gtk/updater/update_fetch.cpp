#include "platform/gtk/updater/update_fetch.h"

#include <memory>
#include <utility>

namespace gtk {

namespace {

template <typename T>
using ObjectPtr = std::unique_ptr<T, decltype(&g_object_unref)>;

struct FetchJob {
    ObjectPtr<SoupMessage> message;
    gsize limit = 0;
    ObjectPtr<GCancellable> cancellable;  // null when the caller gave none
    std::function<void(FetchResult)> done;
};

void finish(FetchJob* job, FetchResult result) {
    auto done = std::move(job->done);
    delete job;
    done(std::move(result));
}

void onSpliced(GObject* source, GAsyncResult* result, gpointer data) {
    auto* job = static_cast<FetchJob*>(data);
    g_autoptr(GError) error = nullptr;
    g_output_stream_splice_finish(G_OUTPUT_STREAM(source), result, &error);
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        delete job;
        return;
    }
    FetchResult fetched;
    fetched.status = soup_message_get_status(job->message.get());
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NO_SPACE)) {
        fetched.outcome = FetchResult::Outcome::TooLarge;
    } else if (error) {
        fetched.outcome = FetchResult::Outcome::Unreachable;
    } else {
        fetched.outcome = FetchResult::Outcome::Received;
        GBytes* bytes = g_memory_output_stream_steal_as_bytes(G_MEMORY_OUTPUT_STREAM(source));
        fetched.body = std::shared_ptr<GBytes>(bytes, g_bytes_unref);
    }
    finish(job, std::move(fetched));
}

void onSent(GObject* source, GAsyncResult* result, gpointer data) {
    auto* job = static_cast<FetchJob*>(data);
    g_autoptr(GError) error = nullptr;
    GInputStream* body = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        delete job;
        return;
    }
    FetchResult fetched;
    if (!body) {
        finish(job, fetched);
        return;
    }
    // libsoup follows redirects by itself; one that leaves https loses the server's identity.
    GUri* reached = soup_message_get_uri(job->message.get());
    const bool secure = reached && g_strcmp0(g_uri_get_scheme(reached), "https") == 0;
    fetched.status = soup_message_get_status(job->message.get());
    if (!secure || fetched.status != SOUP_STATUS_OK) {
        if (secure) fetched.outcome = FetchResult::Outcome::HttpError;
        g_object_unref(body);
        finish(job, fetched);
        return;
    }
    // One byte more than allowed fits nowhere: a fixed buffer (no reallocation function)
    // makes the splice fail with G_IO_ERROR_NO_SPACE instead of growing.
    GOutputStream* sink = g_memory_output_stream_new(g_malloc(job->limit), job->limit, nullptr, g_free);
    const auto flags = static_cast<GOutputStreamSpliceFlags>(G_OUTPUT_STREAM_SPLICE_CLOSE_SOURCE |
                                                             G_OUTPUT_STREAM_SPLICE_CLOSE_TARGET);
    g_output_stream_splice_async(sink, body, flags, G_PRIORITY_DEFAULT, job->cancellable.get(), onSpliced, job);
    g_object_unref(sink);
    g_object_unref(body);
}

}  // namespace

void fetchBounded(SoupSession* session, const std::string& url, gsize limit, GCancellable* cancellable,
                  std::function<void(FetchResult)> done) {
    SoupMessage* message = soup_message_new(SOUP_METHOD_GET, url.c_str());
    if (!message) {
        done(FetchResult{});
        return;
    }
    auto* job = new FetchJob{{message, g_object_unref},
                             limit,
                             {cancellable ? G_CANCELLABLE(g_object_ref(cancellable)) : nullptr, g_object_unref},
                             std::move(done)};
    soup_session_send_async(session, message, G_PRIORITY_DEFAULT, cancellable, onSent, job);
}

}  // namespace gtk
