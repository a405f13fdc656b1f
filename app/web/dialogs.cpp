// The page's dialogs, file choosing and download destinations, each modal on the window.
// Dialogs of every frame and host are shown alike.
#include "app/texts.h"
#include "app/velmora.h"

namespace velmora {

void Velmora::runJavaScriptAlert(const std::string& message, std::function<void()> done) {
    platform_.panels.beginAlert(*window, {message, "", {}, std::nullopt},
                                [done = std::move(done)](const platform::AlertResult&) { done(); });
}

void Velmora::runJavaScriptConfirm(const std::string& message, std::function<void(bool)> done) {
    platform_.panels.beginAlert(
        *window, {message, "", {texts::kConfirm, texts::kCancel}, std::nullopt},
        [done = std::move(done)](const platform::AlertResult& result) { done(result.button == 0); });
}

void Velmora::runJavaScriptTextInput(const std::string& prompt, const std::optional<std::string>& defaultText,
                                     std::function<void(std::optional<std::string>)> done) {
    platform_.panels.beginAlert(*window, {prompt, "", {texts::kValidate, texts::kCancel}, defaultText.value_or("")},
                                [done = std::move(done)](const platform::AlertResult& result) {
                                    // "Valider" answers the text, also when it is empty; anything else is null.
                                    done(result.button == 0 ? std::optional<std::string>(result.text) : std::nullopt);
                                });
}

void Velmora::runOpenPanel(const platform::OpenPanelParameters& parameters,
                           std::function<void(std::optional<std::vector<std::string>>)> done) {
    platform_.panels.beginOpenPanel(*window, parameters.allowsMultipleSelection, parameters.allowsDirectories,
                                    std::move(done));
}

void Velmora::decideDestination(platform::Download& /*download*/, const std::string& suggestedFilename,
                                std::function<void(std::optional<std::string>)> done) {
    // A cancelled save dialog answers nothing, which cancels the download.
    platform_.panels.beginSavePanel(*window, suggestedFilename, std::move(done));
}

}  // namespace velmora
