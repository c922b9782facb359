// lzhuf.h - LZHUF codec: LZSS over a 4096-byte ring window with adaptive
// Huffman coding of 314 symbols, bit for bit the published 1988 algorithm.
// The codec knows nothing of files or blocks: it pulls and pushes single bytes
// through the byte operations below, which the block stream provides.
#ifndef LZHUF_H
#define LZHUF_H

#include <stdint.h>

// ---- Byte source and sink, provided by the block stream -------------------
// Next input byte 0..255, or LZHUF_END (0xFFFF) once the input is exhausted,
// stopped or failed; after LZHUF_END it keeps returning LZHUF_END.
#define LZHUF_END 0xFFFFu
unsigned readByte(void);
void writeByte(unsigned byte);
// Appends count bytes, exactly as count calls of writeByte would.
void writeBytes(const uint8_t* bytes, int32_t count);

// The source and sink's buffer positions, kept where the codec can take and
// put bytes without a call in the common case; readByte and writeByte do
// everything else: refills, write-outs, the tick hook and the end marker.
struct ByteWindow {
    const uint8_t* inputNext;   // bytes up to inputEnd may be taken
    const uint8_t* inputEnd;
    uint8_t* outputNext;        // a byte put below outputRoomEnd needs no write-out
    uint8_t* outputRoomEnd;
    int32_t ticksLeft;          // bytes that may pass before the tick hook is due
};
extern ByteWindow byteWindow;

// Writes the four size bytes of the coded stream; returns the size.
uint32_t writeSizeHeader(void);
// Reads the four size bytes; returns the size, or 0 when the stream failed.
uint32_t readSizeHeader(void);

// ---- Codec -----------------------------------------------------------------
// Clears targetSize and the bit input and output state. Call before each run.
void resetCoderState(void);

// Compresses everything readByte delivers into size header + bit stream.
// Returns 0 at once when the size is 0.
int encodeStream(void);

// Decodes one coded stream, writing exactly targetSize bytes (fewer when the
// block stream clears targetSize meanwhile). Returns 0 at once when the size is 0.
int decodeStream(void);

// Zero makes a running decodeStream stop after the item it is decoding.
void clearTargetSize(void);

// Bits the decoder took beyond the real input: how many of the zero bytes that
// stood in for LZHUF_END it actually consumed. Non-zero after a decode means
// the coded stream ended before its announced size was reached.
uint32_t decoderOverrunBits(void);

// ---- For tests --------------------------------------------------------------
// Called with every item the encoder or decoder codes: symbol < 256 is a
// literal, else a match of symbol - 253 bytes at position (distance back - 1);
// codeBits is the length of the symbol's Huffman code. Null in normal use.
typedef void (*CodecTraceHook)(unsigned symbol, unsigned position, unsigned codeBits);
extern CodecTraceHook codecTraceHook;

// Codes a sequence of symbols (0..313) with a fresh Huffman model alone (no
// match finder, no positions, no size header) into out. Returns the byte
// count, or -1 when out is too small; *longestCode gets the longest code sent.
int32_t encodeSymbolsForTest(const uint16_t* symbols, int32_t count, uint8_t* out,
                             int32_t capacity, unsigned* longestCode);

#endif
