// Printing the page, or a PDF the page sends; the page hears "afterprint" either way.
#include <cstdint>
#include <optional>
#include <vector>

#include "app/velmora.h"
#include "app/web/print_limits.h"
#include "platform/foundation/base64.h"

namespace velmora {

namespace {

// The bytes of the PDF document in a print message, or nothing when it carries no usable one.
std::optional<std::vector<std::uint8_t>> pdfBytesOf(const foundation::JsValue& body) {
    const foundation::JsValue* pdf = body.member("pdf");
    if (!pdf || !pdf->string() || pdf->string()->size() > kMaximumPdfText) return std::nullopt;
    auto bytes = foundation::decodeBase64Strict(*pdf->string());
    if (!bytes || bytes->size() > kMaximumPdfBytes) return std::nullopt;
    return bytes;
}

}  // namespace

void Velmora::print(const foundation::JsValue& body) {
    auto bytes = pdfBytesOf(body);
    if (!bytes) {
        runPrintOperation(web->printOperation());
        return;
    }
    platform_.printing.openPdf(std::move(*bytes), weakly([this](std::unique_ptr<platform::PrintOperation> operation) {
                                   // Bytes that do not open as a PDF print the page instead,
                                   // without a word to the user or the page.
                                   runPrintOperation(operation ? std::move(operation) : web->printOperation());
                               }));
}

void Velmora::runPrintOperation(std::unique_ptr<platform::PrintOperation> operation) {
    operation->setShowsPrintPanel(true);
    operation->setShowsProgressPanel(true);
    operation->runModal(*window, weakly([this](const platform::PrintResult& result) { printFinished(result); }));
}

void Velmora::printFinished(const platform::PrintResult& result) {
    // Printed or cancelled alike, the page undoes what it changed for printing. It is told once:
    // when the engine printed the page itself, it has sent its own event already.
    if (result.pageNotified) return;
    web->evaluateJavaScript("window.dispatchEvent(new Event('afterprint'))");
}

}  // namespace velmora
