// codepage.cpp - UTF-8 and UTF-16 by their definitions; code pages by the
// system's converters, one character at a time.
#include "codepage.h"

#include "app/filename.h"
#include "app/setuplayout.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <iconv.h>
#include <stdio.h>
#endif

static const uint32_t codePages[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 932, 936, 949, 950};

bool isSupportedCodePage(uint32_t codePage)
{
    for (uint32_t c : codePages)
        if (c == codePage)
            return true;
    return false;
}

const char* supportedCodePagesText()
{
    return "874, 1250 to 1258, 932, 936, 949 or 950";
}

size_t decodeUtf8(const std::string& text, size_t at, uint32_t* codePoint)
{
    unsigned char first = (unsigned char)text[at];
    size_t length = first < 0x80 ? 1 : first >= 0xC2 && first < 0xE0 ? 2 : first >= 0xE0 && first < 0xF0 ? 3
                  : first >= 0xF0 && first < 0xF5 ? 4 : 0;
    if (!length || at + length > text.size())
        return 0;
    uint32_t value = length == 1 ? first : first & (0x7F >> length);
    for (size_t i = 1; i < length; i++) {
        unsigned char next = (unsigned char)text[at + i];
        if ((next & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (next & 0x3F);
    }
    static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000))
        return 0;
    *codePoint = value;
    return length;
}

