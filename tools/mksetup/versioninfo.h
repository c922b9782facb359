// versioninfo.h - writing the product's name, version and publisher into the
// fixed-size text fields that the setup program's version resource reserves
// (resources/versionfields.h), in place, so the file's properties name the
// product. A field is found by its key, so a stub taken from an earlier setup
// (its fields filled with that product's texts) is written over the same way.
#ifndef MKSETUP_VERSIONINFO_H
#define MKSETUP_VERSIONINFO_H

#include <stdint.h>
#include <string>
#include <vector>

struct VersionTexts {
    std::string description;     // "<product> Setup"
    std::string productName;
    std::string productVersion;
    std::string company;         // the publisher; may be empty
};

// True when image holds any of the four fields, reserved or filled by an
// earlier build (a stub of this project's); false for a program without them.
bool hasVersionFields(const std::vector<uint8_t>& image);

// Each field must occur exactly once in image, at the width the placeholder
// gives it; each text must fit its field in UTF-16 units (the texts are
// UTF-8). Returns an empty string when the fields were written, else what is
// wrong (image untouched then).
std::string writeVersionTexts(std::vector<uint8_t>& image, const VersionTexts& texts);

// The texts as they now stand in an image (up to each field's first NUL) as
// UTF-8; false when a field cannot be found.
bool readVersionTexts(const std::vector<uint8_t>& image, VersionTexts& texts);

#endif
