// layouttext.cpp - what the builder and the tools say about a refused name or
// bitmap. Apart from the rules, so the setup program carries none of it.
#include "app/bitmapcheck.h"
#include "app/configcheck.h"
#include "app/filename.h"

const char* fileNameProblemText(int problem)
{
    switch (problem) {
    case NAME_PLAIN: return "";
    case NAME_EMPTY: return "empty file name";
    case NAME_TOO_LONG: return "the name is longer than its field";
    case NAME_DOT_DOT: return "\"..\" is not allowed in a file name";
    case NAME_SEPARATOR: return "a file name may not contain a path separator";
    case NAME_DRIVE: return "a file name may not contain a drive letter or ':'";
    case NAME_RESERVED_CHARACTER: return "reserved character in file name";
    case NAME_TRAILING_DOT_OR_SPACE: return "a file name may not end in '.' or a space";
    case NAME_DEVICE: return "a reserved device name";
    case NAME_SHORT_ALIAS: return "shaped like a short (8.3) alias such as DOCUME~1.TXT, which may be another file's second name";
    }
    return "not a plain file name";
}

const char* bitmapProblemText(int problem)
{
    switch (problem) {
    case BITMAP_OK: return "";
    case BITMAP_NOT_BM: return "not a Windows bitmap (no \"BM\" header)";
    case BITMAP_CORE_HEADER: return "OS/2 bitmap with a 12-byte header; save it as a Windows bitmap";
    case BITMAP_HEADER_SIZE: return "unknown bitmap header size (40 to 124 bytes are known)";
    case BITMAP_TOP_DOWN: return "top-down bitmap; it must be stored bottom-up (positive height)";
    case BITMAP_DIMENSIONS: return "width and height must be 1 to 65535";
    case BITMAP_DEPTH: return "unsupported colour depth (use 1, 4, 8 or 24 bits per pixel)";
    case BITMAP_COMPRESSED: return "compressed bitmap; save it uncompressed";
    case BITMAP_COLOURS: return "more colours than the depth allows";
    case BITMAP_PIXEL_OFFSET: return "the pixel data does not follow the colour table directly";
    case BITMAP_SHORT: return "the file is shorter than its pixel data";
    }
    return "not a usable bitmap";
}

const char* configProblemText(int problem)
{
    switch (problem) {
    case CONFIG_OK: return "";
    case CONFIG_FILE_COUNT: return "the file count is out of range";
    case CONFIG_FILE_NAME: return "a file name is no plain file name";
    case CONFIG_UNINSTALLER_NAME: return "the uninstaller's name holds no \"uninst\"";
    case CONFIG_PRODUCT_NAME: return "the product name is empty or holds \"\\\" or \"/\"";
    case CONFIG_FOLDER_NAME: return "the install folder or the Start Menu subfolder is no plain folder name";
    case CONFIG_TEXT: return "a text holds a control character";
    case CONFIG_SHORTCUT_NAME: return "the uninstaller's shortcut would have another file's shortcut name";
    case CONFIG_WINDOW_CLASS: return "the running-window class names a class of the system";
    }
    return "not a configuration the setup program takes";
}
