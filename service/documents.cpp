#include "documents.h"

#include <glib.h>

#include <array>
#include <cstdio>
#include <vector>

namespace service {

namespace {

// WinAnsi places a few typographic characters in 0x80..0x9F; Latin-1 covers the rest of French.
int winAnsiByte(gunichar c) {
    if (c < 0x80) return static_cast<int>(c);
    if (c >= 0xA0 && c <= 0xFF) return static_cast<int>(c);
    switch (c) {
        case 0x20AC:
            return 0x80;  // euro sign
        case 0x2026:
            return 0x85;  // ellipsis
        case 0x2018:
            return 0x91;
        case 0x2019:
            return 0x92;
        case 0x201C:
            return 0x93;
        case 0x201D:
            return 0x94;
        case 0x2013:
            return 0x96;
        case 0x2014:
            return 0x97;
        default:
            return '?';
    }
}

struct PdfPage {
    int width = 0, height = 0;
    std::string content;
};

void line(std::string& content, int size, int x, int y, std::string_view text) {
    content += "BT /F1 " + std::to_string(size) + " Tf " + std::to_string(x) + " " + std::to_string(y) + " Td " +
               pdfText(text) + " Tj ET\n";
}

void rule(std::string& content, int x1, int x2, int y) {
    content +=
        std::to_string(x1) + " " + std::to_string(y) + " m " + std::to_string(x2) + " " + std::to_string(y) + " l S\n";
}

PdfPage portraitPage() {
    PdfPage page{595, 842, "0.5 w\n"};
    line(page.content, 22, 56, 770, "Facture n° 2026-001");
    line(page.content, 11, 56, 745, "Salon Velmóra — 12 rue des Lilas, 69002 Lyon");
    line(page.content, 11, 56, 715, "Cliente : Camille Durand");
    line(page.content, 11, 56, 700, "Date : 5 janvier 2026");
    rule(page.content, 56, 539, 680);
    line(page.content, 11, 56, 660, "Coupe et brushing");
    line(page.content, 11, 470, 660, "45,00 €");
    line(page.content, 11, 56, 640, "Coloration");
    line(page.content, 11, 470, 640, "62,00 €");
    rule(page.content, 56, 539, 625);
    line(page.content, 12, 56, 605, "Total TTC");
    line(page.content, 12, 470, 605, "107,00 €");
    line(page.content, 9, 56, 60, "Détail des prestations en page 2.");
    return page;
}

PdfPage landscapePage() {
    PdfPage page{842, 595, "0.5 w\n"};
    line(page.content, 18, 56, 530, "Détail des prestations (page 2/2)");
    rule(page.content, 56, 786, 510);
    line(page.content, 11, 56, 490, "Date");
    line(page.content, 11, 200, 490, "Prestation");
    line(page.content, 11, 520, 490, "Intervenante");
    line(page.content, 11, 700, 490, "Montant");
    line(page.content, 11, 56, 465, "05/01/2026");
    line(page.content, 11, 200, 465, "Coupe et brushing");
    line(page.content, 11, 520, 465, "Élise Marchand");
    line(page.content, 11, 700, 465, "45,00 €");
    line(page.content, 11, 56, 445, "05/01/2026");
    line(page.content, 11, 200, 445, "Coloration");
    line(page.content, 11, 520, 445, "Élise Marchand");
    line(page.content, 11, 700, 445, "62,00 €");
    rule(page.content, 56, 786, 430);
    return page;
}

void putLe16(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void putLe32(std::string& out, uint32_t value) {
    putLe16(out, value & 0xFFFF);
    putLe16(out, value >> 16);
}

}  // namespace

std::string pdfText(std::string_view utf8) {
    std::string out = "(";
    const char* p = utf8.data();
    const char* end = utf8.data() + utf8.size();
    while (p < end) {
        const gunichar c = g_utf8_get_char_validated(p, end - p);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            out += '?';
            ++p;
            continue;
        }
        p = g_utf8_next_char(p);
        const int byte = winAnsiByte(c);
        if (byte == '(' || byte == ')' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
        } else {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", byte);
            out += octal;
        }
    }
    return out + ")";
}

std::string invoicePdf() {
    // A hand-assembled PDF: the service needs one fixed document, and no PDF writer is otherwise needed.
    // Objects: 1 catalog, 2 page tree, 3 font, then a page and its content stream per page.
    const std::vector<PdfPage> pages{portraitPage(), landscapePage()};
    const int objectCount = 3 + 2 * static_cast<int>(pages.size());
    std::vector<size_t> offsets(objectCount + 1, 0);
    std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    auto begin = [&](int number) {
        offsets[number] = out.size();
        out += std::to_string(number) + " 0 obj\n";
    };

    begin(1);
    out += "<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
    begin(2);
    out += "<< /Type /Pages /Kids [";
    for (size_t i = 0; i < pages.size(); ++i) out += (i ? " " : "") + std::to_string(4 + 2 * i) + " 0 R";
    out += "] /Count " + std::to_string(pages.size()) + " >>\nendobj\n";
    begin(3);
    out += "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>\nendobj\n";
    for (size_t i = 0; i < pages.size(); ++i) {
        const int pageObject = 4 + 2 * static_cast<int>(i);
        begin(pageObject);
        out += "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(pages[i].width) + " " +
               std::to_string(pages[i].height) + "] /Resources << /Font << /F1 3 0 R >> >> /Contents " +
               std::to_string(pageObject + 1) + " 0 R >>\nendobj\n";
        begin(pageObject + 1);
        out += "<< /Length " + std::to_string(pages[i].content.size()) + " >>\nstream\n" + pages[i].content +
               "endstream\nendobj\n";
    }

    const size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objectCount + 1) + "\n0000000000 65535 f \n";
    for (int number = 1; number <= objectCount; ++number) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offsets[number]);
        out += entry;
    }
    out += "trailer\n<< /Size " + std::to_string(objectCount + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return out;
}

