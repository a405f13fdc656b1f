#include "platform/gtk/updater/package_install.h"

#include <glib.h>

#include <memory>
#include <sstream>
#include <utility>

namespace gtk {

namespace {

struct Question {
    std::string bundlePath;
    std::function<void(bool)> done;
    std::shared_ptr<GCancellable> cancellable;

    // The answer, unless the asker has gone since.
    void answer(bool byPackage) const {
        if (!g_cancellable_is_cancelled(cancellable.get())) done(byPackage);
    }
};

std::shared_ptr<GCancellable> shared(GCancellable* cancellable) {
    return {G_CANCELLABLE(g_object_ref(cancellable)), g_object_unref};
}

void answered(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Question> question(static_cast<Question*>(data));
    g_autofree char* listing = nullptr;
    g_autoptr(GError) error = nullptr;
    if (!g_subprocess_communicate_utf8_finish(G_SUBPROCESS(source), result, &listing, nullptr, &error)) {
        if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
        return question->answer(false);
    }
    // A package that is not installed makes dpkg-query fail, with nothing listed.
    if (!g_subprocess_get_successful(G_SUBPROCESS(source)) || !listing) return question->answer(false);
    g_autofree char* resolved = realpath(question->bundlePath.c_str(), nullptr);
    question->answer(listingNamesBundle(listing, question->bundlePath, resolved ? resolved : question->bundlePath));
}

}  // namespace

bool listingNamesBundle(const std::string& listing, const std::string& bundlePath, const std::string& resolvedPath) {
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && (line == bundlePath || line == resolvedPath)) return true;
    return false;
}

void askWhetherInstalledByPackage(const std::string& bundlePath, GCancellable* cancellable,
                                  std::function<void(bool)> done) {
    // --listfiles reads the package's own file list only, where --search would read the lists
    // of every installed package.
    g_autoptr(GError) error = nullptr;
    g_autoptr(GSubprocess) query = g_subprocess_new(
        static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE), &error,
        "dpkg-query", "--listfiles", VELMORA_PACKAGE_NAME, nullptr);
    if (!query) {
        // No dpkg: not a Debian system, so nothing on it is the package's.
        auto* question = new Question{bundlePath, std::move(done), shared(cancellable)};
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                static_cast<Question*>(data)->answer(false);
                return G_SOURCE_REMOVE;
            },
            question, [](gpointer data) { delete static_cast<Question*>(data); });
        return;
    }
    g_subprocess_communicate_utf8_async(query, nullptr, cancellable, answered,
                                        new Question{bundlePath, std::move(done), shared(cancellable)});
}

}  // namespace gtk
