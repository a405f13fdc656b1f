// The workspace on GIO: URLs opened with the desktop's default handlers.
#pragma once

#include "platform/workspace.h"

namespace gtk {

// Opens URLs with the desktop's default handler for their scheme.
class GioWorkspace final : public platform::Workspace {
public:
    bool openUrl(const foundation::Url& url) override;
};

}  // namespace gtk
