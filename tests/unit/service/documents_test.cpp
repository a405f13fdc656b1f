// The demo documents the service hands out: readers check their structure, so the tests do too.
#include "documents.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace service {
namespace {

uint32_t le16(const std::string& bytes, size_t at) {
    return static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8);
}
uint32_t le32(const std::string& bytes, size_t at) { return le16(bytes, at) | (le16(bytes, at + 2) << 16); }
size_t numberAt(const std::string& text, size_t at) { return std::strtoul(text.c_str() + at, nullptr, 10); }

TEST(InvoicePdf, CrossReferenceTableAndStreamLengthsHold) {
    const std::string pdf = invoicePdf();
    ASSERT_TRUE(pdf.starts_with("%PDF-1.4\n") && pdf.ends_with("%%EOF\n"));
    const size_t xref = numberAt(pdf, pdf.rfind("startxref\n") + 10);
    ASSERT_EQ(pdf.compare(xref, 7, "xref\n0 "), 0);
    const size_t count = numberAt(pdf, xref + 7), entries = pdf.find('\n', xref + 7) + 1;
    ASSERT_EQ(pdf.compare(entries, 20, "0000000000 65535 f \n"), 0);
    for (size_t number = 1; number < count; ++number) {
        const std::string entry = pdf.substr(entries + 20 * number, 20), object = std::to_string(number) + " 0 obj";
        ASSERT_TRUE(entry.ends_with(" 00000 n \n")) << entry;
        EXPECT_EQ(pdf.compare(numberAt(entry, 0), object.size(), object), 0) << object;
    }
    size_t streams = 0;
    for (size_t at = pdf.find("/Length "); at != std::string::npos; at = pdf.find("/Length ", at + 1), ++streams) {
        EXPECT_EQ(pdf.compare(pdf.find("stream\n", at) + 7 + numberAt(pdf, at + 8), 9, "endstream"), 0);
    }
    EXPECT_EQ(streams, 2u);
}

TEST(InvoicePdf, HasAPortraitAndThenALandscapePage) {
    const std::string pdf = invoicePdf();
    EXPECT_NE(pdf.find("/Count 2"), std::string::npos);
    EXPECT_EQ(pdf.find("/Type /Page ", pdf.find("/Type /Page ", pdf.find("/Type /Page ") + 1) + 1), std::string::npos);
    EXPECT_LT(pdf.find("/MediaBox [0 0 595 842]"), pdf.find("/MediaBox [0 0 842 595]"));
}

TEST(InvoicePdf, WritesFrenchTextInWinAnsi) {
    EXPECT_EQ(pdfText("Facture"), "(Facture)");
    EXPECT_EQ(pdfText("a(b)c\\"), "(a\\(b\\)c\\\\)");
    EXPECT_EQ(pdfText("Détail"), "(D\\351tail)");
    EXPECT_EQ(pdfText("45,00 €"), "(45,00 \\200)");
    EXPECT_EQ(pdfText("Salon — Lyon"), "(Salon \\227 Lyon)");
    EXPECT_EQ(pdfText("東京"), "(\?\?)");  // escaped so the pair is not read as a trigraph
}

TEST(DemoArchive, IsAZipWhoseDirectoryAndChecksumsHold) {
    EXPECT_EQ(crc32("123456789"), 0xCBF43926u);  // the standard check value
    EXPECT_EQ(crc32(""), 0u);
    const std::string zip = archiveZip();
    ASSERT_GE(zip.size(), 22u);
    const size_t end = zip.size() - 22;
    ASSERT_EQ(le32(zip, end), 0x06054b50u);
    const uint32_t entries = le16(zip, end + 10), directory = le32(zip, end + 16);
    EXPECT_EQ(entries, 2u);
    EXPECT_EQ(directory + le32(zip, end + 12), end);
    for (size_t central = directory, i = 0; i < entries; ++i, central += 46 + le16(zip, central + 28)) {
        ASSERT_EQ(le32(zip, central), 0x02014b50u);
        const uint32_t crc = le32(zip, central + 16), local = le32(zip, central + 42);
        ASSERT_EQ(le32(zip, local), 0x04034b50u);
        const size_t data = local + 30 + le16(zip, local + 26) + le16(zip, local + 28);
        EXPECT_EQ(crc32(std::string_view(zip).substr(data, le32(zip, central + 24))), crc);
        EXPECT_EQ(le32(zip, local + 14), crc);
    }
}

}  // namespace
}  // namespace service
