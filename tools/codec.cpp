// codec - packs and unpacks files in the block form that package entries use,
// converts to and from the bare coded stream, and runs the PC1 cipher.
//
//   codec pack IN OUT          compress IN into checksummed blocks
//   codec unpack IN OUT        decompress blocks
//   codec encode IN OUT        compress into the bare coded stream (size + bits)
//   codec decode IN OUT        decompress a bare coded stream
//   codec pc1 encrypt|decrypt KEY IN OUT
//
// Exit status: 0 done; 1 bad input or a file error, reported in one line on
// stderr that names the file, with OUT left as it was (output goes to a
// temporary file next to OUT that is renamed at the end); 2 bad arguments.
#include <inttypes.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "coding/blockstream.h"
#include "coding/blockstream_encode.h"
#include "coding/fileio.h"
#include "coding/lzhuf.h"
#include "coding/pc1.h"

// ---- Reporting ----------------------------------------------------------------

// One line on stderr: "codec: FILE: what is wrong". Returns 0, the failure result.
static int report(const std::string& file, const char* format, ...)
{
    char message[512];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(message, sizeof message, format, arguments);   // a cut message still names the file
    va_end(arguments);
    fprintf(stderr, "codec: %s: %s\n", file.c_str(), message);
    return 0;
}

static int usage(FILE* to, int status)
{
    fprintf(to,
            "usage: codec pack IN OUT       compress IN into checksummed blocks\n"
            "       codec unpack IN OUT     decompress checksummed blocks\n"
            "       codec encode IN OUT     compress IN into the bare coded stream\n"
            "       codec decode IN OUT     decompress a bare coded stream\n"
            "       codec pc1 encrypt|decrypt KEY IN OUT\n"
            "                               PC1 cipher; only the first 10 characters of KEY count\n"
            "Exit status: 0 done, 1 bad input or file error, 2 bad arguments.\n");
    return status;
}

static uint16_t get16(const uint8_t* p)
{
    return (uint16_t)(p[0] | (p[1] << 8));
}

static uint32_t get32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static void put16(uint8_t* p, uint16_t value)
{
    p[0] = (uint8_t)value;
    p[1] = (uint8_t)(value >> 8);
}

// ---- Files --------------------------------------------------------------------

// The block stream counts in signed 32-bit sizes.
static const uint64_t MAX_FILE_SIZE = 0x7FFFFFFF;

struct Input {
    FileHandle file;
    int32_t size;
};

// Opens path for reading; on failure reports why and returns 0.
static int openInput(const std::string& path, Input* input)
{
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        report(path, "no such file");
        return 0;
    }
    if (std::filesystem::is_directory(status)) {
        report(path, "is a folder, not a file");
        return 0;
    }
    uintmax_t bytes = std::filesystem::file_size(path, error);
    if (!error && bytes > MAX_FILE_SIZE) {
        report(path, "is %ju bytes; files of 2 GB or more are not supported", bytes);
        return 0;
    }
    input->file = fileOpenRead(path.c_str());
    if (input->file == INVALID_FILE) {
        report(path, "cannot be opened for reading");
        return 0;
    }
    input->size = fileSize(input->file);
    if (input->size < 0) {
        fileClose(input->file);
        report(path, "cannot determine its size");
        return 0;
    }
    return 1;
}

// A file that only gets its final name once it is complete.
struct Output {
    std::string path;       // the final name
    std::string temporary;  // where the data is written meanwhile
    FileHandle file;
};

static int createTemporary(const std::string& path, const char* suffix, Output* output)
{
    output->path = path;
    output->file = INVALID_FILE;
    for (int attempt = 0; attempt < 100; attempt++) {   // a crashed run may have left names behind
        output->temporary = path + "." + std::to_string(attempt) + suffix;
        int exists = 0;
        output->file = fileCreate(output->temporary.c_str(), 1, &exists);
        if (output->file != INVALID_FILE)
            return 1;
        if (!exists)
            break;
    }
    output->temporary.clear();   // not ours: never to be deleted
    report(path, "cannot create a file next to it (missing folder or no write permission)");
    return 0;
}

