// setuplayout.h - what a setup executable holds, as the program that runs it
// and the builder that makes it both need it: the package entry names, the
// rule for a name that may be written as a plain file, and the check of a
// decorative bitmap. Platform-neutral; no state.
#ifndef APP_SETUPLAYOUT_H
#define APP_SETUPLAYOUT_H

#include <stddef.h>
#include <stdint.h>

// The decorative bitmaps, in placement order. One name a line: the build
// reads this list too (tools/mksetup embeds the default bitmaps by it).
#define DECORATIVE_BITMAP_LIST(X) \
    X(BLUE)                       \
    X(DIMENSION)                  \
    X(LOGO)                       \
    X(TAMBERLYN)                  \
    X(TOPSHADOW)                  \
    X(ORANGE)                     \
    X(BLUEWHITE)                  \
    X(WHITEBLUE)

#define COUNT_ONE(name) +1
enum {
    DECORATION_COUNT = 0 DECORATIVE_BITMAP_LIST(COUNT_ONE),
#undef COUNT_ONE
    SAMPLES_FIRST_INDEX = 4,       // installed files from this index on go into "Samples"
    MAX_SETUP_FILES = 23           // 31 package records: MAIN, 8 bitmaps, File1..File22
};

extern const char* const decorativeBitmapNames[DECORATION_COUNT];
#define MAIN_ENTRY_NAME "MAIN"     // the setup program's own image
#define FILE_ENTRY_FORMAT "File%d" // installed file i (from 1) as a package entry
#define SAMPLES_FOLDER_NAME "Samples"   // the subfolder of files from SAMPLES_FIRST_INDEX on

// The Start Menu shortcut that file `index` of the list gets, as a name
// format with the product name for its argument, or null for none: programs
// (".exe") are named after the product, the uninstaller (index 0) by
// uninstallFormat, help files (".hlp") "<product> Help". The install makes
// these, the uninstaller removes these, the builder checks their lengths.
const char* shortcutNameFormat(const char* fileName, int index, const char* uninstallFormat);

inline char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

// ---- plain file names ----
// A name is written or deleted only as a file right inside its folder: never
// empty, no "/" or "\", no drive letter or ':', no "..", no trailing dot or
// space, no control or reserved character (<>"|?*), not a device name (CON,
// PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension), and at most
// maxLength bytes (0: no limit). Character by character in the name's code
// page: the second byte of a double-byte character (0x5C in "\x83\x5C" of
// code page 932) is no separator. Code page 0 or a single-byte one: bytes.
enum FileNameProblem {
    NAME_PLAIN = 0,
    NAME_EMPTY,
    NAME_TOO_LONG,
    NAME_DOT_DOT,
    NAME_SEPARATOR,
    NAME_DRIVE,
    NAME_RESERVED_CHARACTER,       // also control characters
    NAME_TRAILING_DOT_OR_SPACE,
    NAME_DEVICE
};

// NAME_PLAIN, or the first problem found; *at (when not null) gets the
// offending character's position for NAME_RESERVED_CHARACTER.
int fileNameProblem(const char* name, size_t maxLength, size_t* at, uint32_t codePage = 0);
// 1 when fileNameProblem finds nothing.
int isPlainFileName(const char* name, uint32_t codePage = 0);
// 1 when byte c starts a two-byte character in codePage (932, 936, 949, 950).
int isLeadByte(unsigned char c, uint32_t codePage);
// A short English phrase for a problem ("a file name may not contain a path separator").
const char* fileNameProblemText(int problem);

// ---- the configuration a setup runs by ----
// What the installer checks before it writes anything: 2 to MAX_SETUP_FILES
// names, every one a plain file name and whole inside the list, the first
// (the uninstaller) with "uninst" in it so it runs as one, a product name
// (the uninstall entry's key), and installFolderName and startMenuSubfolder
// each empty or one plain folder name. One level only for the subfolder: the
// uninstaller removes exactly the folders the install made, and a deeper path
// would leave the ones between behind.
enum ConfigProblem {
    CONFIG_OK = 0,
    CONFIG_FILE_COUNT,
    CONFIG_FILE_NAME,
    CONFIG_UNINSTALLER_NAME,
    CONFIG_PRODUCT_NAME,
    CONFIG_FOLDER_NAME
};
struct SetupConfig;
// CONFIG_OK, or the first problem found; *index (when not null) gets the
// file's index for CONFIG_FILE_NAME. Text fields must end inside their
// widths (terminateConfigText).
int setupConfigProblem(const SetupConfig* config, int* index);

// ---- decorative bitmaps ----
enum { BITMAP_FILE_HEADER_SIZE = 14 };   // "BM" file header in front of the info header
// A bitmap file image as the background paints it: "BM", a Windows info
// header of 40 to 124 bytes, width and height 1 to 65535 (bottom-up), 1, 4,
// 8 or 24 bits per pixel, uncompressed, no more colours than the depth
// allows, pixel data right after the colour table and whole inside the image.
enum BitmapProblem {
    BITMAP_OK = 0,
    BITMAP_NOT_BM,
    BITMAP_CORE_HEADER,
    BITMAP_HEADER_SIZE,
    BITMAP_TOP_DOWN,
    BITMAP_DIMENSIONS,
    BITMAP_DEPTH,
    BITMAP_COMPRESSED,
    BITMAP_COLOURS,
    BITMAP_PIXEL_OFFSET,
    BITMAP_SHORT
};

struct BitmapLayout {
    uint32_t headerSize;           // of the info header
    uint32_t width, height;
    uint32_t bits;                 // per pixel
    uint32_t colours;              // entries of the colour table; 0 for 24 bits
    uint32_t imageSize;            // bytes of pixel data
    uint32_t bitsOffset;           // of the pixel data, from the image's start
};

// BITMAP_OK and the layout (when not null), or the first problem found.
int checkBitmapImage(const uint8_t* image, size_t size, BitmapLayout* layout);
const char* bitmapProblemText(int problem);

#endif
