// blockstream_internal.h - the compress run of the block stream, for its
// compress driver (blockstream_encode.cpp) alone. Not part of the interface.
#ifndef CODING_BLOCKSTREAM_INTERNAL_H
#define CODING_BLOCKSTREAM_INTERNAL_H

#include <stdint.h>

#include "coding/fileio.h"

// Sets up a compress run of size bytes and plugs the block stream into the
// codec's CodecIo. 0 (run ended, nothing written) when size is negative.
int beginCompressRun(FileHandle source, FileHandle sink, int32_t size);
// After the encoder: writes the last block and ends the run. 1 when the
// stream is whole.
int endCompressRun(void);

#endif