static int openOutput(const std::string& path, Output* output)
{
    return createTemporary(path, ".codec-tmp", output);
}

static void discardOutput(Output* output)
{
    if (output->file != INVALID_FILE)
        fileClose(output->file);
    output->file = INVALID_FILE;
    if (!output->temporary.empty())
        fileDelete(output->temporary.c_str());
    output->temporary.clear();
}

// Closes the temporary file and gives it its final name. Returns 0 after
// reporting the failure (the temporary file is then gone too).
static int commitOutput(Output* output)
{
    if (output->file != INVALID_FILE)
        fileClose(output->file);
    output->file = INVALID_FILE;
    if (!fileRename(output->temporary.c_str(), output->path.c_str())) {
        report(output->path, "cannot be replaced (in use or no write permission)");
        discardOutput(output);
        return 0;
    }
    output->temporary.clear();
    return 1;
}

// Writes all of count bytes; 0 means the disk is full or the file failed.
static int writeAll(FileHandle file, const uint8_t* bytes, int32_t count)
{
    return count <= 0 || fileWrite(file, bytes, count) == count;
}

// ---- Block framing --------------------------------------------------------------

// The framing as the block stream's reader sees it: it reads 10 bytes for the
// first block and then 10240 bytes at a time, and takes every byte of a read
// after the 6-byte header as coded data.
struct BlockWalk {
    int ok;                  // every read passed the block check
    char problem[200];       // what is wrong, when ok is 0
    uint32_t declaredSize;   // from the first block
    int32_t blocks;          // reads that passed
    int32_t endOffset;       // bytes read in all
    int exact;               // every block's length equals its read, as written by pack
    int lastShort;           // the last read was shorter than a full block
};

// Gets the coded bytes of each block that passes; returns 0 to stop the walk.
typedef int (*PayloadVisitor)(void* context, const uint8_t* payload, int32_t length);

static int failWalk(BlockWalk* walk, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(walk->problem, sizeof walk->problem, format, arguments);
    va_end(arguments);
    walk->ok = 0;
    return 0;
}

// Checks one read of n bytes (asked for readSize) the way the reader does.
static int checkBlock(BlockWalk* walk, const uint8_t* block, int32_t n, int32_t readSize, int32_t offset)
{
    int32_t number = walk->blocks + 1;
    if (n < BLOCK_HEADER_SIZE)
        return failWalk(walk, "truncated: block %" PRId32 " at offset %" PRId32 " has %" PRId32
                        " of the 6 header bytes", number, offset, n);
    uint16_t magic = get16(block);
    uint16_t stored = get16(block + 2);
    int32_t length = get16(block + 4);
    if (magic != BLOCK_MAGIC)
        return failWalk(walk, "bad magic 0x%04X in block %" PRId32 " at offset %" PRId32
                        " (expected 0x%04X)", magic, number, offset, (unsigned)BLOCK_MAGIC);
    if (length < BLOCK_HEADER_SIZE)
        return failWalk(walk, "bad length %" PRId32 " in block %" PRId32 " at offset %" PRId32
                        " (less than its 6-byte header)", length, number, offset);
    if (length > n) {
        if (n < readSize)
            return failWalk(walk, "truncated: block %" PRId32 " at offset %" PRId32 " is %" PRId32
                            " bytes long but the file ends after %" PRId32, number, offset, length, n);
        return failWalk(walk, "bad length %" PRId32 " in block %" PRId32 " at offset %" PRId32
                        " (at most %" PRId32 ")", length, number, offset, readSize);
    }
    uint16_t computed = blockChecksum(block + BLOCK_HEADER_SIZE, length - BLOCK_HEADER_SIZE);
    if (computed != stored)
        return failWalk(walk, "checksum mismatch in block %" PRId32 " at offset %" PRId32
                        " (stored 0x%04X, computed 0x%04X)", number, offset, stored, computed);
    return 1;
}