std::string encodeUtf8(uint32_t c)
{
    std::string out;
    if (c < 0x80) {
        out += (char)c;
    } else if (c < 0x800) {
        out += (char)(0xC0 | c >> 6);
        out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += (char)(0xE0 | c >> 12);
        out += (char)(0x80 | (c >> 6 & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    } else {
        out += (char)(0xF0 | c >> 18);
        out += (char)(0x80 | (c >> 12 & 0x3F));
        out += (char)(0x80 | (c >> 6 & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    }
    return out;
}

size_t invalidUtf8At(const std::string& text)
{
    uint32_t c;
    for (size_t at = 0; at < text.size();) {
        size_t n = decodeUtf8(text, at, &c);
        if (!n)
            return at;
        at += n;
    }
    return std::string::npos;
}

// Bytes of the character at `at`; 1 for a byte that is no UTF-8.
static size_t stepOf(const std::string& text, size_t at)
{
    uint32_t c;
    size_t n = decodeUtf8(text, at, &c);
    return n ? n : 1;
}

size_t characterCount(const std::string& text)
{
    size_t count = 0;
    for (size_t at = 0; at < text.size(); at += stepOf(text, at))
        count++;
    return count;
}

std::string firstCharacters(const std::string& text, size_t characters)
{
    size_t at = 0;
    for (; at < text.size() && characters > 0; characters--)
        at += stepOf(text, at);
    return text.substr(0, at);
}

std::u16string utf16Of(const std::string& utf8)
{
    std::u16string out;
    uint32_t c = 0;
    for (size_t at = 0; at < utf8.size();) {
        size_t n = decodeUtf8(utf8, at, &c);
        if (!n) {
            c = 0xFFFD;
            n = 1;
        }
        at += n;
        if (c >= 0x10000) {
            out += (char16_t)(0xD800 + ((c - 0x10000) >> 10));
            out += (char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += (char16_t)c;
        }
    }
    return out;
}

bool utf8OfUtf16(const std::u16string& units, std::string& utf8)
{
    utf8.clear();
    for (size_t i = 0; i < units.size(); i++) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            return false;
        utf8 += encodeUtf8(c);
    }
    return true;
}

// The bytes of one character in codePage, with the layout the setup program
// reads them by: one byte, or a lead byte and one more.
static bool fitsLayout(const std::string& bytes, uint32_t codePage)
{
    if (bytes.size() == 1)
        return !isLeadByte((unsigned char)bytes[0], codePage);
    return bytes.size() == 2 && isLeadByte((unsigned char)bytes[0], codePage);
}

#ifdef _WIN32

// One character (UTF-16 units) into codePage, with no best fit.
static bool narrowOne(const std::u16string& wide, uint32_t codePage, std::string& out)
{
    char bytes[8];
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, (LPCWCH)wide.data(), (int)wide.size(), bytes,
                                sizeof bytes, NULL, &usedDefault);
    if (n <= 0 || usedDefault)
        return false;
    out.assign(bytes, (size_t)n);
    return true;
}

static bool widenOne(const std::string& bytes, uint32_t codePage, std::u16string& out)
{
    wchar_t wide[4];
    int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), (int)bytes.size(), wide, 4);
    if (n <= 0)
        return false;
    out.assign((const char16_t*)wide, (size_t)n);
    return true;
}

static bool toOne(const std::string& utf8, uint32_t codePage, std::string& out)
{
    std::u16string wide = utf16Of(utf8), back;
    return narrowOne(wide, codePage, out) && widenOne(out, codePage, back) && back == wide;
}

static bool fromOne(const std::string& bytes, uint32_t codePage, std::string& utf8)
{
    std::u16string wide;
    return widenOne(bytes, codePage, wide) && utf8OfUtf16(wide, utf8);
}

#else

// One converter each way for the code page in use, opened once.
static struct {
    uint32_t codePage;
    iconv_t to, from;
} converters = {0, (iconv_t)-1, (iconv_t)-1};

static bool openConverters(uint32_t codePage)
{
    if (converters.codePage == codePage)
        return converters.to != (iconv_t)-1 && converters.from != (iconv_t)-1;
    if (converters.to != (iconv_t)-1)
        iconv_close(converters.to);
    if (converters.from != (iconv_t)-1)
        iconv_close(converters.from);
    char name[16];
    snprintf(name, sizeof name, "CP%u", (unsigned)codePage);
    converters.codePage = codePage;
    converters.to = iconv_open(name, "UTF-8");
    converters.from = iconv_open("UTF-8", name);
    return converters.to != (iconv_t)-1 && converters.from != (iconv_t)-1;
}

// All of in converted, from a fresh state; no irreversible step counted.
static bool convertAll(iconv_t cd, const std::string& in, std::string& out)
{
    char buffer[16];
    char* source = const_cast<char*>(in.data());
    size_t left = in.size(), room = sizeof buffer;
    char* target = buffer;
    iconv(cd, NULL, NULL, NULL, NULL);
    errno = 0;
    size_t steps = iconv(cd, &source, &left, &target, &room);
    if (steps == (size_t)-1 || steps != 0 || left != 0)
        return false;   // EILSEQ: no such character; EINVAL: cut off
    if (iconv(cd, NULL, NULL, &target, &room) == (size_t)-1)
        return false;
    out.assign(buffer, sizeof buffer - room);
    return true;
}

static bool toOne(const std::string& utf8, uint32_t codePage, std::string& out)
{
    std::string back;
    return openConverters(codePage) && convertAll(converters.to, utf8, out) &&
           convertAll(converters.from, out, back) && back == utf8;
}

static bool fromOne(const std::string& bytes, uint32_t codePage, std::string& utf8)
{
    return openConverters(codePage) && convertAll(converters.from, bytes, utf8);
}

#endif

bool toCodePage(const std::string& utf8, uint32_t codePage, std::string& out, uint32_t* refused)
{
    out.clear();
    uint32_t c = 0;
    for (size_t at = 0; at < utf8.size();) {
        size_t n = decodeUtf8(utf8, at, &c);
        std::string bytes;
        if (!n || !isSupportedCodePage(codePage) || !toOne(utf8.substr(at, n), codePage, bytes) ||
            !fitsLayout(bytes, codePage)) {
            if (refused)
                *refused = n ? c : 0xFFFD;
            return false;
        }
        out += bytes;
        at += n;
    }
    return true;
}

bool fromCodePage(const std::string& text, uint32_t codePage, std::string& utf8)
{
    utf8.clear();
    bool ok = true;
    for (size_t at = 0; at < text.size();) {
        size_t n = isLeadByte((unsigned char)text[at], codePage) && at + 1 < text.size() ? 2 : 1;
        std::string one;
        if (!isSupportedCodePage(codePage) || !fromOne(text.substr(at, n), codePage, one) || invalidUtf8At(one) != std::string::npos) {
            one = encodeUtf8(0xFFFD);
            ok = false;
        }
        utf8 += one;
        at += n;
    }
    return ok;
}

std::string storedTextOf(const std::string& text, uint32_t codePage)
{
    std::string utf8;
    fromCodePage(text, codePage ? codePage : (uint32_t)DEFAULT_CODE_PAGE, utf8);
    return utf8;
}
