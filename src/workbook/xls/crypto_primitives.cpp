#include "workbook/xls/crypto_primitives.h"

#include <bit>
#include <stdexcept>
#include <utility>
#include <vector>

namespace vi2zezir::workbook::crypto {

namespace {

// The message with MD5's and SHA-1's padding: a 1 bit, zeros up to 56 bytes
// into a 64-byte block, then the length in bits (little-endian for MD5,
// big-endian for SHA-1). The inputs here are a few hundred bytes at most.
std::vector<std::uint8_t> Padded(std::span<const std::uint8_t> data, bool bigEndianLength) {
    std::vector<std::uint8_t> m(data.begin(), data.end());
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
    for (int i = 0; i < 8; ++i) {
        const int shift = bigEndianLength ? 8 * (7 - i) : 8 * i;
        m.push_back(static_cast<std::uint8_t>(bits >> shift));
    }
    return m;
}

std::uint32_t LoadLe(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t LoadBe(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

constexpr std::uint32_t kMd5Sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// Rotation of each step, by round (four steps repeat four times a round).
constexpr int kMd5Shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

} // namespace

Md5Digest Md5(std::span<const std::uint8_t> data) {
    std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    const auto m = Padded(data, false);
    for (std::size_t block = 0; block < m.size(); block += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = LoadLe(&m[block + 4 * static_cast<std::size_t>(i)]);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t f;
            int g;
            switch (i / 16) {
            case 0:
                f = (b & c) | (~b & d);
                g = i;
                break;
            case 1:
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
                break;
            case 2:
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
                break;
            default:
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
                break;
            }
            f += a + kMd5Sines[i] + w[g];
            a = d;
            d = c;
            c = b;
            b += std::rotl(f, kMd5Shifts[i / 16][i % 4]);
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d;
    }
    Md5Digest out;
    for (int i = 0; i < 16; ++i) out[i] = static_cast<std::uint8_t>(h[i / 4] >> (8 * (i % 4)));
    return out;
}

Sha1Digest Sha1(std::span<const std::uint8_t> data) {
    std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    const auto m = Padded(data, true);
    for (std::size_t block = 0; block < m.size(); block += 64) {
        std::uint32_t w[80];
        for (int t = 0; t < 16; ++t) w[t] = LoadBe(&m[block + 4 * static_cast<std::size_t>(t)]);
        for (int t = 16; t < 80; ++t) w[t] = std::rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int t = 0; t < 80; ++t) {
            std::uint32_t f, k;
            if (t < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (t < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (t < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const std::uint32_t temp = std::rotl(a, 5) + f + e + k + w[t];
            e = d;
            d = c;
            c = std::rotl(b, 30);
            b = a;
            a = temp;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    Sha1Digest out;
    for (int i = 0; i < 20; ++i) out[i] = static_cast<std::uint8_t>(h[i / 4] >> (8 * (3 - i % 4)));
    return out;
}

Rc4::Rc4(std::span<const std::uint8_t> key) {
    if (key.empty() || key.size() > 256) throw std::invalid_argument("an RC4 key has 1 to 256 bytes");
    for (int i = 0; i < 256; ++i) s_[i] = static_cast<std::uint8_t>(i);
    std::uint8_t j = 0;
    for (std::size_t i = 0; i < 256; ++i) {
        j = static_cast<std::uint8_t>(j + s_[i] + key[i % key.size()]);
        std::swap(s_[i], s_[j]);
    }
}

std::uint8_t Rc4::Next() noexcept {
    ++i_;
    j_ = static_cast<std::uint8_t>(j_ + s_[i_]);
    std::swap(s_[i_], s_[j_]);
    return s_[static_cast<std::uint8_t>(s_[i_] + s_[j_])];
}

void Rc4::Skip(std::size_t count) noexcept {
    while (count-- > 0) Next();
}

void Rc4::Apply(std::span<std::uint8_t> data) noexcept {
    for (auto& byte : data) byte ^= Next();
}

} // namespace vi2zezir::workbook::crypto
