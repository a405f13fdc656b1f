// Printing the page, or a PDF the page sends; the page hears "afterprint" either way.
#include "app/velmora.h"
#include "platform/foundation/base64.h"

namespace velmora {

void Velmora::print(const foundation::JsValue& body) {
    std::unique_ptr<platform::PrintOperation> operation;
    if (const auto* pdf = body.member("pdf"); pdf && pdf->string()) {
        if (const auto bytes = foundation::decodeBase64Strict(*pdf->string()))
            operation = platform_.printing.pdfPrintOperation(*bytes);
    }
    // Anything unusable prints the page instead, without a word to the user or the page.
    if (!operation) operation = web->printOperation();
    operation->setShowsPrintPanel(true);
    operation->setShowsProgressPanel(true);
    operation->runModal(*window, weakly([this](bool success) { printFinished(success); }));
}

void Velmora::printFinished(bool /*success*/) {
    // Printed or cancelled alike: the page undoes what it changed for printing.
    web->evaluateJavaScript("window.dispatchEvent(new Event('afterprint'))");
}

}  // namespace velmora
