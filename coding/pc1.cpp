// pc1.cpp - PC1 stream cipher state and keystream.
#include "coding/pc1.h"

#include <string.h>

// Bytes 10..13 only receive the copy that setKey makes; only 0..9 are keyed.
static uint8_t keyBuffer[14];
static uint16_t prevProduct;
static uint16_t runningSum;

void setKey(const char* name)
{
    prevProduct = 0;
    runningSum = 0;
    if (!name)
        name = PC1_DEFAULT_KEY;
    size_t length = strlen(name);
    if (length > 13) {
        memcpy(keyBuffer, name, sizeof keyBuffer);   // no terminator fits
    } else {
        memset(keyBuffer, 0, sizeof keyBuffer);
        memcpy(keyBuffer, name, length + 1);
    }
}

// Five passes over the key words; advances prevProduct and runningSum.
static uint8_t nextMask(void)
{
    uint16_t word = 0;
    uint16_t keystream = 0;
    uint16_t sum = runningSum;
    uint16_t product = prevProduct;
    for (unsigned i = 0; i < 5; i++) {
        uint16_t k = (uint16_t)(keyBuffer[2 * i] << 8 | keyBuffer[2 * i + 1]);
        uint16_t x = (uint16_t)(word ^ k);
        sum = (uint16_t)((uint16_t)(sum + i) * 20021u + x * 346u + product);
        product = (uint16_t)(x * 346u);
        word = (uint16_t)(x * 20021u + 1u);
        keystream ^= (uint16_t)(word ^ sum);
    }
    runningSum = sum;
    prevProduct = product;
    return (uint8_t)((keystream >> 8) ^ (keystream & 0xFF));
}

static void mixKey(uint8_t plain)
{
    for (unsigned j = 0; j < 10; j++)
        keyBuffer[j] ^= plain;
}

void crypt(uint8_t* buffer, int32_t length, int encipher)
{
    for (int32_t i = 0; i < length; i++) {
        uint8_t mask = nextMask();   // before the key bytes change
        if (encipher) {
            uint8_t plain = buffer[i];
            mixKey(plain);
            buffer[i] = (uint8_t)(plain ^ mask);
        } else {
            uint8_t plain = (uint8_t)(buffer[i] ^ mask);
            mixKey(plain);
            buffer[i] = plain;
        }
    }
}
