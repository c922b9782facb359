// configfields.h - every field of SetupConfig once, in layout order: the
// builder parses and prints the script keys by it, and the setup program
// ends every text field inside its width by it.
#ifndef APP_CONFIGFIELDS_H
#define APP_CONFIGFIELDS_H

#include <stdint.h>

struct SetupConfig;

enum ConfigFieldKind {
    FIELD_INTERNAL,                // filled by the builder or the embedding, no key
    FIELD_TEXT,                    // NUL-terminated inside its width
    FIELD_NAME_LIST,               // fileCount names, each with its NUL
    FIELD_COUNT,                   // int32
    FIELD_COLOUR,                  // COLORREF; the script writes #RRGGBB
    FIELD_NUMBER                   // int32
};

struct ConfigField {
    const char* key;               // the setup script's key, or null: not in the script
    uint16_t offset;               // in SetupConfig
    uint16_t width;                // bytes
    uint8_t kind;                  // ConfigFieldKind
    const char* defaultText;       // the script's value when the key is not given
};

enum { CONFIG_FIELD_COUNT = 20 };
extern const ConfigField setupConfigFields[CONFIG_FIELD_COUNT];

// The field of that key (ASCII case ignored), or null.
const ConfigField* findConfigField(const char* key);

// Ends every FIELD_TEXT and FIELD_NAME_LIST field inside its width, so a
// damaged configuration still holds strings only.
void terminateConfigText(SetupConfig* config);

#endif
