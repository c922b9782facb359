// peimage.h - what the package library needs to know about a Windows program
// image: a signer appends its certificate table after everything else, so a
// package appended to a signed program ends where that table starts; and a
// copy of a signed image (the uninstaller) must be made a clean unsigned one.
#ifndef PEIMAGE_H
#define PEIMAGE_H

#include <stdint.h>
#include "coding/fileio.h"

enum {
    SIGNATURE_NONE = 0,        // not a program image, or one without a certificate table
    SIGNATURE_AT_END = 1,      // a well-formed certificate table ends the file
    SIGNATURE_MISPLACED = 2    // a table is named but does not end the file as a signer leaves it
};

struct PeSignature {
    int32_t tableOffset;       // where the certificate table starts (SIGNATURE_AT_END)
    int32_t tableSize;
};

// Reads the image's headers from file (fileSize bytes long) and says where a
// package appended to it ends: *packageEnd = fileSize for SIGNATURE_NONE, the
// table's offset for SIGNATURE_AT_END, -1 for SIGNATURE_MISPLACED. A table is
// at the end when its directory entry is 8-byte aligned, starts after the
// headers, ends exactly at the end of the file and is a chain of certificate
// records. Moves the file position.
int findPackageEnd(FileHandle file, int32_t fileSize, int32_t* packageEnd, PeSignature* signature);

// The same test on the first bytes of an image held in memory; for callers
// that have the file's start and size already. Unknown fields beyond length
// count as "not a program image".
int signatureDirectory(const uint8_t* image, int32_t length, int32_t* tableOffset, int32_t* tableSize);

// Makes the image whose first length bytes are in image unsigned: clears the
// certificate table's directory entry and the header checksum (zero means
// "not set", which every loader and checker accepts). Returns 1 when image
// holds a program image's headers (changed or already clean), else 0 and
// leaves the bytes as they are.
int clearSignatureFields(uint8_t* image, int32_t length);

// Whether an image can be a setup program that the builder writes a
// configuration into: a 32-bit x86 Windows program (MZ and PE headers,
// machine i386, a PE32 optional header) whose count bytes at offset lie
// wholly in the file data of one writable section, where the program keeps
// its configuration block. The machine is looked at last, so that a caller
// can take a program of another machine that is otherwise sound.
enum {
    IMAGE_SETUP_PROGRAM = 0,
    IMAGE_NOT_A_PROGRAM,       // no MZ or PE header, or headers cut off
    IMAGE_OUTSIDE_DATA,        // the bytes are in no writable section
    IMAGE_NOT_I386             // sound but for its machine, or a 64-bit image
};
int setupImageProblem(const uint8_t* image, int32_t length, int32_t offset, int32_t count);

#endif
