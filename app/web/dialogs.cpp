// The page's dialogs, file choosing and download destinations.
#include "app/velmora.h"

namespace velmora {

void Velmora::runJavaScriptAlert(const std::string&, std::function<void()> done) { done(); }
void Velmora::runJavaScriptConfirm(const std::string&, std::function<void(bool)> done) { done(false); }
void Velmora::runJavaScriptTextInput(const std::string&, const std::optional<std::string>&,
                                     std::function<void(std::optional<std::string>)> done) {
    done(std::nullopt);
}
void Velmora::runOpenPanel(const platform::OpenPanelParameters&,
                           std::function<void(std::optional<std::vector<std::string>>)> done) {
    done(std::nullopt);
}
void Velmora::decideDestination(platform::Download&, const std::string&,
                                std::function<void(std::optional<std::string>)> done) {
    done(std::nullopt);
}

}  // namespace velmora
