// textformat.cpp - the bounded formatter behind every composed text and path.
#include "app/textformat.h"

#include <stdarg.h>

// A write position in a fixed buffer; end leaves room for the terminator.
struct TextOut {
    char* at;
    char* end;
    int cut;               // something did not fit
};

static void putChar(TextOut* out, char c)
{
    if (out->at < out->end)
        *out->at++ = c;
    else
        out->cut = 1;
}

static void putString(TextOut* out, const char* text)
{
    if (!text)
        return;
    while (*text)
        putChar(out, *text++);
}

static void putNumber(TextOut* out, int value)
{
    char digits[12];
    int count = 0;
    unsigned magnitude = value < 0 ? 0u - (unsigned)value : (unsigned)value;
    do {
        digits[count++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0)
        putChar(out, '-');
    while (count)
        putChar(out, digits[--count]);
}

// With a name, every %s is that name and %d is literal; without, both come
// from the argument list.
static int compose(char* buffer, int capacity, const char* format, va_list* args, const char* name)
{
    if (!buffer || capacity <= 0)
        return -1;
    TextOut out = {buffer, buffer + capacity - 1, 0};
    for (const char* f = format ? format : ""; *f; f++) {
        if (f[0] != '%') {
            putChar(&out, f[0]);
        } else if (f[1] == '%') {
            putChar(&out, '%');
            f++;
        } else if (f[1] == 's') {
            putString(&out, name ? name : va_arg(*args, const char*));
            f++;
        } else if (f[1] == 'd' && !name) {
            putNumber(&out, va_arg(*args, int));
            f++;
        } else {
            putChar(&out, '%');
        }
    }
    if (out.cut) {
        // Texts are UTF-8: a cut text ends on a whole character, never on
        // part of one, which no conversion would take.
        char* lead = out.at;
        int tail = 0;
        while (lead > buffer && tail < 3 && ((unsigned char)lead[-1] & 0xC0) == 0x80) {
            lead--;
            tail++;
        }
        unsigned char first = lead > buffer ? (unsigned char)lead[-1] : 0;
        int needed = first >= 0xF0 ? 3 : first >= 0xE0 ? 2 : first >= 0xC0 ? 1 : 0;
        if (needed > tail)
            out.at = lead - 1;
    }
    *out.at = 0;
    return out.cut ? -1 : (int)(out.at - buffer);
}

int formatText(char* buffer, int capacity, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int length = compose(buffer, capacity, format, &args, 0);
    va_end(args);
    return length;
}

int formatWithName(char* buffer, int capacity, const char* format, const char* name)
{
    return compose(buffer, capacity, format, 0, name ? name : "");
}

int appendLine(char* buffer, int capacity, const char* text)
{
    return appendText(buffer, capacity, text) < 0 ? -1 : appendText(buffer, capacity, "\n");
}

int appendText(char* buffer, int capacity, const char* text)
{
    int length = 0;
    while (length < capacity && buffer[length])
        length++;
    if (length >= capacity)
        return -1;
    int added = formatText(buffer + length, capacity - length, "%s", text);
    return added < 0 ? -1 : length + added;
}
