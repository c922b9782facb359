// test_peimage.cpp - finding a certificate table at the end of a program
// image, and clearing the signature fields of a copy.
#include <gtest/gtest.h>

#include "coding/fileio.h"
#include "coding/littleendian.h"
#include "package/package.h"
#include "package/packageerror.h"
#include "package/peimage.h"
#include "package/writer.h"
#include "pkgtestutil.h"
#include "testutil.h"

namespace {

const int peAt = 0x80;
const int optionalAt = peAt + 24;

// A program image's headers as a linker writes them: DOS header, "PE\0\0",
// file header and an optional header with 16 directories, then body bytes.
Bytes imageHeaders(uint16_t magic, size_t totalSize)
{
    Bytes image(totalSize, 0x90);
    const int optionalSize = magic == 0x10B ? 224 : 240;
    std::fill(image.begin(), image.begin() + optionalAt + optionalSize, 0);
    image[0] = 'M';
    image[1] = 'Z';
    writeLe32(&image[0x3C], peAt);
    image[peAt] = 'P';
    image[peAt + 1] = 'E';
    writeLe16(&image[peAt + 20], optionalSize);
    writeLe16(&image[optionalAt], magic);
    writeLe32(&image[optionalAt + 64], 0x1234567);                        // a checksum
    writeLe32(&image[optionalAt + (magic == 0x10B ? 92 : 108)], 16);     // directories
    return image;
}

int securityAt(uint16_t magic) { return optionalAt + (magic == 0x10B ? 96 : 112) + 4 * 8; }

void setSecurity(Bytes& image, uint16_t magic, uint32_t offset, uint32_t size)
{
    writeLe32(&image[securityAt(magic)], offset);
    writeLe32(&image[securityAt(magic) + 4], size);
}

// A certificate record of the given length (header included), padded to 8.
Bytes certificate(uint32_t length)
{
    Bytes record((length + 7) & ~7u, 0x30);
    writeLe32(&record[0], length);
    writeLe16(&record[4], 0x0200);
    writeLe16(&record[6], 0x0002);
    return record;
}

void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

struct Layout {
    const char* what;
    uint16_t magic;          // 0: not a program image at all
    int32_t tableAt;         // -1: no table; else where the directory says it starts
    uint32_t tableSize;      // what the directory says
    Bytes table;             // what actually follows the 4096 bytes of image and "package"
    Bytes after;             // bytes after the table
    int expected;
    int32_t expectedEnd;     // -2: the file's size
};

}  // namespace

TEST(PeImage, FindsWherePackageEndsForEachLayout)
{
    const int32_t body = 4096;
    Bytes chain = certificate(1500);
    append(chain, certificate(13));
    const Layout layouts[] = {
        {"a plain package file", 0, -1, 0, {}, {}, SIGNATURE_NONE, -2},
        {"an unsigned 32-bit image", 0x10B, -1, 0, {}, {}, SIGNATURE_NONE, -2},
        {"an empty directory entry with an offset", 0x10B, body, 0, {}, {}, SIGNATURE_NONE, -2},
        {"a table at the end", 0x10B, body, 1504, certificate(1500), {}, SIGNATURE_AT_END, body},
        {"a 64-bit image with a table at the end", 0x20B, body, 1504, certificate(1500), {}, SIGNATURE_AT_END,
         body},
        {"two certificates in the table", 0x10B, body, (uint32_t)chain.size(), chain, {}, SIGNATURE_AT_END, body},
        {"bytes after the table", 0x10B, body, 1504, certificate(1500), bytesOf("x"), SIGNATURE_MISPLACED, -1},
        {"a table pointing outside the file", 0x10B, body + 4096, 1504, certificate(1500), {},
         SIGNATURE_MISPLACED, -1},
        {"a table pointing into the package", 0x10B, body - 8, 1512, certificate(1500), {}, SIGNATURE_MISPLACED,
         -1},
        {"a table not on an 8-byte boundary", 0x10B, body + 4, 1504, [] { Bytes b(4, 0); append(b, certificate(1500));
                                                                            return b; }(),
         {}, SIGNATURE_MISPLACED, -1},
        {"a table inside the headers", 0x10B, 64, 4096 - 64, {}, {}, SIGNATURE_MISPLACED, -1},
        {"a record longer than the table", 0x10B, body, 1504, [] { Bytes b = certificate(1500);
                                                              writeLe32(&b[0], 1600); return b; }(),
         {}, SIGNATURE_MISPLACED, -1},
        {"a record of length 0", 0x10B, body, 16, Bytes(16, 0), {}, SIGNATURE_MISPLACED, -1},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.what);
        Bytes file = layout.magic ? imageHeaders(layout.magic, body) : randomBytes(body, 3);
        if (layout.magic && layout.tableAt >= 0)
            setSecurity(file, layout.magic, (uint32_t)layout.tableAt, layout.tableSize);
        append(file, layout.table);
        append(file, layout.after);
        std::string path = tempPath("image.exe");
        writeFileBytes(path, file);
        FileHandle handle = fileOpenRead(path.c_str());
        ASSERT_NE(handle, INVALID_FILE);
        int32_t end = 12345;
        PeSignature signature = {77, 77};
        EXPECT_EQ(findPackageEnd(handle, (int32_t)file.size(), &end, &signature), layout.expected);
        EXPECT_EQ(end, layout.expectedEnd == -2 ? (int32_t)file.size() : layout.expectedEnd);
        if (layout.expected == SIGNATURE_AT_END) {
            EXPECT_EQ(signature.tableOffset, layout.tableAt);
            EXPECT_EQ(signature.tableSize, (int32_t)layout.tableSize);
        } else {
            EXPECT_EQ(signature.tableOffset, 0);
            EXPECT_EQ(signature.tableSize, 0);
        }
        fileClose(handle);
    }
}

