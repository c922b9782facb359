// setupconfig.h - the configuration block compiled into the setup program's
// data: an 8-byte header (magic, length) and the PC1-enciphered SetupConfig.
// A stub carries two marker words in the header until a configuration is
// embedded into it as it is copied.
#ifndef APP_SETUPCONFIG_H
#define APP_SETUPCONFIG_H

#include <stddef.h>
#include <stdint.h>

enum {
    CONFIG_PAYLOAD_SIZE = 1044,
    CONFIG_LENGTH_LIMIT = 2048         // lengths from here on are not deciphered
};
#define CONFIG_MAGIC 0x47335533u       // payload is enciphered
#define CONFIG_MARKER_1 0x474C5531u    // an unwritten stub's header words
#define CONFIG_MARKER_2 0x474C5532u

// Strings are 8-bit text in the code page codePage names, NUL-terminated inside their field; numbers are
// little-endian (the setup program only runs on little-endian Windows).
struct SetupConfig {
    uint32_t payloadPosition;          // marker position + 8, when stored
    uint32_t codePage;                 // of the texts and names; 0: the system's ANSI code page
    uint8_t reserved[12];
    char fileNames[512];               // fileCount names, each with its NUL
    char productName[32];
    char productVersion[8];
    char titleText[64];
    char subtitleText[64];
    char footerText[64];
    char installFolderName[64];
    char startMenuSubfolder[64];
    char runningWindowClass[32];
    char samplesDescription[40];
    char startupArguments[16];
    char uninstallShortcutFormat[16];
    char installingLabelFormat[32];
    int32_t fileCount;
    uint32_t backColorTop;             // COLORREF 0x00BBGGRR
    uint32_t backColorBottom;
    int32_t progressRange;
};

struct ConfigBlock {
    uint32_t magic;
    int32_t length;
    SetupConfig payload;
};

static_assert(sizeof(SetupConfig) == CONFIG_PAYLOAD_SIZE, "payload layout");
static_assert(sizeof(ConfigBlock) == 8 + CONFIG_PAYLOAD_SIZE, "block layout");
static_assert(__builtin_offsetof(SetupConfig, codePage) == 4, "layout");
static_assert(__builtin_offsetof(SetupConfig, fileNames) == 20, "layout");
static_assert(__builtin_offsetof(SetupConfig, productName) == 532, "layout");
static_assert(__builtin_offsetof(SetupConfig, productVersion) == 564, "layout");
static_assert(__builtin_offsetof(SetupConfig, titleText) == 572, "layout");
static_assert(__builtin_offsetof(SetupConfig, subtitleText) == 636, "layout");
static_assert(__builtin_offsetof(SetupConfig, footerText) == 700, "layout");
static_assert(__builtin_offsetof(SetupConfig, installFolderName) == 764, "layout");
static_assert(__builtin_offsetof(SetupConfig, startMenuSubfolder) == 828, "layout");
static_assert(__builtin_offsetof(SetupConfig, runningWindowClass) == 892, "layout");
static_assert(__builtin_offsetof(SetupConfig, samplesDescription) == 924, "layout");
static_assert(__builtin_offsetof(SetupConfig, startupArguments) == 964, "layout");
static_assert(__builtin_offsetof(SetupConfig, uninstallShortcutFormat) == 980, "layout");
static_assert(__builtin_offsetof(SetupConfig, installingLabelFormat) == 996, "layout");
static_assert(__builtin_offsetof(SetupConfig, fileCount) == 1028, "layout");
static_assert(__builtin_offsetof(SetupConfig, backColorTop) == 1032, "layout");
static_assert(__builtin_offsetof(SetupConfig, backColorBottom) == 1036, "layout");
static_assert(__builtin_offsetof(SetupConfig, progressRange) == 1040, "layout");

// Position of the first unwritten stub header (the two marker words, as
// little-endian bytes) with room for the payload behind it, or -1.
long findConfigMarkers(const uint8_t* image, size_t size);

// Deciphers the payload in place with the default key when the header carries
// the magic and a length of 1..2047; at most the 1044 payload bytes are
// deciphered, whatever the length says. Returns 1 if it deciphered, else 0.
int decipherSetupConfig(uint8_t* block);

// 1 when the 8 bytes at `at` are the two marker words of an unwritten stub.
int isConfigMarker(const uint8_t* at);

#endif
