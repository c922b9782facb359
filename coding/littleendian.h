// littleendian.h - reading and writing the little-endian fields of every
// on-disk format (block headers, package records, the configuration block).
// Byte by byte, so the host's order and alignment never matter.
#ifndef CODING_LITTLEENDIAN_H
#define CODING_LITTLEENDIAN_H

#include <stdint.h>

inline uint16_t readLe16(const uint8_t* at)
{
    return (uint16_t)(at[0] | (at[1] << 8));
}

inline uint32_t readLe32(const uint8_t* at)
{
    return (uint32_t)at[0] | ((uint32_t)at[1] << 8) | ((uint32_t)at[2] << 16) | ((uint32_t)at[3] << 24);
}

inline void writeLe16(uint8_t* at, uint32_t value)
{
    at[0] = (uint8_t)value;
    at[1] = (uint8_t)(value >> 8);
}

inline void writeLe32(uint8_t* at, uint32_t value)
{
    at[0] = (uint8_t)value;
    at[1] = (uint8_t)(value >> 8);
    at[2] = (uint8_t)(value >> 16);
    at[3] = (uint8_t)(value >> 24);
}

#endif