TEST(PeImage, TinyAndDamagedHeadersAreNoImage)
{
    const struct {
        const char* what;
        Bytes bytes;
    } files[] = {
        {"empty", {}},
        {"MZ alone", bytesOf("MZ")},
        {"PE offset beyond the file", [] { Bytes b = imageHeaders(0x10B, 512); writeLe32(&b[0x3C], 0x7FFFFFF0);
                                           return b; }()},
        {"unknown optional header magic", [] { Bytes b = imageHeaders(0x10B, 512); writeLe16(&b[optionalAt], 0x107);
                                               return b; }()},
        {"four directories only", [] { Bytes b = imageHeaders(0x10B, 512); writeLe32(&b[optionalAt + 92], 4);
                                       setSecurity(b, 0x10B, 512, 8); return b; }()},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.what);
        std::string path = tempPath("tiny.exe");
        writeFileBytes(path, file.bytes);
        FileHandle handle = fileOpenRead(path.c_str());
        ASSERT_NE(handle, INVALID_FILE);
        int32_t end = -7;
        PeSignature signature;
        EXPECT_EQ(findPackageEnd(handle, (int32_t)file.bytes.size(), &end, &signature), SIGNATURE_NONE);
        EXPECT_EQ(end, (int32_t)file.bytes.size());
        fileClose(handle);
        Bytes copy = file.bytes;
        EXPECT_EQ(clearSignatureFields(copy.data(), (int32_t)copy.size()), 0);
        EXPECT_EQ(copy, file.bytes);
    }
}

TEST(PeImage, ClearingTheSignatureTouchesOnlyChecksumAndDirectory)
{
    for (uint16_t magic : {uint16_t(0x10B), uint16_t(0x20B)}) {
        SCOPED_TRACE(magic);
        Bytes image = imageHeaders(magic, 1024);
        setSecurity(image, magic, 4096, 1504);
        Bytes cleared = image;
        ASSERT_EQ(clearSignatureFields(cleared.data(), (int32_t)cleared.size()), 1);
        int32_t offset = -1, size = -1;
        ASSERT_EQ(signatureDirectory(cleared.data(), (int32_t)cleared.size(), &offset, &size), 1);
        EXPECT_EQ(offset, 0);
        EXPECT_EQ(size, 0);
        EXPECT_EQ(readLe32(&cleared[optionalAt + 64]), 0u);
        for (size_t i = 0; i < image.size(); i++) {
            bool field = (i >= (size_t)optionalAt + 64 && i < (size_t)optionalAt + 68) ||
                         (i >= (size_t)securityAt(magic) && i < (size_t)securityAt(magic) + 8);
            if (!field) {
                ASSERT_EQ(cleared[i], image[i]) << "byte " << i;
            }
        }
        // Headers cut off before the directory are left alone.
        Bytes cut(image.begin(), image.begin() + securityAt(magic) + 4);
        Bytes cutCopy = cut;
        EXPECT_EQ(clearSignatureFields(cutCopy.data(), (int32_t)cutCopy.size()), 0);
        EXPECT_EQ(cutCopy, cut);
    }
}

// ---- the package library on signed files ----------------------------------

class SignedPackage : public PackageTest {};

namespace {

// A setup as the builder writes it: the program image as "MAIN" at offset 0,
// a product file, the directory; padded so that it ends on a multiple of 8.
Bytes setupPackage(Bytes* mainImage)
{
    *mainImage = imageHeaders(0x10B, 3000);
    const Bytes product = textBytes(777, 5);
    std::string path = tempPath("setup.pkg");
    EXPECT_NE(createPackage(path.c_str()), INVALID_FILE);
    EXPECT_EQ(addMemory(mainImage->data(), (int32_t)mainImage->size(), "MAIN", 0), 1);
    EXPECT_EQ(addMemory(product.data(), (int32_t)product.size(), "File1", 0), 1);
    EXPECT_EQ(padPackageData(8), 1);
    EXPECT_EQ(closePackage(packageWriterHandle()), 1);
    return readFileBytes(path);
}

}  // namespace

