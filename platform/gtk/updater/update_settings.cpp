#include "platform/gtk/updater/update_settings.h"

#include <algorithm>

#include "platform/foundation/base64.h"
#include "platform/foundation/url.h"

namespace gtk {

UpdaterSettings updaterSettingsFrom(const foundation::PropertyListDictionary& info) {
    UpdaterSettings settings;
    if (const auto feed = info.strings.find("SUFeedURL"); feed != info.strings.end()) {
        // A feed over plain HTTP is treated as none: its notes and version would reach the
        // user unauthenticated.
        const auto url = foundation::Url::parse(feed->second);
        if (url && url->scheme() == "https" && url->host() && !url->host()->empty()) settings.feedUrl = feed->second;
    }
    if (const auto automatic = info.booleans.find("SUEnableAutomaticChecks"); automatic != info.booleans.end())
        settings.automaticChecks = automatic->second;
    if (const auto key = info.strings.find("SUPublicEDKey"); key != info.strings.end()) {
        const auto bytes = foundation::decodeBase64Strict(key->second);
        if (bytes && bytes->size() == UpdatePublicKey().size()) {
            UpdatePublicKey publicKey;
            std::copy(bytes->begin(), bytes->end(), publicKey.begin());
            settings.publicKey = publicKey;
        }
    }
    if (const auto identifier = info.strings.find("CFBundleIdentifier"); identifier != info.strings.end())
        settings.bundleIdentifier = identifier->second;
    return settings;
}

}  // namespace gtk
