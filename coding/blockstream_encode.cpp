// blockstream_encode.cpp - the compress driver: a compress run of the block
// stream around the encoder.
#include "coding/blockstream_encode.h"

#include "coding/blockstream_internal.h"
#include "coding/lzhuf_encode.h"

int compressStream(FileHandle source, FileHandle sink, int32_t size)
{
    if (!beginCompressRun(source, sink, size))
        return 0;
    encodeStream();
    return endCompressRun();
}

void enableCompression(void)
{
    setCompressDriver(compressStream);
}