// Walks every read of the file from its current position until the end of the
// file or the first read that fails its check.
static void walkBlocks(FileHandle file, BlockWalk* walk, PayloadVisitor visit, void* context)
{
    static uint8_t block[BLOCK_SIZE];
    memset(walk, 0, sizeof *walk);
    walk->ok = 1;
    walk->exact = 1;
    int32_t readSize = FIRST_BLOCK_SIZE;
    for (;;) {
        int32_t n = fileRead(file, block, readSize);
        if (n == 0) {
            if (walk->blocks == 0)
                failWalk(walk, "truncated: the file is empty");
            return;
        }
        if (!checkBlock(walk, block, n, readSize, walk->endOffset))
            return;
        int32_t length = get16(block + 4);
        if (length != n)
            walk->exact = 0;
        if (walk->blocks == 0) {
            if (n < FIRST_BLOCK_SIZE) {
                failWalk(walk, "truncated: the first block has %" PRId32 " of its 10 bytes", n);
                return;
            }
            walk->declaredSize = get32(block + BLOCK_HEADER_SIZE);
        }
        walk->blocks++;
        walk->endOffset += n;
        walk->lastShort = n < BLOCK_SIZE;
        if (visit && !visit(context, block + BLOCK_HEADER_SIZE, n - BLOCK_HEADER_SIZE))
            return;
        readSize = BLOCK_SIZE;
    }
}

// Checks a file just written by pack: it must read back as pack writes it,
// so a short or failed write shows here.
static int verifyPacked(const std::string& temporary, const std::string& path, int32_t expectedBytes)
{
    FileHandle file = fileOpenRead(temporary.c_str());
    if (file == INVALID_FILE)
        return report(path, "cannot read back what was written");
    BlockWalk walk;
    walkBlocks(file, &walk, nullptr, nullptr);
    fileClose(file);
    if (!walk.ok || !walk.exact || !walk.lastShort || walk.endOffset != expectedBytes)
        return report(path, "writing failed (disk full?)");
    return 1;
}

// ---- Commands -----------------------------------------------------------------

// Compresses in into the temporary file of output.
static int packInto(const std::string& in, Output* output)
{
    Input input;
    if (!openInput(in, &input))
        return 0;
    int done = compressStream(input.file, output->file, input.size);
    int32_t consumed = fileTell(input.file);
    fileClose(input.file);
    int32_t written = totalWritten;
    if (!done)
        return report(in, "compression was aborted");
    if (consumed < input.size)
        return report(in, "ended after %" PRId32 " of %" PRId32 " bytes (changed while reading?)",
                      consumed, input.size);
    if (fileTell(output->file) != written)
        return report(output->path, "writing failed (disk full?)");
    // Closed first: Windows does not let a file that is open for writing be read.
    fileClose(output->file);
    output->file = INVALID_FILE;
    return verifyPacked(output->temporary, output->path, written);
}

static int commandPack(const std::string& in, const std::string& out)
{
    Output output;
    if (!openOutput(out, &output))
        return 0;
    if (!packInto(in, &output)) {
        discardOutput(&output);
        return 0;
    }
    return commitOutput(&output);
}