uint32_t crc32(std::string_view bytes) {
    // Written out because GLib has no CRC-32 and the archive is the only user.
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string reservationsCsv() {
    return "date;heure;client;prestation;montant\r\n"
           "2026-12-08;09:30;Camille Martin;Coupe et brushing;48,00 €\r\n"
           "2026-12-08;11:00;Louis Bernard;Barbe;22,00 €\r\n"
           "2026-12-08;14:15;Inès Petit;Couleur;85,00 €\r\n";
}

std::string archiveZip() {
    // Stored entries need no compressor; the archive only has to be a valid ZIP file that the web view
    // cannot display.
    struct File {
        std::string name, data;
    };
    const std::vector<File> files{
        {"lisez-moi.txt", "Archive de démonstration du salon Velmóra.\n"},
        {"factures/facture-2026-001.txt", "Facture n° 2026-001 — total 107,00 €\n"},
    };
    const uint32_t dosTime = 10u << 11;                                // 10:00:00
    const uint32_t dosDate = ((2026u - 1980u) << 9) | (1u << 5) | 5u;  // 5 January 2026
    const uint32_t utf8Names = 0x0800;

    std::string out, central;
    for (const auto& file : files) {
        const uint32_t crc = crc32(file.data);
        const auto size = static_cast<uint32_t>(file.data.size());
        const auto nameLength = static_cast<uint32_t>(file.name.size());
        const auto localOffset = static_cast<uint32_t>(out.size());

        putLe32(out, 0x04034b50);
        putLe16(out, 20);
        putLe16(out, utf8Names);
        putLe16(out, 0);  // stored
        putLe16(out, dosTime);
        putLe16(out, dosDate);
        putLe32(out, crc);
        putLe32(out, size);
        putLe32(out, size);
        putLe16(out, nameLength);
        putLe16(out, 0);
        out += file.name;
        out += file.data;

        putLe32(central, 0x02014b50);
        putLe16(central, 20);
        putLe16(central, 20);
        putLe16(central, utf8Names);
        putLe16(central, 0);
        putLe16(central, dosTime);
        putLe16(central, dosDate);
        putLe32(central, crc);
        putLe32(central, size);
        putLe32(central, size);
        putLe16(central, nameLength);
        putLe16(central, 0);  // extra
        putLe16(central, 0);  // comment
        putLe16(central, 0);  // disk
        putLe16(central, 0);  // internal attributes
        putLe32(central, 0);  // external attributes
        putLe32(central, localOffset);
        central += file.name;
    }
    const auto centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    putLe32(out, 0x06054b50);
    putLe16(out, 0);
    putLe16(out, 0);
    putLe16(out, static_cast<uint32_t>(files.size()));
    putLe16(out, static_cast<uint32_t>(files.size()));
    putLe32(out, static_cast<uint32_t>(central.size()));
    putLe32(out, centralOffset);
    putLe16(out, 0);
    return out;
}

}  // namespace service
