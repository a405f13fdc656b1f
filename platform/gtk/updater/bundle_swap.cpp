#include "platform/gtk/updater/bundle_swap.h"

#include <glib.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/gtk/updater/update_texts.h"

namespace gtk {

namespace {

std::string swapFailure(int error) {
    return std::string(update_texts::kSwapFailedPrefix) + g_strerror(error) + update_texts::kDetailSuffix;
}

}  // namespace

BundleSwap::BundleSwap(std::string installed, std::string replacement, std::string aside, Rename rename)
    : installed_(std::move(installed)),
      replacement_(std::move(replacement)),
      aside_(std::move(aside)),
      rename_(std::move(rename)) {}

int BundleSwap::systemRename(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::optional<std::string> BundleSwap::perform() {
    if (performed_) return std::nullopt;
    if (const int error = rename_(installed_, aside_)) return swapFailure(error);
    if (const int error = rename_(replacement_, installed_)) {
        // Between the two renames the place is empty; putting the old bundle back is what
        // keeps the application runnable. Should that fail too, the old bundle is still whole
        // under its aside name, where it can be renamed back by hand.
        rename_(aside_, installed_);
        return swapFailure(error);
    }
    performed_ = true;
    return std::nullopt;
}

std::optional<std::string> BundleSwap::revert() {
    if (!performed_) return std::nullopt;
    if (const int error = rename_(installed_, replacement_)) return swapFailure(error);
    if (const int error = rename_(aside_, installed_)) {
        // Rather an application in its place than none: the new one goes back in.
        rename_(replacement_, installed_);
        return swapFailure(error);
    }
    performed_ = false;
    return std::nullopt;
}

}  // namespace gtk
