// Handing URLs to other programs of the desktop.
#pragma once

#include "platform/foundation/url.h"

namespace platform {

class Workspace {
public:
    virtual ~Workspace() = default;
    // Opens `url` with the user's default program for it (browser, mail, telephony);
    // returns false when none could be started.
    virtual bool openUrl(const foundation::Url& url) = 0;
};

}  // namespace platform
