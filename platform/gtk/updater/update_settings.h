// What the bundle's information property list says about updates.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/property_list.h"
#include "platform/gtk/updater/update_feed.h"

namespace gtk {

struct UpdaterSettings {
    std::optional<std::string> feedUrl;        // "SUFeedURL", only when it is an https URL
    bool automaticChecks = false;              // "SUEnableAutomaticChecks"
    std::optional<UpdatePublicKey> publicKey;  // "SUPublicEDKey", a Base64 Ed25519 public key
    std::string bundleIdentifier;              // "CFBundleIdentifier"
};

// Reads the update keys of an info dictionary; a key that is absent or malformed is left unset.
UpdaterSettings updaterSettingsFrom(const foundation::PropertyListDictionary& info);

}  // namespace gtk
