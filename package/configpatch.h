// configpatch.h - the configuration patch: a data filter that embeds a
// configuration block into data passing through a transfer (XFER_PATCH),
// over the 8-byte marker that an unwritten setup program carries.
#ifndef PACKAGE_CONFIGPATCH_H
#define PACKAGE_CONFIGPATCH_H

#include <stdint.h>

enum : uint32_t {
    PATCH_STORE_POSITION = 0x1,      // payload's first 4 bytes := its position in the data
    PATCH_ENCIPHER = 0x2,            // PC1 with the default key; drops PATCH_KEEP_MARKER
    PATCH_KEEP_MARKER = 0x10000      // no header: the payload follows the marker
};

// Arms the patch for the next operation. The payload's memory is written to
// only with PATCH_STORE_POSITION.
void setConfigPatch(uint8_t* payload, int32_t length, uint32_t options);
// Arms it with the bytes between the last marker in [start, end) and end; 0 when
// no marker lies there (nothing armed).
int setConfigPatchAtMarker(uint8_t* start, uint8_t* end, uint32_t options);
// The data filter that transfers with XFER_PATCH install; 0 = wants no more data.
int configPatchFilter(uint8_t* chunk, int32_t length);

#endif
