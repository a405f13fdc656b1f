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

size_t countOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST(InvoicePdf, CrossReferenceTablePointsAtEveryObject) {
    const std::string pdf = invoicePdf();
    ASSERT_TRUE(pdf.starts_with("%PDF-1.4\n"));
    ASSERT_TRUE(pdf.ends_with("%%EOF\n"));
    const size_t startxref = pdf.rfind("startxref\n");
    ASSERT_NE(startxref, std::string::npos);
    const size_t xref = std::strtoul(pdf.c_str() + startxref + 10, nullptr, 10);
    ASSERT_EQ(pdf.compare(xref, 7, "xref\n0 "), 0);
    const size_t countAt = xref + 7;
    const int count = std::atoi(pdf.c_str() + countAt);
    const size_t entries = pdf.find('\n', countAt) + 1;
    ASSERT_EQ(pdf.compare(entries, 20, "0000000000 65535 f \n"), 0);
    for (int number = 1; number < count; ++number) {
        const std::string entry = pdf.substr(entries + 20 * number, 20);
        ASSERT_TRUE(entry.ends_with(" 00000 n \n")) << entry;
        const size_t offset = std::strtoul(entry.c_str(), nullptr, 10);
        EXPECT_EQ(pdf.compare(offset, std::to_string(number).size() + 6, std::to_string(number) + " 0 obj"), 0)
            << "object " << number;
    }
}

TEST(InvoicePdf, HasAPortraitAndALandscapePage) {
    const std::string pdf = invoicePdf();
    EXPECT_EQ(countOf(pdf, "/Type /Page "), 2u);
    EXPECT_NE(pdf.find("/Count 2"), std::string::npos);
    EXPECT_LT(pdf.find("/MediaBox [0 0 595 842]"), pdf.find("/MediaBox [0 0 842 595]"));
}

TEST(InvoicePdf, StreamLengthsMatchTheirContent) {
    const std::string pdf = invoicePdf();
    size_t streams = 0;
    for (size_t at = pdf.find("/Length "); at != std::string::npos; at = pdf.find("/Length ", at + 1)) {
        const size_t length = std::strtoul(pdf.c_str() + at + 8, nullptr, 10);
        const size_t data = pdf.find("stream\n", at) + 7;
        EXPECT_EQ(pdf.compare(data + length, 9, "endstream"), 0);
        ++streams;
    }
    EXPECT_EQ(streams, 2u);
}

TEST(InvoicePdf, WritesFrenchTextInWinAnsi) {
    const struct {
        const char* utf8;
        const char* expected;
    } cases[] = {
        {"Facture", "(Facture)"},
        {"a(b)c\\", "(a\\(b\\)c\\\\)"},
        {"Détail", "(D\\351tail)"},
        {"45,00 €", "(45,00 \\200)"},
        {"Salon — Lyon", "(Salon \\227 Lyon)"},
        {"東京", "(\?\?)"},  // escaped so the pair is not read as a trigraph
    };
    for (const auto& c : cases) EXPECT_EQ(pdfText(c.utf8), c.expected) << c.utf8;
}

TEST(DemoArchive, Crc32MatchesTheStandardCheckValue) {
    EXPECT_EQ(crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(crc32(""), 0u);
}

TEST(DemoArchive, IsAZipWhoseDirectoryAndChecksumsHold) {
    const std::string zip = archiveZip();
    ASSERT_GE(zip.size(), 22u);
    const size_t end = zip.size() - 22;
    ASSERT_EQ(le32(zip, end), 0x06054b50u);
    const uint32_t entries = le16(zip, end + 10);
    const uint32_t directoryOffset = le32(zip, end + 16);
    EXPECT_EQ(entries, 2u);
    EXPECT_EQ(directoryOffset + le32(zip, end + 12), end);

    size_t central = directoryOffset;
    for (uint32_t i = 0; i < entries; ++i) {
        ASSERT_EQ(le32(zip, central), 0x02014b50u);
        const uint32_t crc = le32(zip, central + 16);
        const uint32_t size = le32(zip, central + 24);
        const uint32_t nameLength = le16(zip, central + 28);
        const uint32_t local = le32(zip, central + 42);
        ASSERT_EQ(le32(zip, local), 0x04034b50u);
        const size_t data = local + 30 + le16(zip, local + 26) + le16(zip, local + 28);
        EXPECT_EQ(crc32(std::string_view(zip).substr(data, size)), crc);
        EXPECT_EQ(le32(zip, local + 14), crc);
        central += 46 + nameLength;
    }
}

}  // namespace
}  // namespace service
