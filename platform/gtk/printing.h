// Printing on GTK: the page through WebKit's print operation, PDF documents through poppler
// and a GtkPrintOperation. Both show the print dialog modal on the main window.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/gtk/context.h"
#include "platform/printing.h"

namespace gtk {

// The print settings and page setup of the session, shared by both kinds of printing: a print
// that went through leaves the user's choices (printer, paper, copies) for the next one.
class PrintSetup {
public:
    // Starts with GTK's defaults, a file printed to going into the user's documents folder (or
    // the home folder). With `exportDirectory`, which only tests give, every print writes a PDF
    // file there instead of showing the print dialog.
    explicit PrintSetup(std::optional<std::string> exportDirectory = std::nullopt);
    ~PrintSetup();
    PrintSetup(const PrintSetup&) = delete;
    PrintSetup& operator=(const PrintSetup&) = delete;

    // A copy of the settings the next print starts from; the caller owns it.
    GtkPrintSettings* settings() const;
    // A copy of the page setup the next print starts from; the caller owns it.
    GtkPageSetup* pageSetup() const;
    // Keeps copies of what a print that went through used; null arguments keep the current ones.
    void keep(GtkPrintSettings* settings, GtkPageSetup* pageSetup);
    // With an export folder, the file the next print writes (impression-1.pdf, impression-2.pdf,
    // ...); nullopt when prints go through the dialog.
    std::optional<std::string> nextExportFile();

private:
    GtkPrintSettings* settings_;
    GtkPageSetup* pageSetup_;
    std::optional<std::string> exportDirectory_;
    int exports_ = 0;
};

// An operation printing what `view` shows with WebKit's print dialog.
std::unique_ptr<platform::PrintOperation> makeWebPrintOperation(Context& context, WebKitWebView* view);

// PDF documents opened with poppler, each page scaled to fit the paper and turned to its orientation.
class PopplerPrinting final : public platform::Printing {
public:
    explicit PopplerPrinting(Context& context) : context_(context) {}

    // Printing overrides:
    void openPdf(std::vector<std::uint8_t> bytes,
                 std::function<void(std::unique_ptr<platform::PrintOperation>)> done) override;

private:
    Context& context_;
};

}  // namespace gtk
