// The bounds of what a page may send for printing.
#pragma once

#include <cstddef>

namespace velmora {

// The largest PDF document a page may send. The document is parsed in this process, with the
// user's session in it; the console's invoices and lists are far smaller.
inline constexpr std::size_t kMaximumPdfBytes = std::size_t{64} * 1024 * 1024;
// The strict Base64 text of a document of that size, so that a larger one is refused before
// anything is decoded.
inline constexpr std::size_t kMaximumPdfText = (kMaximumPdfBytes + 2) / 3 * 4;

}  // namespace velmora
