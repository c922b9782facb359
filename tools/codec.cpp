// tambsetup-codec - packs and unpacks files in the block form that package
// entries use, converts to and from the bare coded stream, and runs the PC1
// cipher. Installed under this name: "codec" alone would clash with other
// packages' programs.
//
//   tambsetup-codec pack IN OUT          compress IN into checksummed blocks
//   tambsetup-codec unpack IN OUT        decompress blocks
//   tambsetup-codec encode IN OUT        compress into the bare coded stream (size + bits)
//   tambsetup-codec decode IN OUT        decompress a bare coded stream
//   tambsetup-codec pc1 encrypt|decrypt KEY IN OUT
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
#include "coding/codingerror.h"
#include "coding/fileio.h"
#include "coding/littleendian.h"
#include "coding/pc1.h"

// ---- Reporting ----------------------------------------------------------------

// One line on stderr: "tambsetup-codec: FILE: what is wrong". Returns 0, the failure result.
static int report(const std::string& file, const char* format, ...)
{
    char message[512];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(message, sizeof message, format, arguments);   // a cut message still names the file
    va_end(arguments);
    fprintf(stderr, "tambsetup-codec: %s: %s\n", file.c_str(), message);
    return 0;
}

static int usage(FILE* to, int status)
{
    fprintf(to,
            "usage: tambsetup-codec pack IN OUT     compress IN into checksummed blocks\n"
            "       tambsetup-codec unpack IN OUT   decompress checksummed blocks\n"
            "       tambsetup-codec encode IN OUT   compress IN into the bare coded stream\n"
            "       tambsetup-codec decode IN OUT   decompress a bare coded stream\n"
            "       tambsetup-codec pc1 encrypt|decrypt KEY IN OUT\n"
            "                                       PC1 cipher; only the first 10 characters of KEY count\n"
            "Exit status: 0 done, 1 bad input or file error, 2 bad arguments.\n");
    return status;
}