// Decompresses the blocks of in (named display for messages) into output.
static int unpackInto(const std::string& in, const std::string& display, Output* output)
{
    Input input;
    if (!openInput(in, &input))
        return 0;

    // The first block tells the size, so an unreadable file is named before decoding.
    BlockWalk first;
    uint8_t head[FIRST_BLOCK_SIZE];
    int32_t n = fileRead(input.file, head, FIRST_BLOCK_SIZE);
    memset(&first, 0, sizeof first);
    if (n == 0) {
        fileClose(input.file);
        return report(display, "truncated: the file is empty");
    }
    if (!checkBlock(&first, head, n, FIRST_BLOCK_SIZE, 0) || n < FIRST_BLOCK_SIZE) {
        fileClose(input.file);
        if (first.problem[0] == 0)
            return report(display, "truncated: the first block has %" PRId32 " of its 10 bytes", n);
        return report(display, "%s", first.problem);
    }
    uint32_t declared = get32(head + BLOCK_HEADER_SIZE);
    if (declared > MAX_FILE_SIZE) {
        fileClose(input.file);
        return report(display, "announces %" PRIu32 " bytes; 2 GB or more is not supported", declared);
    }

    fileSeek(input.file, 0);
    int done = decompressStream(input.file, output->file);
    int32_t written = totalWritten;
    uint32_t overrun = decoderOverrunBits();
    if (done && overrun == 0 && (uint32_t)written == declared) {
        fileClose(input.file);
        if (fileTell(output->file) != written)
            return report(output->path, "writing failed (disk full?)");
        return 1;
    }
    if (done && overrun == 0 && (uint32_t)written < declared) {
        // The decoder produced every byte; the sink took fewer.
        fileClose(input.file);
        return report(output->path, "writing failed after %" PRId32 " of %" PRIu32 " bytes (disk full?)",
                      written, declared);
    }

    // Name the reason: the first read that fails its check, as the reader met it.
    BlockWalk walk;
    fileSeek(input.file, 0);
    walkBlocks(input.file, &walk, nullptr, nullptr);
    fileClose(input.file);
    if (!walk.ok)
        return report(display, "%s", walk.problem);
    return report(display, "truncated: the coded data runs out after %" PRId32 " of the %" PRIu32
                  " bytes it announces", written, declared);
}

static int commandUnpack(const std::string& in, const std::string& out)
{
    Output output;
    if (!openOutput(out, &output))
        return 0;
    if (!unpackInto(in, in, &output)) {
        discardOutput(&output);
        return 0;
    }
    return commitOutput(&output);
}

// encode: pack, then keep only the coded bytes of each block.
struct Strip {
    FileHandle sink;
    int failed;
};

static int stripPayload(void* context, const uint8_t* payload, int32_t length)
{
    Strip* strip = (Strip*)context;
    if (!writeAll(strip->sink, payload, length)) {
        strip->failed = 1;
        return 0;
    }
    return 1;
}

static int commandEncode(const std::string& in, const std::string& out)
{
    Output blocks, output;
    if (!createTemporary(out, ".codec-blocks", &blocks))
        return 0;
    if (!packInto(in, &blocks)) {
        discardOutput(&blocks);
        return 0;
    }
    blocks.file = fileOpenRead(blocks.temporary.c_str());
    if (blocks.file == INVALID_FILE || !openOutput(out, &output)) {
        if (blocks.file == INVALID_FILE)
            report(out, "cannot read back the packed data");
        discardOutput(&blocks);
        return 0;
    }
    Strip strip = {output.file, 0};
    BlockWalk walk;
    walkBlocks(blocks.file, &walk, stripPayload, &strip);
    discardOutput(&blocks);
    if (!walk.ok || strip.failed) {
        report(out, "writing failed (disk full?)");
        discardOutput(&output);
        return 0;
    }
    return commitOutput(&output);
}

// decode: frame the bare stream in blocks as pack would, then unpack them.
static int frameBlock(FileHandle sink, uint8_t* block, int32_t payloadLength)
{
    int32_t length = payloadLength + BLOCK_HEADER_SIZE;
    put16(block, BLOCK_MAGIC);
    put16(block + 2, blockChecksum(block + BLOCK_HEADER_SIZE, payloadLength));
    put16(block + 4, (uint16_t)length);
    return writeAll(sink, block, length);
}

