// Binary documents the service hands out: the invoice PDF and the demo archive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace service {

// Returns a two-page invoice as PDF bytes: page 1 portrait A4, page 2 landscape A4.
std::string invoicePdf();

// Returns a ZIP archive (stored, not compressed) holding two small text files.
std::string archiveZip();

// Returns the export of the day's reservations as CSV (semicolons, as French spreadsheets read it).
std::string reservationsCsv();

// Returns the CRC-32 (IEEE 802.3, as used by ZIP) of the bytes.
uint32_t crc32(std::string_view bytes);

// Returns a PDF string literal, parentheses included, for UTF-8 text, in WinAnsi encoding; characters outside it
// become "?".
std::string pdfText(std::string_view utf8);

}  // namespace service
