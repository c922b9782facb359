// The publisher read back from a version resource, as the installer reads its
// own for the uninstall entry: the value found by its whole key, whatever
// comes before it, and nothing read outside the resource or a node, however
// its lengths are spoilt.
#include <gtest/gtest.h>

#include <windows.h>
#include <string.h>

#include <string>
#include <vector>

#include "install/shell.h"
#include "resources/versionfields.h"

namespace {

typedef std::string Bytes;

void putWord(Bytes& out, unsigned value)
{
    out += (char)(value & 0xFF);
    out += (char)(value >> 8);
}

void padTo4(Bytes& out)
{
    while (out.size() % 4)
        out += '\0';
}

// One node as a resource compiler lays it out: length, value length, type,
// the key with its NUL, the value and the children, each at a multiple of 4.
// valueUnits: the value length to write for a text value (-1: its units
// with the NUL).
Bytes node(const std::wstring& key, int type, const std::wstring& text, const std::vector<Bytes>& children,
           int valueUnits = -1)
{
    Bytes out;
    putWord(out, 0);   // the length, below
    putWord(out, text.empty() ? 0 : (unsigned)(valueUnits >= 0 ? valueUnits : (int)text.size() + 1));
    putWord(out, (unsigned)type);
    for (wchar_t unit : key)
        putWord(out, unit);
    putWord(out, 0);
    padTo4(out);
    if (!text.empty()) {
        for (wchar_t unit : text)
            putWord(out, unit);
        putWord(out, 0);
    }
    for (const Bytes& child : children) {
        padTo4(out);
        out += child;
    }
    out[0] = (char)(out.size() & 0xFF);
    out[1] = (char)(out.size() >> 8);
    padTo4(out);
    return out;
}

// A version resource with one string table holding these values, and the
// fixed file information as the resource compiler puts it first.
Bytes resource(const std::vector<Bytes>& values, const std::vector<Bytes>& moreTables = {})
{
    std::vector<Bytes> tables = {node(L"040904B0", 1, L"", values)};
    tables.insert(tables.end(), moreTables.begin(), moreTables.end());
    Bytes fixed(52, '\0');   // VS_FIXEDFILEINFO: a binary value
    Bytes root;
    putWord(root, 0);
    putWord(root, (unsigned)fixed.size());
    putWord(root, 0);
    for (wchar_t unit : std::wstring(L"VS_VERSION_INFO"))
        putWord(root, unit);
    putWord(root, 0);
    padTo4(root);
    root += fixed;
    padTo4(root);
    root += node(L"StringFileInfo", 1, L"", tables);
    root += node(L"VarFileInfo", 1, L"", {node(L"Translation", 0, L"", {})});
    root[0] = (char)(root.size() & 0xFF);
    root[1] = (char)(root.size() >> 8);
    return root;
}

Bytes value(const std::wstring& key, const std::wstring& text)
{
    return node(key, 1, text, {});
}

// The builder's way: the text over the placeholder, padded with NULs.
Bytes paddedValue(const std::wstring& key, const std::wstring& text, size_t width)
{
    std::wstring padded = text;
    padded.resize(width - 1, L'\0');
    return node(key, 1, padded, {}, (int)width);
}

std::string read(const Bytes& data, const char* key, int capacity = PUBLISHER_SIZE)
{
    char text[PUBLISHER_SIZE + 8];
    memset(text, 'x', sizeof text);
    int found = versionText(data.data(), (uint32_t)data.size(), key, text, capacity);
    EXPECT_EQ(found, text[0] ? 1 : 0) << "the result says what the text says";
    return found ? text : "(none)";
}

}  // namespace

