// peimage.cpp - finding a certificate table and clearing it from a copy.
//
// Offsets in the image's headers (all little-endian):
//   0x00 "MZ"; 0x3C offset of the "PE\0\0" signature (called pe below)
//   pe + 4   file header, 20 bytes; pe + 20 size of the optional header
//   pe + 24  optional header: magic 0x10B (32-bit) or 0x20B (64-bit)
//            checksum at +64; directory count at +92 / +108;
//            directories at +96 / +112, 8 bytes each; entry 4 is the
//            certificate table, whose "address" is a file offset.
//   pe + 4   machine (0x14C: i386); pe + 6 number of sections
//   pe + 24 + size of the optional header: the section table, 40 bytes a
//            section: raw data size at +16, its file offset at +20,
//            characteristics at +36 (0x80000000: writable)
#include "package/peimage.h"

#include "coding/littleendian.h"

enum {
    HEADER_READ_SIZE = 1024,   // DOS stub and PE headers of every program we build fit easily
    SECURITY_DIRECTORY = 4,
    CERTIFICATE_HEADER_SIZE = 8
};

struct HeaderFields {
    int32_t checksumAt;        // offsets into the image
    int32_t securityAt;
    int32_t headersEnd;
};

// Locates the checksum and certificate directory in the first length bytes.
static int locateFields(const uint8_t* image, int32_t length, HeaderFields* fields)
{
    if (length < 0x40 || image[0] != 'M' || image[1] != 'Z')
        return 0;
    uint32_t pe = readLe32(image + 0x3C);
    if (pe > (uint32_t)length || (uint32_t)length - pe < 24 + 2)
        return 0;
    const uint8_t* at = image + pe;
    if (at[0] != 'P' || at[1] != 'E' || at[2] != 0 || at[3] != 0)
        return 0;
    uint32_t optionalSize = readLe16(at + 20);
    uint32_t optional = pe + 24;
    uint32_t magic = readLe16(image + optional);
    uint32_t countAt, directories;
    if (magic == 0x10B) {
        countAt = 92;
        directories = 96;
    } else if (magic == 0x20B) {
        countAt = 108;
        directories = 112;
    } else {
        return 0;
    }
    uint32_t securityEnd = directories + (SECURITY_DIRECTORY + 1) * 8;
    if (optionalSize < securityEnd || (uint32_t)length - optional < securityEnd)
        return 0;
    if (readLe32(image + optional + countAt) <= SECURITY_DIRECTORY)
        return 0;
    fields->checksumAt = (int32_t)(optional + 64);
    fields->securityAt = (int32_t)(optional + directories + SECURITY_DIRECTORY * 8);
    fields->headersEnd = (int32_t)(optional + optionalSize);
    return 1;
}

int signatureDirectory(const uint8_t* image, int32_t length, int32_t* tableOffset, int32_t* tableSize)
{
    HeaderFields fields;
    *tableOffset = 0;
    *tableSize = 0;
    if (!locateFields(image, length, &fields))
        return 0;
    *tableOffset = (int32_t)readLe32(image + fields.securityAt);
    *tableSize = (int32_t)readLe32(image + fields.securityAt + 4);
    return 1;
}

int clearSignatureFields(uint8_t* image, int32_t length)
{
    HeaderFields fields;
    if (!locateFields(image, length, &fields))
        return 0;
    writeLe32(image + fields.checksumAt, 0);
    writeLe32(image + fields.securityAt, 0);
    writeLe32(image + fields.securityAt + 4, 0);
    return 1;
}

static int readAt(FileHandle file, int32_t position, uint8_t* buffer, int32_t count)
{
    return fileSeek(file, position) && fileRead(file, buffer, count) == count;
}

// A certificate table is a chain of records, each starting with its length
// (header included) and padded to a multiple of 8; the chain fills the table.
static int isCertificateChain(FileHandle file, int32_t offset, int32_t size)
{
    int32_t at = 0;
    while (at < size) {
        uint8_t header[CERTIFICATE_HEADER_SIZE];
        if (size - at < CERTIFICATE_HEADER_SIZE || !readAt(file, offset + at, header, sizeof header))
            return 0;
        uint32_t length = readLe32(header);
        if (length < CERTIFICATE_HEADER_SIZE || length > (uint32_t)(size - at))
            return 0;
        at += (int32_t)((length + 7) & ~7u);
    }
    return at == size;
}

int findPackageEnd(FileHandle file, int32_t fileSize, int32_t* packageEnd, PeSignature* signature)
{
    signature->tableOffset = 0;
    signature->tableSize = 0;
    *packageEnd = fileSize;
    uint8_t header[HEADER_READ_SIZE];
    int32_t length = fileSize < HEADER_READ_SIZE ? fileSize : HEADER_READ_SIZE;
    HeaderFields fields;
    if (length <= 0 || !readAt(file, 0, header, length) || !locateFields(header, length, &fields))
        return SIGNATURE_NONE;
    int32_t offset, size;
    signatureDirectory(header, length, &offset, &size);
    if (size == 0)
        return SIGNATURE_NONE;
    // Compared as unsigned so that a negative field can never pass.
    uint32_t start = (uint32_t)offset, count = (uint32_t)size;
    if (start % 8 != 0 || start < (uint32_t)fields.headersEnd || start > (uint32_t)fileSize ||
        count != (uint32_t)fileSize - start || !isCertificateChain(file, offset, size)) {
        *packageEnd = -1;
        return SIGNATURE_MISPLACED;
    }
    signature->tableOffset = offset;
    signature->tableSize = size;
    *packageEnd = offset;
    return SIGNATURE_AT_END;
}

int setupImageProblem(const uint8_t* image, int32_t length, int32_t offset, int32_t count)
{
    enum { MACHINE_I386 = 0x14C, SECTION_SIZE = 40, SECTION_WRITABLE = 0x80000000u };
    if (length < 0x40 || image[0] != 'M' || image[1] != 'Z')
        return IMAGE_NOT_A_PROGRAM;
    uint32_t pe = readLe32(image + 0x3C);
    if (pe > (uint32_t)length || (uint32_t)length - pe < 24 + 2)
        return IMAGE_NOT_A_PROGRAM;
    const uint8_t* at = image + pe;
    if (at[0] != 'P' || at[1] != 'E' || at[2] != 0 || at[3] != 0)
        return IMAGE_NOT_A_PROGRAM;
    uint32_t sections = readLe16(at + 6);
    uint32_t table = pe + 24 + readLe16(at + 20);
    if (offset < 0 || count < 0)
        return IMAGE_OUTSIDE_DATA;
    for (uint32_t i = 0; i < sections; i++) {
        uint32_t entry = table + i * SECTION_SIZE;
        if (entry > (uint32_t)length || (uint32_t)length - entry < SECTION_SIZE)
            return IMAGE_NOT_A_PROGRAM;
        uint32_t size = readLe32(image + entry + 16), start = readLe32(image + entry + 20);
        uint32_t flags = readLe32(image + entry + 36);
        // Compared as differences, so that no field can wrap round.
        if ((flags & SECTION_WRITABLE) && (uint32_t)offset >= start && (uint32_t)offset - start <= size &&
            (uint32_t)count <= size - ((uint32_t)offset - start))
            return readLe16(at + 4) == MACHINE_I386 && readLe16(at + 24) == 0x10B ? IMAGE_SETUP_PROGRAM : IMAGE_NOT_I386;
    }
    return IMAGE_OUTSIDE_DATA;
}
