// lzhuf.h - LZHUF codec: LZSS over a 4096-byte ring window with adaptive
// Huffman coding of 314 symbols, bit for bit the published 1988 algorithm.
// The codec knows nothing of files or blocks: it takes and puts bytes through
// CodecIo, an interface it owns and its user (the block stream) fills in.
// This header is the decoder's side; the encoder is coding/lzhuf_encode.h.
#ifndef CODING_LZHUF_H
#define CODING_LZHUF_H

#include <stdint.h>

// ---- Byte source and sink ----------------------------------------------------
// In the common case the codec takes bytes from [inputNext, inputEnd) and puts
// bytes below outputRoomEnd itself, without a call, while ticksLeft stays above
// the bytes it moves (and counts them off); everything else goes through the
// slots: refills, write-outs, the tick hook and the end marker. The user sets
// every field before a run.
#define LZHUF_END 0xFFFFu
struct CodecIo {
    const uint8_t* inputNext;
    const uint8_t* inputEnd;
    uint8_t* outputNext;
    uint8_t* outputRoomEnd;
    int32_t ticksLeft;
    // Next input byte 0..255, or LZHUF_END once the input is exhausted,
    // stopped or failed; after LZHUF_END it keeps returning LZHUF_END.
    unsigned (*readByte)(void);
    void (*writeByte)(unsigned byte);
    // Appends count bytes, exactly as count calls of writeByte would.
    void (*writeBytes)(const uint8_t* bytes, int32_t count);
    // Encoder: writes the four size bytes of the coded stream; returns the size.
    uint32_t (*writeSizeHeader)(void);
    // Decoder: reads the four size bytes; returns the size, or 0 when the stream failed.
    uint32_t (*readSizeHeader)(void);
};
extern CodecIo codecIo;

// The most bytes one coded byte can decode to: a match of 60 bytes (the
// longest) costs at least 10 bits, a symbol code of 1 bit and a position code
// of 9 (3 bits name its upper six bits, 6 give the lower six), so a stream of
// n coded bytes decodes to at most 48 * n bytes. A reader bounds what an
// entry's record claims by it, before it trusts the claim with memory.
enum { LZHUF_MOST_BYTES_PER_CODED_BYTE = 48 };

// ---- Decoder -------------------------------------------------------------------
// Clears targetSize and the bit input state. Call before each run.
void resetCoderState(void);

// Decodes one coded stream, writing exactly targetSize bytes (fewer when the
// user clears targetSize meanwhile). Returns 0 at once when the size is 0.
int decodeStream(void);

// Zero makes a running decodeStream stop after the item it is decoding.
void clearTargetSize(void);

// Bits the decoder took beyond the real input: how many of the zero bytes that
// stood in for LZHUF_END it actually consumed. Non-zero after a decode means
// the coded stream ended before its announced size was reached.
uint32_t decoderOverrunBits(void);

// ---- For tests -------------------------------------------------------------------
// Called with every item the encoder or decoder codes: symbol < 256 is a
// literal, else a match of symbol - 253 bytes at position (distance back - 1);
// codeBits is the length of the symbol's Huffman code. Null in normal use;
// a run reads it once, when it starts.
typedef void (*CodecTraceHook)(unsigned symbol, unsigned position, unsigned codeBits);
extern CodecTraceHook codecTraceHook;

#endif
