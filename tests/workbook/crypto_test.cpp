// The primitives under workbook encryption, against published test vectors,
// and an encrypted workbook through the engine's load and save.
#include "workbook/xls/crypto_primitives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "workbook/sheet/model.h"

namespace vi2zezir::workbook {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

template <std::size_t N>
std::string Hex(const std::array<std::uint8_t, N>& bytes) {
    std::string out;
    for (auto b : bytes) out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
    return out;
}

TEST(CryptoPrimitives, DigestsMatchThePublishedVectors) {
    // RFC 1321 appendix A.5; FIPS 180 examples (the second takes two blocks:
    // 56 bytes leave no room for the length in the first).
    const struct {
        const char* message;
        const char* md5;
        const char* sha1;
    } kVectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e", nullptr},
        {"a", "0cc175b9c0f1b6a831c399e269772661", nullptr},
        {"abc", "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0", nullptr},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a", nullptr},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", nullptr,
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    };
    for (const auto& v : kVectors) {
        SCOPED_TRACE(v.message);
        if (v.md5) {
            EXPECT_EQ(Hex(crypto::Md5(Bytes(v.message))), v.md5);
        }
        if (v.sha1) {
            EXPECT_EQ(Hex(crypto::Sha1(Bytes(v.message))), v.sha1);
        }
    }
}

TEST(CryptoPrimitives, Rc4KeystreamMatchesTheRfc6229Vectors) {
    const std::vector<std::uint8_t> key40{1, 2, 3, 4, 5};
    const std::vector<std::uint8_t> key128{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const struct {
        const std::vector<std::uint8_t>& key;
        std::size_t offset;
        const char* keystream;
    } kVectors[] = {
        {key40, 0, "b2396305f03dc027ccc3524a0a1118a8"},     {key40, 16, "6982944f18fc82d589c403a47a0d0919"},
        {key40, 1536, "d8729db41882259bee4f825325f5a130"},  {key128, 0, "9ac7cc9a609d1ef7b2932899cde41b97"},
        {key128, 1536, "ffa0b514647ec04f6306b892ae661181"},
    };
    for (const auto& v : kVectors) {
        SCOPED_TRACE(std::to_string(v.key.size()) + "-byte key at " + std::to_string(v.offset));
        crypto::Rc4 rc4(v.key);
        rc4.Skip(v.offset);
        std::array<std::uint8_t, 16> block{};
        rc4.Apply(block);
        EXPECT_EQ(Hex(block), v.keystream);
    }
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The engine reads the text of a workbook encrypted under the default
// password, and what it saves holds that text only encrypted.
TEST(EncryptedWorkbook, SavesNoTextInTheClear) {
    const auto file = ReadFile(std::filesystem::path(VZ_TEST_DATA_DIR) / "corpus/encrypted/50833.xls");
    const auto book = Workbook::Load(file);
    const auto texts = book->SheetTexts(0);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0].text, u"test cell value");

    const auto saved = book->Save();
    const std::string clear = "test cell value";
    EXPECT_EQ(std::search(saved.begin(), saved.end(), clear.begin(), clear.end()), saved.end());
    const auto again = Workbook::Load(saved)->SheetTexts(0);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[0].text, u"test cell value");
}

} // namespace
} // namespace vi2zezir::workbook