TEST(VersionText, FindsTheValueByItsWholeKey)
{
    const std::wstring placeholder(VERSION_COMPANY_PLACEHOLDER, VERSION_COMPANY_PLACEHOLDER +
                                                                    sizeof VERSION_COMPANY_PLACEHOLDER - 1);
    const struct {
        const char* what;
        Bytes data;
        const char* key;
        const char* expected;
    } cases[] = {
        {"the builder's field among the others",
         resource({value(L"FileDescription", L"Demo Setup"), paddedValue(L"CompanyName", L"TambSetup example", 64),
                   value(L"ProductName", L"Demo")}),
         VERSION_COMPANY_KEY, "TambSetup example"},
        {"letters outside ASCII, in UTF-8", resource({paddedValue(L"CompanyName", L"\u041a\u0440\u0435\u043c \u0421\u043e\u0444\u0442", 64)}),
         VERSION_COMPANY_KEY, "\xd0\x9a\xd1\x80\xd0\xb5\xd0\xbc \xd0\xa1\xd0\xbe\xd1\x84\xd1\x82"},
        {"the longest publisher the builder takes", resource({value(L"CompanyName", std::wstring(63, L'p'))}),
         VERSION_COMPANY_KEY, "ppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp"},
        {"the unfilled stub's placeholder is read as it stands", resource({value(L"CompanyName", placeholder)}),
         VERSION_COMPANY_KEY, VERSION_COMPANY_PLACEHOLDER},
        {"no publisher written: all NULs", resource({paddedValue(L"CompanyName", L"", 64)}), VERSION_COMPANY_KEY,
         "(none)"},
        {"a key that only begins with it", resource({value(L"CompanyNameX", L"wrong")}), VERSION_COMPANY_KEY,
         "(none)"},
        {"a key that is only its beginning", resource({value(L"Company", L"wrong")}), VERSION_COMPANY_KEY,
         "(none)"},
        {"no such value", resource({value(L"ProductName", L"Demo")}), VERSION_COMPANY_KEY, "(none)"},
        {"the first value of that key",
         resource({value(L"CompanyName", L"first")}, {node(L"040704B0", 1, L"", {value(L"CompanyName", L"second")})}),
         VERSION_COMPANY_KEY, "first"},
        {"a key found in another table",
         resource({value(L"ProductName", L"Demo")}, {node(L"040704B0", 1, L"", {value(L"CompanyName", L"second")})}),
         VERSION_COMPANY_KEY, "second"},
        {"longer than the field", resource({value(L"CompanyName", std::wstring(64, L'p'))}), VERSION_COMPANY_KEY,
         "(none)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(read(c.data, c.key), c.expected);
    }
    // A text that fits the field but not the caller's buffer is refused, not cut.
    Bytes data = resource({value(L"CompanyName", L"TambSetup example")});
    EXPECT_EQ(read(data, VERSION_COMPANY_KEY, 18), "TambSetup example");
    EXPECT_EQ(read(data, VERSION_COMPANY_KEY, 17), "(none)");
}

TEST(VersionText, NeverReadsOutsideTheResourceOrANode)
{
    Bytes whole = resource({value(L"FileDescription", L"Demo Setup"), value(L"CompanyName", L"TambSetup example")});
    ASSERT_EQ(read(whole, VERSION_COMPANY_KEY), "TambSetup example");
    size_t at = whole.find(std::string("C\0o\0m\0p\0a\0n\0y\0N", 15));
    ASSERT_NE(at, std::string::npos);
    size_t company = at - 6;   // the node's header
    // Cut at every length: each copy in a buffer of its own size, so that a
    // read past the end is a read past the allocation (and a text from
    // beyond the cut would show).
    for (size_t size = 0; size < whole.size(); size++) {
        SCOPED_TRACE("cut to " + std::to_string(size) + " bytes");
        std::vector<char> cut(whole.begin(), whole.begin() + size);
        char text[PUBLISHER_SIZE];
        int found = versionText(cut.data(), (uint32_t)size, VERSION_COMPANY_KEY, text, sizeof text);
        // Only whole: a node cut short is damaged, never read in part.
        if (found) {
            EXPECT_STREQ(text, "TambSetup example");
        }
        EXPECT_EQ(found, size >= company + 32 + 2 * 18 ? 1 : 0);
    }
    const struct {
        const char* what;
        size_t offset;      // of the 16-bit length to spoil
        unsigned length;
    } spoilt[] = {
        {"value node of length 0", company, 0},
        {"value node past its table", company, 0xFFFF},
        {"value node cut inside its key", company, 8},
    };
    for (const auto& s : spoilt) {
        SCOPED_TRACE(s.what);
        Bytes data = whole;
        data[s.offset] = (char)(s.length & 0xFF);
        data[s.offset + 1] = (char)(s.length >> 8);
        EXPECT_EQ(read(data, VERSION_COMPANY_KEY), "(none)");
    }
    // A value whose node ends inside its text: the text is cut at the node's
    // end, never read on into the next node.
    Bytes data = whole;
    unsigned shortened = 6 + 2 * 12 + 2 + 2 * 4;   // header, "CompanyName" and NUL, padding, "Tamb"
    data[company] = (char)shortened;
    data[company + 1] = 0;
    EXPECT_EQ(read(data, VERSION_COMPANY_KEY), "Tamb");
}
