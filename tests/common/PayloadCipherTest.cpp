#include "common/PayloadCipher.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

namespace quelvo {
namespace {

TTravonBytes AllBytes() {
    TTravonBytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    return all;
}

TEST(PayloadCipher, RoundTripsForAnyKeyAndSalt) {
    const TTravonBytes data = AllBytes();
    const std::string keys[] = {"", kTravonKey, "a", std::string(300, '\xff'), "chave\xe7"};
    for (const auto& key : keys) {
        for (bool fixed : {false, true}) {
            const auto block = Cipher(data, key, false, fixed);
            ASSERT_EQ(block.size(), data.size() + 1);
            EXPECT_EQ(Cipher(block, key, true), data) << "key of " << key.size() << " bytes";
        }
    }
    // Every possible salt byte deciphers, 255 included (the site may send any).
    for (int salt = 0; salt < 256; ++salt) {
        TTravonBytes block = {static_cast<std::uint8_t>(salt)};
        for (auto b : data) {
            block.push_back(static_cast<std::uint8_t>(b + salt + 0x5c));  // key "\\" = 0x5c
        }
        EXPECT_EQ(Cipher(block, "\\", true), data) << "salt " << salt;
    }
}

TEST(PayloadCipher, KnownBlocks) {
    // The bytes of "brevolantisco" add up to 1403, 123 modulo 256; with the fixed salt 100 every
    // byte moves by 223.
    EXPECT_EQ(Cipher(StringToBytes("AB"), kTravonKey, false, true),
              (TTravonBytes{100, 0x41 + 223 - 256, 0x42 + 223 - 256}));
    // The empty key adds only the salt.
    EXPECT_EQ(Cipher(TTravonBytes{0, 1, 200}, "", false, true), (TTravonBytes{100, 100, 101, 44}));
    // Empty input: the salt alone.
    EXPECT_EQ(Cipher({}, kTravonKey, false, true), TTravonBytes{100});
}

TEST(PayloadCipher, FixedSaltIsRepeatableAndRandomSaltNeverIs255) {
    const auto data = StringToBytes("12345678901234567890123456789012345678901234");
    EXPECT_EQ(Cipher(data, kTravonKey, false, true), Cipher(data, kTravonKey, false, true));
    std::set<int> salts;
    for (int i = 0; i < 20000; ++i) {
        const int salt = Cipher(data, kTravonKey, false)[0];
        ASSERT_NE(salt, 255);
        salts.insert(salt);
    }
    EXPECT_EQ(salts.size(), 255u);  // 0..254 all drawn
    // Back-to-back calls do not repeat one salt (no reseeding from the clock).
    int same = 0;
    for (int i = 0; i < 200; ++i) {
        same += Cipher(data, "", false)[0] == Cipher(data, "", false)[0];
    }
    EXPECT_LT(same, 20);
}

TEST(PayloadCipher, DecipherEdges) {
    EXPECT_THROW(Cipher({}, kTravonKey, true), std::out_of_range);
    EXPECT_TRUE(Cipher(TTravonBytes{42}, kTravonKey, true).empty());
    // The fixed-salt flag means nothing when deciphering.
    const auto block = Cipher(StringToBytes("x"), kTravonKey, false);
    EXPECT_EQ(Cipher(block, kTravonKey, true, true), StringToBytes("x"));
}

TEST(PayloadCipher, StringAndStreamWrappers) {
    const std::string text = "Concei\xc3\xa7\xc3\xa3o|1899-12-30 00:00:00";
    EXPECT_EQ(StringToBytes(text).size(), text.size());
    EXPECT_EQ(BytesToString(StringToBytes(text)), text);
    EXPECT_EQ(CipherString(CipherString(text, kTravonKey, false), kTravonKey, true), text);

    // CipherStream reads from position 0 whatever the current position.
    std::stringstream in(CipherString(text, kTravonKey, false, true));
    in.seekg(5);
    EXPECT_EQ(BytesToString(CipherStream(in, kTravonKey, true)), text);

    // CipherToStream overwrites only the first n + 1 bytes and stops just after them.
    std::stringstream out;
    out << std::string(10, 'Z');
    CipherToStream("abc", out, kTravonKey, false, true);
    EXPECT_EQ(out.tellp(), 4);
    const std::string all = out.str();
    ASSERT_EQ(all.size(), 10u);
    EXPECT_EQ(all.substr(0, 4), CipherString("abc", kTravonKey, false, true));
    EXPECT_EQ(all.substr(4), std::string(6, 'Z'));
}

}  // namespace
}  // namespace quelvo
