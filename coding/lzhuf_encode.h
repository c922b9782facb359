// lzhuf_encode.h - the LZHUF encoder, apart from the decoder so that a program
// that only decodes (the setup program) links no match finder: it is in the
// coding_encode library. Same CodecIo as the decoder (coding/lzhuf.h).
#ifndef CODING_LZHUF_ENCODE_H
#define CODING_LZHUF_ENCODE_H

#include <stdint.h>

#include "coding/lzhuf.h"

// Compresses everything codecIo.readByte delivers into size header + bit
// stream. Returns 0 at once when writeSizeHeader gives a size of 0, else 1.
int encodeStream(void);

// For tests: codes a sequence of symbols (0..313) with a fresh Huffman model
// alone (no match finder, no positions, no size header) into out. Returns the
// byte count, or -1 when out is too small (nothing is written past capacity);
// *longestCode gets the longest code sent. codecIo is as it was afterwards.
int32_t encodeSymbolsForTest(const uint16_t* symbols, int32_t count, uint8_t* out,
                             int32_t capacity, unsigned* longestCode);

#endif
