// codepage.h - the script's UTF-8 and the setup's Windows code page. The
// configuration holds 8-bit text of one code page; the system's converters
// (iconv, or WideCharToMultiByte on Windows) translate one character at a
// time, never by best fit: a character must come back as it went in, in one
// byte (two where the code page has lead bytes), or it is refused. Both
// builders so write the same bytes.
#ifndef MKSETUP_CODEPAGE_H
#define MKSETUP_CODEPAGE_H

#include <stddef.h>
#include <stdint.h>
#include <string>

enum { DEFAULT_CODE_PAGE = 1252 };

// 874, 1250-1258, and the double-byte 932, 936, 949, 950.
bool isSupportedCodePage(uint32_t codePage);
// The list above, for messages.
const char* supportedCodePagesText();

// The UTF-8 character at text[at]: its length in bytes and *codePoint, or 0
// for bytes that are no UTF-8 (overlong, a surrogate, past U+10FFFF, cut off).
size_t decodeUtf8(const std::string& text, size_t at, uint32_t* codePoint);
std::string encodeUtf8(uint32_t codePoint);
// Offset of the first byte that is no UTF-8, or npos.
size_t invalidUtf8At(const std::string& text);
// Characters of UTF-8 text.
size_t characterCount(const std::string& text);
// The first `characters` characters of UTF-8 text.
std::string firstCharacters(const std::string& text, size_t characters);

// UTF-16 code units of UTF-8 text, and back (false: an unpaired surrogate).
std::u16string utf16Of(const std::string& utf8);
bool utf8OfUtf16(const std::u16string& units, std::string& utf8);

// UTF-8 text in codePage. False when a character has no place in it;
// *refused (when not null) gets its code point.
bool toCodePage(const std::string& utf8, uint32_t codePage, std::string& out, uint32_t* refused);
// Text of codePage as UTF-8; false when a byte (or pair) is no character of
// it (it becomes U+FFFD in out).
bool fromCodePage(const std::string& text, uint32_t codePage, std::string& utf8);

// A configuration's text as UTF-8: codePage is its field, 0 (what setups of
// older builders hold) read as the default code page.
std::string storedTextOf(const std::string& text, uint32_t codePage);

#endif
