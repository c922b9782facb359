// pc1.h - the PC1 stream cipher, 80-bit key form (five 16-bit key words,
// multipliers 346 and 20021, plaintext feedback into the key bytes).
// One process-wide stream: setKey starts it, crypt continues it in place.
#ifndef CODING_PC1_H
#define CODING_PC1_H

#include <stdint.h>

#define PC1_DEFAULT_KEY "Qarmv"     // the configuration block
#define PC1_DIRECTORY_KEY "QOPZ"    // package directories

// Starts a new stream; a null name means the default key. Only the first ten
// characters matter; shorter names are padded with zero bytes.
void setKey(const char* name);

// Transforms length bytes in place, continuing the stream. encipher = 0
// deciphers, anything else enciphers. A length of 0 (or less) does nothing.
void crypt(uint8_t* buffer, int32_t length, int encipher);

#endif