TEST_F(SignedPackage, BuilderPaddingEndsThePackageOnAMultipleOfEight)
{
    Bytes image;
    Bytes file = setupPackage(&image);
    EXPECT_EQ(file.size() % 8, 0u);
    // 3000 + 777 data bytes, then seven zero bytes, then two records.
    ASSERT_EQ(file.size(), 3000u + 777 + 7 + 2 * ENTRY_SIZE);
    EXPECT_EQ(Bytes(file.begin() + 3777, file.begin() + 3784), Bytes(7, 0));
    std::string path = tempPath("padded.pkg");
    writeFileBytes(path, file);
    ASSERT_NE(openPackage(path.c_str()), INVALID_FILE);
    Bytes content;
    EXPECT_TRUE(extractBytes("File1", content));
    EXPECT_EQ(content, textBytes(777, 5));
    // Already aligned: nothing more is written; without a package: refused.
    ASSERT_NE(createPackage(tempPath("aligned.pkg").c_str()), INVALID_FILE);
    EXPECT_EQ(addMemory(image.data(), 3000, "MAIN", 0), 1);
    EXPECT_EQ(padPackageData(8), 1);
    EXPECT_EQ(fileTell(packageWriterHandle()), 3000);
    EXPECT_EQ(closePackage(packageWriterHandle()), 1);
    EXPECT_EQ(padPackageData(8), 0);
    EXPECT_EQ(packageLastError(), PACKAGE_NOT_OPEN);
}

TEST_F(SignedPackage, OpensBeforeACertificateTableAndNowhereElse)
{
    Bytes image;
    const Bytes unsigned_ = setupPackage(&image);
    const int32_t end = (int32_t)unsigned_.size();
    const struct {
        const char* what;
        int32_t tableAt;         // -1: no table in the headers
        uint32_t tableSize;
        Bytes after;             // appended after the package
        bool opens;
        PackageError error;
    } layouts[] = {
        {"no table", -1, 0, {}, true, PACKAGE_OK},
        {"a table right after the package", end, 1504, certificate(1500), true, PACKAGE_OK},
        {"a table after the signer's own padding", end + 8, 1504,
         [] { Bytes b(8, 0); append(b, certificate(1500)); return b; }(), false, PACKAGE_NO_DIRECTORY},
        {"a table pointing outside the file", end + 4096, 1504, certificate(1500), false, PACKAGE_BAD_SIGNATURE},
        {"a table pointing into the package", end - 40, 1544,
         [] { Bytes b = certificate(1500); return b; }(), false, PACKAGE_BAD_SIGNATURE},
        {"a table followed by bytes", end, 1504, [] { Bytes b = certificate(1500); append(b, bytesOf("junk0000"));
                                                     return b; }(), false, PACKAGE_BAD_SIGNATURE},
        {"no table named, bytes appended", -1, 0, certificate(1500), false, PACKAGE_NO_DIRECTORY},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.what);
        Bytes file = unsigned_;
        if (layout.tableAt >= 0)
            setSecurity(file, 0x10B, (uint32_t)layout.tableAt, layout.tableSize);
        append(file, layout.after);
        std::string path = tempPath("signed.exe");
        writeFileBytes(path, file);
        FileHandle handle = openPackage(path.c_str());
        EXPECT_EQ(handle != INVALID_FILE, layout.opens);
        if (layout.opens) {
            EXPECT_EQ(packageEntryCount(), 2);
            Bytes content;
            EXPECT_TRUE(extractBytes("File1", content));
            EXPECT_EQ(content, textBytes(777, 5));
            closePackage(handle);
        } else {
            EXPECT_EQ(packageLastError(), layout.error);
        }
    }
}

TEST_F(SignedPackage, CopyOfTheProgramLosesOnlyItsSignatureFields)
{
    Bytes image;
    Bytes file = setupPackage(&image);
    setSecurity(file, 0x10B, (uint32_t)file.size(), 1504);
    append(file, certificate(1500));
    std::string setup = tempPath("signed-setup.exe"), copy = tempPath("uninst.exe");
    writeFileBytes(setup, file);
    ASSERT_NE(openPackage(setup.c_str()), INVALID_FILE);
    ASSERT_NE(createPackage(copy.c_str()), INVALID_FILE);
    ASSERT_EQ(copyEntry("MAIN", XFER_UNSIGN), 1);
    ASSERT_EQ(closePackage(packageWriterHandle()), 1);
    closePackage(packageReaderHandle());

    const Bytes written = readFileBytes(copy);
    ASSERT_GE(written.size(), image.size());
    Bytes main(written.begin(), written.begin() + (long)image.size());
    int32_t offset = -1, size = -1;
    ASSERT_EQ(signatureDirectory(main.data(), (int32_t)main.size(), &offset, &size), 1);
    EXPECT_EQ(offset, 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(readLe32(&main[optionalAt + 64]), 0u);
    Bytes expected(file.begin(), file.begin() + (long)image.size());
    clearSignatureFields(expected.data(), (int32_t)expected.size());
    EXPECT_EQ(main, expected);
    // The copy opens as a package without any table.
    ASSERT_NE(openPackage(copy.c_str()), INVALID_FILE);
    EXPECT_EQ(getExtractedSize("MAIN"), (int32_t)image.size());
}
