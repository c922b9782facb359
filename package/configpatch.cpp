// configpatch.cpp - the configuration patch filter.
//
// Patch states, per transfer:
//   armed     - patchRemaining > 0; the filter scans each chunk for the marker.
//   continues - the payload did not fit behind the marker; the rest goes to the
//               start of the next chunk(s), the PC1 stream carried on.
//   complete  - the whole payload is written; the filter wants no more data.
// Every operation disarms the patch when it ends.
#include "package/configpatch.h"

#include <stddef.h>
#include <string.h>

#include "app/setupconfig.h"
#include "coding/littleendian.h"
#include "coding/pc1.h"
#include "package/package_internal.h"

static uint8_t* patchSource;         // next payload byte to write
static int32_t patchRemaining;       // 0 = nothing armed
static uint32_t patchOptions;
static int patchComplete;
static int patchContinues;
static int32_t patchPosition;        // marker's position in this transfer's data
static int32_t patchDataSeen;        // bytes of this transfer the filter has seen

void startConfigPatch(int patching)
{
    patchComplete = !patching;
    patchContinues = 0;
    patchDataSeen = 0;
    patchPosition = 0;
}

int configPatchComplete(void)
{
    return patchComplete;
}

int32_t configPatchPosition(void)
{
    return patchPosition;
}

void disarmConfigPatch(void)
{
    patchRemaining = 0;
}

void setConfigPatch(uint8_t* payload, int32_t length, uint32_t options)
{
    patchSource = payload;
    patchRemaining = (payload && length > 0) ? length : 0;
    patchComplete = 0;
    patchOptions = options;
    if (patchOptions & PATCH_ENCIPHER)
        patchOptions &= ~(uint32_t)PATCH_KEEP_MARKER;
}

int setConfigPatchAtMarker(uint8_t* start, uint8_t* end, uint32_t options)
{
    if (!start || !end || end < start)
        return 0;
    for (ptrdiff_t after = end - start; after >= 8; after--) {
        if (!isConfigMarker(start + after - 8))
            continue;
        ptrdiff_t length = (end - start) - after;
        if (length > INT32_MAX)
            return 0;
        setConfigPatch(start + after, (int32_t)length, options);
        return 1;
    }
    return 0;
}

// Writes k payload bytes at out, enciphered when asked (the stream already started).
static void putPayload(uint8_t* out, int32_t k)
{
    memcpy(out, patchSource, (size_t)k);
    if (patchOptions & PATCH_ENCIPHER)
        crypt(out, k, 1);
    patchSource += k;
    patchRemaining -= k;
}

int configPatchFilter(uint8_t* chunk, int32_t n)
{
    if (!chunk || n <= 0)
        return 1;
    const int32_t chunkStart = patchDataSeen;
    patchDataSeen += n;
    if (patchContinues) {
        if (patchRemaining <= 0)
            return 1;
        int32_t k = patchRemaining < n ? patchRemaining : n;   // a long payload may span more chunks
        putPayload(chunk, k);
        if (patchRemaining > 0)
            return 1;
        patchComplete = 1;
        return 0;
    }
    // The marker must lie wholly in this chunk with at least one byte after it.
    for (int32_t p = 0; p + 8 < n; p++) {
        if (!isConfigMarker(chunk + p))
            continue;
        patchPosition = chunkStart + p;
        if (patchRemaining <= 0)
            return 0;   // nothing armed: the transfer fails
        if ((patchOptions & PATCH_STORE_POSITION) && patchRemaining >= 4)
            writeLe32(patchSource, (uint32_t)(patchPosition + 8));
        const int32_t total = patchRemaining;
        const int32_t avail = n - p - 8;
        int32_t k = total;
        if (total > avail) {
            k = avail;
            patchContinues = 1;
        } else {
            patchComplete = 1;
        }
        if (!(patchOptions & PATCH_KEEP_MARKER)) {
            writeLe32(chunk + p, CONFIG_MAGIC);
            writeLe32(chunk + p + 4, (uint32_t)total);
        }
        if (patchOptions & PATCH_ENCIPHER)
            setKey(0);   // the default key
        putPayload(chunk + p + 8, k);
        return patchContinues;
    }
    return 1;
}
