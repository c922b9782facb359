// setuplayout.h - what a setup executable holds, as the program that runs it
// and the builder that makes it both need it: the package entry names, the
// install folder's layout and the shortcuts the files get. Platform-neutral;
// no state.
#ifndef APP_SETUPLAYOUT_H
#define APP_SETUPLAYOUT_H

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

enum {
    DECORATION_COUNT = 8,
    SAMPLES_FIRST_INDEX = 4,       // installed files from this index on go into "Samples"
    MAX_SETUP_FILES = 23           // 31 package records: MAIN, 8 bitmaps, File1..File22
};

extern const char* const decorativeBitmapNames[DECORATION_COUNT];
#define MAIN_ENTRY_NAME "MAIN"     // the setup program's own image
#define FILE_ENTRY_FORMAT "File%d" // installed file i (from 1) as a package entry
#define SAMPLES_FOLDER_NAME "Samples"   // the subfolder of files from SAMPLES_FIRST_INDEX on

#define PROGRAM_EXTENSION ".exe"
#define HELP_EXTENSION ".hlp"      // WinHelp writes its index files (".gid", ".fts") beside it

// The Start Menu shortcut that file `index` of the list gets, as a name
// format with the product name for its argument, or null for none: programs
// are named after the product, the uninstaller (index 0) by uninstallFormat,
// help files "<product> Help"; extensions compared without case. The install
// makes these, the uninstaller removes these, the builder checks their lengths.
const char* shortcutNameFormat(const char* fileName, int index, const char* uninstallFormat);

#endif
