// decoration.h - the default decorative bitmaps, compiled into mksetup.
#ifndef MKSETUP_DECORATION_H
#define MKSETUP_DECORATION_H

#include <stdint.h>
#include <vector>

// The file image of default bitmap i, in the order of decorativeBitmapNames.
const std::vector<uint8_t>& defaultDecoration(int index);

#endif
