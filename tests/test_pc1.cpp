// PC1 stream cipher: known streams, key handling and stream continuation.
#include <gtest/gtest.h>

#include "coding/pc1.h"
#include "testutil.h"

static Bytes cryptAll(const char* key, Bytes data, int encipher)
{
    setKey(key);
    crypt(data.data(), (int32_t)data.size(), encipher);
    return data;
}

// Streams worked out independently from the algorithm's description.
TEST(Pc1, KnownStreams)
{
    struct Case {
        const char* key;
        Bytes input;
        int encipher;
        const char* expectedHex;
    } cases[] = {
        {"Qarmv", bytesOf("Hello, setup!"), 1, "73cb20796c5c9cb23475a2d9d5"},
        {"QOPZ", Bytes(16, 0), 1, "ee5135d6f55b7580e6be2d443998a7c4"},
        {"Qarmv", fromHex("00112233445566778899"), 0, "3b2286065b5318e8319c"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cryptAll(c.key, c.input, c.encipher), fromHex(c.expectedHex)) << c.key;
}

TEST(Pc1, KeyNamesThatGiveTheSameStream)
{
    const Bytes data = textBytes(300, 7);
    struct Case {
        const char* a;
        const char* b;
    } same[] = {
        {nullptr, "Qarmv"},                       // null is the default key
        {"ABCDEFGHIJ", "ABCDEFGHIJKL"},           // 10 vs 12 characters
        {"ABCDEFGHIJ", "ABCDEFGHIJKLMNOPQRS"},    // 14 or more: copied without terminator
        {"ABCDEFGHIJ", "ABCDEFGHIJKLM"},          // 13 characters
    };
    for (const Case& c : same)
        EXPECT_EQ(cryptAll(c.a, data, 1), cryptAll(c.b, data, 1)) << (c.a ? c.a : "null") << " / " << c.b;

    EXPECT_NE(cryptAll("ABCDEFGHI", data, 1), cryptAll("ABCDEFGHIJ", data, 1));
    EXPECT_NE(cryptAll("QOPZ", data, 1), cryptAll("Qarmv", data, 1));
}

TEST(Pc1, EmptyNameIsTenZeroKeyBytes)
{
    // Worked out with ten zero key bytes; "" must not read past its terminator.
    EXPECT_EQ(cryptAll("", Bytes(8, 0), 1), fromHex("17bb052bd64f32a0"));
    EXPECT_EQ(cryptAll("ABCDEFGHIJ", bytesOf("abcdefgh"), 1), fromHex("91b5fde5c329d7e3"));
}

TEST(Pc1, DecipherThenEncipherRestores)
{
    for (const Bytes& original : {randomBytes(1280, 11), textBytes(40, 2), Bytes(1, 0x45)}) {
        Bytes deciphered = cryptAll("QOPZ", original, 0);
        EXPECT_EQ(cryptAll("QOPZ", deciphered, 1), original);
        Bytes enciphered = cryptAll(nullptr, original, 1);
        EXPECT_EQ(cryptAll(nullptr, enciphered, 0), original);
    }
}

TEST(Pc1, PiecesContinueTheStream)
{
    const Bytes data = randomBytes(1044, 5);
    const Bytes whole = cryptAll(nullptr, data, 1);
    for (size_t split : {0u, 1u, 3u, 92u, 1043u, 1044u}) {
        Bytes pieces = data;
        setKey(nullptr);
        crypt(pieces.data(), (int32_t)split, 1);
        crypt(pieces.data() + split, 0, 1);   // an empty piece changes nothing
        crypt(pieces.data() + split, (int32_t)(data.size() - split), 1);
        EXPECT_EQ(pieces, whole) << "split at " << split;
    }
}

TEST(Pc1, EqualPlainBytesGiveVaryingCipherBytes)
{
    const Bytes cipher = cryptAll(nullptr, Bytes(32, 'A'), 1);
    int distinct = 0;
    for (size_t i = 1; i < cipher.size(); i++)
        distinct += cipher[i] != cipher[i - 1];
    EXPECT_GT(distinct, 24);
}