static int frameBareStream(const std::string& in, Output* blocks)
{
    static uint8_t block[BLOCK_SIZE];
    Input input;
    if (!openInput(in, &input))
        return 0;
    const int32_t sizeBytes = FIRST_BLOCK_SIZE - BLOCK_HEADER_SIZE;
    if (input.size < sizeBytes) {
        fileClose(input.file);
        return report(in, "truncated: a coded stream starts with %" PRId32 " size bytes, the file has %" PRId32,
                      sizeBytes, input.size);
    }
    int ok = fileRead(input.file, block + BLOCK_HEADER_SIZE, sizeBytes) == sizeBytes &&
             frameBlock(blocks->file, block, sizeBytes);
    // Full blocks while they fill, then always a shorter last one, even an empty one.
    int32_t n = BLOCK_SIZE - BLOCK_HEADER_SIZE;
    while (ok && n == BLOCK_SIZE - BLOCK_HEADER_SIZE) {
        n = fileRead(input.file, block + BLOCK_HEADER_SIZE, BLOCK_SIZE - BLOCK_HEADER_SIZE);
        ok = frameBlock(blocks->file, block, n);
    }
    fileClose(input.file);
    if (!ok)
        return report(blocks->path, "writing a temporary file next to it failed (disk full?)");
    return 1;
}

static int commandDecode(const std::string& in, const std::string& out)
{
    Output blocks, output;
    if (!createTemporary(out, ".codec-blocks", &blocks))
        return 0;
    if (!frameBareStream(in, &blocks)) {
        discardOutput(&blocks);
        return 0;
    }
    fileClose(blocks.file);
    blocks.file = INVALID_FILE;
    if (!openOutput(out, &output)) {
        discardOutput(&blocks);
        return 0;
    }
    int done = unpackInto(blocks.temporary, in, &output);
    discardOutput(&blocks);
    if (!done) {
        discardOutput(&output);
        return 0;
    }
    return commitOutput(&output);
}

static int commandPc1(int encipher, const char* key, const std::string& in, const std::string& out)
{
    static uint8_t buffer[65536];
    Input input;
    if (!openInput(in, &input))
        return 0;
    Output output;
    if (!openOutput(out, &output)) {
        fileClose(input.file);
        return 0;
    }
    setKey(key);
    int32_t total = 0;
    int ok = 1;
    for (;;) {
        int32_t n = fileRead(input.file, buffer, (int32_t)sizeof buffer);
        if (n == 0)
            break;
        crypt(buffer, n, encipher);
        if (!writeAll(output.file, buffer, n)) {
            ok = 0;
            report(out, "writing failed (disk full?)");
            break;
        }
        total += n;
    }
    fileClose(input.file);
    if (ok && total != input.size) {
        ok = 0;
        report(in, "read %" PRId32 " of %" PRId32 " bytes (read error or changed while reading)", total, input.size);
    }
    if (!ok) {
        discardOutput(&output);
        return 0;
    }
    return commitOutput(&output);
}

// Each command returns 1 when done, 0 after reporting what failed.
int main(int argc, char** argv)
{
    if (argc == 2 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0))
        return usage(stdout, 0);
    int done = -1;
    if (argc == 4) {
        const char* command = argv[1];
        if (strcmp(command, "pack") == 0)
            done = commandPack(argv[2], argv[3]);
        else if (strcmp(command, "unpack") == 0)
            done = commandUnpack(argv[2], argv[3]);
        else if (strcmp(command, "encode") == 0)
            done = commandEncode(argv[2], argv[3]);
        else if (strcmp(command, "decode") == 0)
            done = commandDecode(argv[2], argv[3]);
    } else if (argc == 6 && strcmp(argv[1], "pc1") == 0) {
        if (strcmp(argv[2], "encrypt") == 0)
            done = commandPc1(1, argv[3], argv[4], argv[5]);
        else if (strcmp(argv[2], "decrypt") == 0)
            done = commandPc1(0, argv[3], argv[4], argv[5]);
    }
    if (done < 0)
        return usage(stderr, 2);
    return done ? 0 : 1;
}
