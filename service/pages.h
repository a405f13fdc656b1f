// The bundled page files and their placeholders.
#pragma once

#include <map>
#include <string>

namespace service {

// Returns the text of a bundled page file (for example "console.html"), empty when there is none.
std::string pageFile(const std::string& name);

// Returns the bundled page with every "{{NAME}}" replaced: STYLE and COMMON_JS by the shared files, the others
// from `values`; unknown placeholders stay as written.
std::string renderPage(const std::string& name, const std::map<std::string, std::string>& values);

}  // namespace service
