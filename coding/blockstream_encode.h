// blockstream_encode.h - the compress driver of the block stream, with the
// encoder behind it: the coding_encode library, which a program that only
// decodes (the setup program) does not link.
#ifndef CODING_BLOCKSTREAM_ENCODE_H
#define CODING_BLOCKSTREAM_ENCODE_H

#include <stdint.h>

#include "coding/blockstream.h"

// Compresses size bytes from the source's current position into blocks.
// 1 on success; 0 when the source ended early, a write failed or a hook
// aborted (the reason: codingLastError()).
int compressStream(FileHandle source, FileHandle sink, int32_t size);

// Lets compressIfEnabled (the transfer engine's XFER_COMPRESS) reach
// compressStream. Tools and tests that compress package entries call it once.
void enableCompression(void);

#endif