// The system's reason for the last failed file operation ("No such file or directory").
static std::string systemReason(void)
{
    char text[256];
    fileSystemErrorText(fileLastSystemError(), text, (int32_t)sizeof text);
    return text;
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
        if (codingLastError() == CODING_NO_SUCH_FILE)
            report(path, "no such file");
        else
            report(path, "cannot be opened for reading: %s", systemReason().c_str());
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
    report(path, "cannot create a file next to it: %s", systemReason().c_str());
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
        report(output->path, "cannot be replaced: %s", systemReason().c_str());
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
    if (!done) {
        switch (codingLastError()) {
        case CODING_SOURCE_SHORT:
            return report(in, "ended after %" PRId32 " of %" PRId32 " bytes (changed while reading?)",
                          consumed, input.size);
        case CODING_CANNOT_WRITE:
            return report(output->path, "writing failed (disk full?)");
        default:
            return report(in, "compression failed: %s", codingErrorText(codingLastError()));
        }
    }
    if (fileTell(output->file) != totalWritten)
        return report(output->path, "writing failed (disk full?)");
    return 1;
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

// Says why a decompress run failed, as the block stream found it: in is the
// input's name for messages, output the file being written.
static int reportUnpackFailure(const std::string& in, const Output* output)
{
    const BlockFault* fault = lastBlockFault();
    const int32_t block = fault->block, offset = fault->offset, n = fault->bytesRead;
    const int32_t length = fault->length;
    switch (codingLastError()) {
    case CODING_CANNOT_WRITE:
        return report(output->path, "writing failed after %" PRId32 " of %" PRIu32 " bytes (disk full?)",
                      totalWritten, streamAnnouncedSize());
    case CODING_BAD_MAGIC:
        return report(in, "bad magic 0x%04X in block %" PRId32 " at offset %" PRId32 " (expected 0x%04X)",
                      (unsigned)fault->magic, block, offset, (unsigned)BLOCK_MAGIC);
    case CODING_BAD_LENGTH:
        if (length < BLOCK_HEADER_SIZE)
            return report(in, "bad length %" PRId32 " in block %" PRId32 " at offset %" PRId32
                          " (less than its 6-byte header)", length, block, offset);
        if (block == 1)
            return report(in, "bad length %" PRId32 " in block 1 (the first block is 10 bytes)", length);
        return report(in, "bad length %" PRId32 " in block %" PRId32 " at offset %" PRId32 " (at most %d)",
                      length, block, offset, (int)BLOCK_SIZE);
    case CODING_CHECKSUM:
        return report(in, "checksum mismatch in block %" PRId32 " at offset %" PRId32
                      " (stored 0x%04X, computed 0x%04X)", block, offset,
                      (unsigned)fault->storedChecksum, (unsigned)fault->computedChecksum);
    case CODING_TRUNCATED:
        if (block == 0)
            return report(in, "truncated: the coded data runs out after %" PRId32 " of the %" PRIu32
                          " bytes it announces", totalWritten, streamAnnouncedSize());
        if (block == 1 && n == 0)
            return report(in, "truncated: the file is empty");
        if (n == 0)
            return report(in, "truncated: the file ends after block %" PRId32 " (offset %" PRId32
                          ") before the last block", block - 1, offset);
        if (n < BLOCK_HEADER_SIZE)
            return report(in, "truncated: block %" PRId32 " at offset %" PRId32 " has %" PRId32
                          " of the 6 header bytes", block, offset, n);
        return report(in, "truncated: block %" PRId32 " at offset %" PRId32 " is %" PRId32
                      " bytes long but the file ends after %" PRId32, block, offset, length, n);
    case CODING_TOO_LARGE:
        return report(in, "announces %" PRIu32 " bytes; 2 GB or more is not supported", streamAnnouncedSize());
    default:
        return report(in, "%s", codingErrorText(codingLastError()));
    }
}

// Decompresses the blocks of in (named display for messages) into output.
static int unpackInto(const std::string& in, const std::string& display, Output* output)
{
    Input input;
    if (!openInput(in, &input))
        return 0;
    int done = decompressStream(input.file, output->file);
    fileClose(input.file);
    if (!done)
        return reportUnpackFailure(display, output);
    if (fileTell(output->file) != totalWritten)
        return report(output->path, "writing failed (disk full?)");
    return 1;
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

// encode: pack, then keep only the coded bytes of each block. The blocks were
// just written by pack: a 10-byte first block, then 10240-byte blocks while
// they fill, then a shorter last one.
static int stripHeaders(FileHandle blocks, FileHandle sink)
{
    static uint8_t block[BLOCK_SIZE];
    int32_t want = FIRST_BLOCK_SIZE;
    for (;;) {
        int32_t n = fileRead(blocks, block, want);
        if (n < BLOCK_HEADER_SIZE || !writeAll(sink, block + BLOCK_HEADER_SIZE, n - BLOCK_HEADER_SIZE))
            return 0;
        if (want == BLOCK_SIZE && n < BLOCK_SIZE)
            return 1;
        want = BLOCK_SIZE;
    }
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
    // Closed first: Windows does not let a file that is open for writing be read.
    fileClose(blocks.file);
    blocks.file = fileOpenRead(blocks.temporary.c_str());
    if (blocks.file == INVALID_FILE || !openOutput(out, &output)) {
        if (blocks.file == INVALID_FILE)
            report(out, "cannot read back the packed data");
        discardOutput(&blocks);
        return 0;
    }
    int stripped = stripHeaders(blocks.file, output.file);
    discardOutput(&blocks);
    if (!stripped) {
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
    writeLe16(block, BLOCK_MAGIC);
    writeLe16(block + 2, blockChecksum(block + BLOCK_HEADER_SIZE, payloadLength));
    writeLe16(block + 4, (uint32_t)length);
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
