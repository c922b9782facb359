// setupconfig.cpp - the field table, deciphering the configuration block, and
// the case-blind search.
#include "app/setupconfig.h"

#include <string.h>

#include "app/setuplayout.h"
#include "coding/littleendian.h"
#include "coding/pc1.h"

#define FIELD(member, key, kind, fallback) \
    {key, (uint16_t)offsetof(SetupConfig, member), (uint16_t)sizeof(SetupConfig::member), kind, fallback}

const ConfigField setupConfigFields[CONFIG_FIELD_COUNT] = {
    FIELD(payloadPosition, NULL, FIELD_INTERNAL, NULL),
    FIELD(codePage, "CodePage", FIELD_NUMBER, "1252"),    // the builder stores the script's; 0: the system's
    FIELD(reserved, NULL, FIELD_INTERNAL, NULL),
    FIELD(fileNames, NULL, FIELD_NAME_LIST, NULL),            // the script's [Files] section
    FIELD(productName, "ProductName", FIELD_TEXT, ""),
    FIELD(productVersion, "ProductVersion", FIELD_TEXT, ""),
    FIELD(titleText, NULL, FIELD_TEXT, NULL),
    FIELD(subtitleText, NULL, FIELD_TEXT, NULL),
    FIELD(footerText, NULL, FIELD_TEXT, NULL),
    FIELD(installFolderName, "InstallFolder", FIELD_TEXT, ""),
    FIELD(startMenuSubfolder, "StartMenuSubfolder", FIELD_TEXT, ""),
    FIELD(runningWindowClass, "RunningWindowClass", FIELD_TEXT, ""),
    FIELD(samplesDescription, "SamplesDescription", FIELD_TEXT, ""),
    FIELD(startupArguments, "StartupArguments", FIELD_TEXT, ""),
    FIELD(uninstallShortcutFormat, "UninstallShortcutFormat", FIELD_TEXT, "Uninstall %s"),
    FIELD(installingLabelFormat, "InstallingLabelFormat", FIELD_TEXT, "Installing %s"),
    FIELD(fileCount, NULL, FIELD_COUNT, NULL),
    FIELD(backColorTop, "BackgroundColor", FIELD_COLOUR, "#5680AA"),
    FIELD(backColorBottom, NULL, FIELD_COLOUR, NULL),         // the builder gives it the top colour
    FIELD(progressRange, NULL, FIELD_NUMBER, NULL),
};
#undef FIELD

const ConfigField* findConfigField(const char* key)
{
    for (const ConfigField& field : setupConfigFields) {
        if (!field.key)
            continue;
        size_t i = 0;
        while (field.key[i] && lowerAscii(field.key[i]) == lowerAscii(key[i]))
            i++;
        if (!field.key[i] && !key[i])
            return &field;
    }
    return NULL;
}

void terminateConfigText(SetupConfig* config)
{
    for (const ConfigField& field : setupConfigFields)
        if (field.kind == FIELD_TEXT || field.kind == FIELD_NAME_LIST)
            ((char*)config)[field.offset + field.width - 1] = 0;
}

int isConfigMarker(const uint8_t* at)
{
    return readLe32(at) == CONFIG_MARKER_1 && readLe32(at + 4) == CONFIG_MARKER_2;
}

long findConfigMarkers(const uint8_t* image, size_t size)
{
    for (size_t at = 0; at + 8 + CONFIG_PAYLOAD_SIZE <= size; at++)
        if (isConfigMarker(image + at))
            return (long)at;
    return -1;
}

int decipherSetupConfig(uint8_t* block)
{
    if (readLe32(block) != CONFIG_MAGIC)
        return 0;
    int32_t length = (int32_t)readLe32(block + 4);
    if (length <= 0 || length >= CONFIG_LENGTH_LIMIT)
        return 0;
    // A longer length would run into whatever data follows the payload area.
    if (length > CONFIG_PAYLOAD_SIZE)
        length = CONFIG_PAYLOAD_SIZE;
    setKey(0);
    crypt(block + 8, length, 0);
    return 1;
}

int findNoCase(const char* text, const char* pattern)
{
    size_t textLength = strlen(text);
    size_t patternLength = strlen(pattern);
    if (patternLength > textLength)
        return 0;
    for (size_t start = 0; start + patternLength <= textLength; start++) {
        size_t i = 0;
        while (i < patternLength && lowerAscii(text[start + i]) == lowerAscii(pattern[i]))
            i++;
        if (i == patternLength)
            return (int)(start + 1);
    }
    return 0;
}

int endsWithNoCase(const char* text, const char* suffix)
{
    size_t textLength = strlen(text), suffixLength = strlen(suffix);
    return textLength >= suffixLength && findNoCase(text + textLength - suffixLength, suffix) == 1;
}

long findWrittenConfig(const uint8_t* image, size_t size)
{
    for (size_t at = 0; at + sizeof(ConfigBlock) <= size; at++) {
        if (readLe32(image + at) != CONFIG_MAGIC || readLe32(image + at + 4) != CONFIG_PAYLOAD_SIZE)
            continue;
        ConfigBlock block;
        memcpy(&block, image + at, sizeof block);
        if (decipherSetupConfig((uint8_t*)&block) && block.payload.payloadPosition == (uint32_t)at + 8)
            return (long)at;
    }
    return -1;
}
