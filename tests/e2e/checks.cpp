// checks.cpp - the log of a scenario: one line per check, and the count of
// failed ones that decides the exit code.
#include "driver.h"
#include <stdarg.h>
#include <stdio.h>

static int failures = 0, passes = 0;

static void emit(const char* prefix, const char* format, va_list args)
{
    fputs(prefix, stdout);
    vfprintf(stdout, format, args);
    fputc('\n', stdout);
    fflush(stdout);
}

void note(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    emit("", format, args);
    va_end(args);
}

bool pass(const char* format, ...)
{
    passes++;
    va_list args;
    va_start(args, format);
    emit("ok: ", format, args);
    va_end(args);
    return true;
}

bool fail(const char* format, ...)
{
    failures++;
    va_list args;
    va_start(args, format);
    emit("FAIL: ", format, args);
    va_end(args);
    return false;
}

bool expect(bool held, const char* format, ...)
{
    if (held)
        passes++;
    else
        failures++;
    va_list args;
    va_start(args, format);
    emit(held ? "ok: " : "FAIL: ", format, args);
    va_end(args);
    return held;
}

int failureCount(void)
{
    return failures;
}

int passCount(void)
{
    return passes;
}

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 32 || c == 127) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else
            out += (char)c;
    }
    return out + "\"";
}

std::wstring wide(const std::string& utf8)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), NULL, 0);
    std::wstring out((size_t)length, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &out[0], length);
    return out;
}

std::string utf8(const wchar_t* text, int length)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, NULL, 0, NULL, NULL);
    std::string out(bytes > 0 ? (size_t)bytes : 0, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], bytes, NULL, NULL);
    if (length < 0 && !out.empty())
        out.pop_back();   // the NUL
    return out;
}

std::string joinLines(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

// A multi-line difference is shown line by line: the lines only one side has.
bool expectEqual(const std::string& what, const std::string& expected, const std::string& actual)
{
    if (expected == actual)
        return pass("%s", what.c_str());
    return fail("%s differs\n      expected: %s\n      actual:   %s", what.c_str(), quoted(expected).c_str(),
                quoted(actual).c_str());
}

bool expectExitCode(const char* what, DWORD expected)
{
    return expectEqual(std::string("exit code of ") + what, std::to_string(expected), std::to_string(lastExitCode));
}
