// Printing the page or a PDF document.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

class Window;

class PrintOperation {
public:
    virtual ~PrintOperation() = default;
    // Whether the print dialog is shown before printing.
    virtual void setShowsPrintPanel(bool shows) = 0;
    // Whether progress is shown while printing.
    virtual void setShowsProgressPanel(bool shows) = 0;
    // Runs the operation modal on `window` and returns at once; `done` runs once when it ends,
    // printed or cancelled, with whether it printed. The operation keeps itself alive until then.
    virtual void runModal(Window& window, std::function<void(bool success)> done) = 0;
};

class Printing {
public:
    virtual ~Printing() = default;
    // An operation printing the PDF document `bytes` with every page scaled to fit the paper
    // and rotated for landscape pages; nullptr when the bytes do not open as a PDF.
    virtual std::unique_ptr<PrintOperation> pdfPrintOperation(const std::vector<std::uint8_t>& bytes) = 0;
};

}  // namespace platform
