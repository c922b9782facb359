// setuplayout.cpp - entry names, the plain-file-name rule, the bitmap check.
#include "app/setuplayout.h"

#include <string.h>

#include "app/setupconfig.h"
#include "coding/littleendian.h"

#define AS_NAME(name) #name,
const char* const decorativeBitmapNames[DECORATION_COUNT] = {DECORATIVE_BITMAP_LIST(AS_NAME)};
#undef AS_NAME

static int sameNoCase(const char* text, size_t length, const char* word)
{
    size_t i = 0;
    for (; i < length && word[i]; i++)
        if (lowerAscii(text[i]) != lowerAscii(word[i]))
            return 0;
    return i == length && !word[i];
}

// The part before the first dot, spaces around it left out, names a device:
// "nul.txt" and "COM1 .log" open the device, not a file.
static int isDeviceName(const char* name)
{
    size_t start = 0, end = 0;
    while (name[end] && name[end] != '.')
        end++;
    while (start < end && name[start] == ' ')
        start++;
    while (end > start && name[end - 1] == ' ')
        end--;
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char* device : devices)
        if (sameNoCase(name + start, end - start, device))
            return 1;
    if (end - start == 4 && name[start + 3] >= '1' && name[start + 3] <= '9')
        return sameNoCase(name + start, 3, "COM") || sameNoCase(name + start, 3, "LPT");
    return 0;
}

int isLeadByte(unsigned char c, uint32_t codePage)
{
    // The systems' lead-byte ranges of the double-byte code pages.
    if (codePage == 932)
        return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    if (codePage == 936 || codePage == 949 || codePage == 950)
        return c >= 0x81 && c <= 0xFE;
    return 0;
}

int fileNameProblem(const char* name, size_t maxLength, size_t* at, uint32_t codePage)
{
    size_t length = strlen(name);
    if (length == 0)
        return NAME_EMPTY;
    if (maxLength && length > maxLength)
        return NAME_TOO_LONG;
    if (strstr(name, ".."))
        return NAME_DOT_DOT;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)name[i];
        if (isLeadByte(c, codePage) && name[i + 1]) {
            i++;   // the second byte is part of the character
            continue;
        }
        if (c == '/' || c == '\\')
            return NAME_SEPARATOR;
        if (c == ':')
            return NAME_DRIVE;
        if (c < 32 || strchr("<>\"|?*", c)) {
            if (at)
                *at = i;
            return NAME_RESERVED_CHARACTER;
        }
    }
    // The system drops trailing dots and spaces: "a." is "a", and "." the folder.
    if (name[length - 1] == '.' || name[length - 1] == ' ')
        return NAME_TRAILING_DOT_OR_SPACE;
    if (isDeviceName(name))
        return NAME_DEVICE;
    return NAME_PLAIN;
}

int isPlainFileName(const char* name, uint32_t codePage)
{
    return fileNameProblem(name, 0, NULL, codePage) == NAME_PLAIN;
}

// Empty, or one plain name.
static int isFolderName(const char* name, uint32_t codePage)
{
    return !name[0] || isPlainFileName(name, codePage);
}

int setupConfigProblem(const SetupConfig* config, int* index)
{
    if (config->fileCount < 2 || config->fileCount > MAX_SETUP_FILES)
        return CONFIG_FILE_COUNT;
    const char* name = config->fileNames;
    const char* end = name + sizeof config->fileNames;
    for (int i = 0; i < config->fileCount; i++) {
        if (index)
            *index = i;
        const char* nul = (const char*)memchr(name, 0, (size_t)(end - name));
        if (!nul || !isPlainFileName(name, config->codePage))
            return CONFIG_FILE_NAME;
        if (i == 0 && !findNoCase(name, "uninst"))
            return CONFIG_UNINSTALLER_NAME;
        name = nul + 1;
    }
    if (!config->productName[0])
        return CONFIG_PRODUCT_NAME;
    if (!isFolderName(config->installFolderName, config->codePage) ||
        !isFolderName(config->startMenuSubfolder, config->codePage))
        return CONFIG_FOLDER_NAME;
    return CONFIG_OK;
}

enum {
    CORE_HEADER_SIZE = 12,
    INFO_HEADER_SIZE = 40,
    LARGEST_HEADER_SIZE = 124      // the version 5 header
};

int checkBitmapImage(const uint8_t* image, size_t size, BitmapLayout* layout)
{
    if (size < BITMAP_FILE_HEADER_SIZE + INFO_HEADER_SIZE || readLe16(image) != 0x4D42)
        return BITMAP_NOT_BM;
    BitmapLayout b;
    b.headerSize = readLe32(image + 14);
    if (b.headerSize == CORE_HEADER_SIZE)
        return BITMAP_CORE_HEADER;
    if (b.headerSize < INFO_HEADER_SIZE || b.headerSize > LARGEST_HEADER_SIZE)
        return BITMAP_HEADER_SIZE;
    int32_t width = (int32_t)readLe32(image + 18);
    int32_t height = (int32_t)readLe32(image + 22);
    if (height < 0)
        return BITMAP_TOP_DOWN;
    // The painter takes both as 16-bit values.
    if (width <= 0 || height == 0 || width > 65535 || height > 65535)
        return BITMAP_DIMENSIONS;
    b.width = (uint32_t)width;
    b.height = (uint32_t)height;
    b.bits = readLe16(image + 28);
    if (b.bits != 1 && b.bits != 4 && b.bits != 8 && b.bits != 24)
        return BITMAP_DEPTH;
    if (readLe32(image + 30) != 0)
        return BITMAP_COMPRESSED;
    b.colours = readLe32(image + 46) & 0xFFFF;   // only the low half counts
    if (b.bits == 24)
        b.colours = 0;
    else if (b.colours == 0)
        b.colours = 1u << b.bits;
    if (b.colours > (1u << b.bits) && b.bits != 24)
        return BITMAP_COLOURS;
    uint64_t tableEnd = BITMAP_FILE_HEADER_SIZE + (uint64_t)b.headerSize + 4ull * b.colours;
    uint64_t rowSize = (((uint64_t)b.width * b.bits + 31) & ~31ull) / 8;
    uint64_t pixelBytes = rowSize * b.height;
    // The painter takes the pixels from the end of the colour table; a file
    // that says otherwise would show something else than its author saw.
    if (readLe32(image + 10) != tableEnd)
        return BITMAP_PIXEL_OFFSET;
    if (tableEnd + pixelBytes > size)
        return BITMAP_SHORT;
    b.imageSize = (uint32_t)pixelBytes;
    b.bitsOffset = (uint32_t)tableEnd;
    if (layout)
        *layout = b;
    return BITMAP_OK;
}

const char* shortcutNameFormat(const char* fileName, int index, const char* uninstallFormat)
{
    if (endsWithNoCase(fileName, ".exe"))
        return index == 0 ? uninstallFormat : "%s";
    if (endsWithNoCase(fileName, ".hlp"))
        return "%s Help";
    return NULL;
}
