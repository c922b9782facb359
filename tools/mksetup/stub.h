// stub.h - the i686 setup program built into mksetup at build time, so that
// a build needs no stub argument. --stub and the script's Stub override it.
#ifndef MKSETUP_STUB_H
#define MKSETUP_STUB_H

#include <stddef.h>
#include <stdint.h>

// The setup program's image and its size in *size; *size is 0 when this
// mksetup was built without one (no i686 compiler on the build machine).
const uint8_t* embeddedStub(size_t* size);

#endif
