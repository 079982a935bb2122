// The Workbook stream's encryption: record headers stay in the clear, and so
// do the payloads of the few records a reader needs before it can decrypt
// (BOF, FILEPASS, the shared-workbook and interface headers) and the sheet
// offsets in BOUNDSHEET. Everything else is XORed with an RC4 keystream that
// is keyed afresh for every 1,024 bytes of the stream by the block's number,
// so a byte's stream position alone decides its keystream byte.
#include "workbook/xls/crypto.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "workbook/sheet/model.h"
#include "workbook/xls/biff.h"
#include "workbook/xls/crypto_primitives.h"

namespace vi2zezir::workbook {

namespace {

namespace op = biff::op;
using biff::GetU16;

constexpr std::u16string_view kDefaultPassword = u"VelvetSweatshop";
constexpr std::size_t kBlockSize = 1024;

[[noreturn]] void Refuse(const std::string& why, ErrorKind kind = ErrorKind::Damaged) { throw Error(kind, why); }

std::string Hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(v));
    return buf;
}

std::vector<std::uint8_t> Utf16Le(std::u16string_view text) {
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

void Append(std::vector<std::uint8_t>& to, std::span<const std::uint8_t> bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

// What a block's key is made from: the password's hash for the file's salt.
struct Scheme {
    bool cryptoApi = false;
    // RC4: the first 5 bytes of MD5(16 x (5 bytes of MD5(password) + salt)).
    // CryptoAPI: SHA-1(salt + password).
    std::vector<std::uint8_t> passwordHash;
    std::size_t keyBytes = 16; // CryptoAPI: 5 to 16

    std::vector<std::uint8_t> BlockKey(std::uint32_t block) const {
        std::vector<std::uint8_t> input = passwordHash;
        for (int i = 0; i < 4; ++i) input.push_back(static_cast<std::uint8_t>(block >> (8 * i)));
        if (!cryptoApi) {
            const auto hash = crypto::Md5(input);
            return {hash.begin(), hash.end()};
        }
        const auto hash = crypto::Sha1(input);
        std::vector<std::uint8_t> key(hash.begin(), hash.begin() + static_cast<std::ptrdiff_t>(keyBytes));
        // A 40-bit key is used as a 128-bit one, padded with zeros.
        if (keyBytes == 5) key.resize(16, 0);
        return key;
    }
};

// Whether the password gave the key the file was encrypted with: the
// verifier and its hash, decrypted by one keystream of block 0, must match.
template <class Hash>
bool Verifies(const Scheme& scheme, std::vector<std::uint8_t> verifier, std::vector<std::uint8_t> verifierHash,
              Hash hash) {
    crypto::Rc4 rc4(scheme.BlockKey(0));
    rc4.Apply(verifier);
    rc4.Apply(verifierHash);
    const auto expected = hash(verifier);
    return verifierHash.size() == expected.size() && std::equal(expected.begin(), expected.end(), verifierHash.begin());
}

[[noreturn]] void RefusePassword() { Refuse("the workbook is protected with a password to open", ErrorKind::Password); }

// RC4 encryption header after its version: salt, verifier, verifier hash.
Scheme ReadRc4(biff::RecordCursor& cursor) {
    const auto salt = cursor.Bytes(16);
    const auto verifier = cursor.Bytes(16);
    const auto verifierHash = cursor.Bytes(16);
    if (!cursor.Ok()) Refuse("the FILEPASS record is cut off inside the RC4 encryption header");
    const auto h0 = crypto::Md5(Utf16Le(kDefaultPassword));
    std::vector<std::uint8_t> repeated;
    for (int i = 0; i < 16; ++i) {
        Append(repeated, std::span(h0).first(5));
        Append(repeated, salt);
    }
    const auto h1 = crypto::Md5(repeated);
    Scheme scheme;
    scheme.passwordHash.assign(h1.begin(), h1.begin() + 5);
    if (!Verifies(scheme, verifier, verifierHash, [](const auto& v) { return crypto::Md5(v); })) RefusePassword();
    return scheme;
}

// RC4 CryptoAPI header after its version: flags, the header's size, the
// header (algorithms, key size, provider name), then the verifier.
Scheme ReadCryptoApi(biff::RecordCursor& cursor) {
    cursor.U32(); // flags, repeated in the header
    const std::uint32_t headerSize = cursor.U32();
    constexpr std::uint32_t kFixedHeader = 32;
    if (!cursor.Ok() || headerSize < kFixedHeader || headerSize > cursor.Remaining())
        Refuse("the FILEPASS record is cut off inside the RC4 CryptoAPI encryption header");
    const std::uint32_t flags = cursor.U32();
    cursor.U32(); // size of extra data, reserved
    const std::uint32_t algorithm = cursor.U32();
    const std::uint32_t hashAlgorithm = cursor.U32();
    std::uint32_t keyBits = cursor.U32();
    cursor.Skip(headerSize - 20); // provider type, reserved fields, provider name
    const std::uint32_t saltSize = cursor.U32();
    const auto salt = cursor.Bytes(16);
    const auto verifier = cursor.Bytes(16);
    const std::uint32_t verifierHashSize = cursor.U32();
    const auto verifierHash = cursor.Bytes(20);
    if (!cursor.Ok()) Refuse("the FILEPASS record is cut off inside the RC4 CryptoAPI encryption verifier");

    constexpr std::uint32_t kFlagCryptoApi = 0x04, kFlagAes = 0x20;
    constexpr std::uint32_t kRc4 = 0x6801, kSha1 = 0x8004;
    if (!(flags & kFlagCryptoApi) || (flags & kFlagAes) || (algorithm != kRc4 && algorithm != 0) ||
        (hashAlgorithm != kSha1 && hashAlgorithm != 0))
        Refuse("the workbook is encrypted with an unknown CryptoAPI method (algorithm " + Hex(algorithm) + ", hash " +
                   Hex(hashAlgorithm) + ")",
               ErrorKind::Unsupported);
    if (keyBits == 0) keyBits = 40;
    if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0)
        Refuse("the encryption key size of " + std::to_string(keyBits) + " bits is out of range");
    if (saltSize != 16 || verifierHashSize != 20)
        Refuse("the encryption verifier has a salt of " + std::to_string(saltSize) + " bytes and a hash of " +
               std::to_string(verifierHashSize) + " bytes");

    std::vector<std::uint8_t> input = salt;
    Append(input, Utf16Le(kDefaultPassword));
    const auto h0 = crypto::Sha1(input);
    Scheme scheme;
    scheme.cryptoApi = true;
    scheme.passwordHash.assign(h0.begin(), h0.end());
    scheme.keyBytes = keyBits / 8;
    if (!Verifies(scheme, verifier, verifierHash, [](const auto& v) { return crypto::Sha1(v); })) RefusePassword();
    return scheme;
}

Scheme ReadFilePass(std::span<const std::uint8_t> data) {
    biff::RecordCursor cursor(data);
    const std::uint16_t type = cursor.U16();
    if (!cursor.Ok()) Refuse("the FILEPASS record is empty");
    if (type == 0) Refuse("the workbook is protected with a password to open (XOR obfuscation)", ErrorKind::Password);
    if (type != 1)
        Refuse("the workbook is encrypted with an unknown method (" + Hex(type) + ")", ErrorKind::Unsupported);
    const std::uint16_t major = cursor.U16();
    const std::uint16_t minor = cursor.U16();
    if (!cursor.Ok()) Refuse("the FILEPASS record is cut off before the encryption version");
    if (major == 1 && minor == 1) return ReadRc4(cursor);
    if (major >= 2 && major <= 4 && minor == 2) return ReadCryptoApi(cursor);
    Refuse("the workbook is encrypted with an unknown method (version " + std::to_string(major) + "." +
               std::to_string(minor) + ")",
           ErrorKind::Unsupported);
}

bool NeverEncrypted(std::uint16_t opcode) {
    constexpr std::uint16_t kInterfaceHdr = 0x00E1, kRrdHead = 0x0138, kUsrExcl = 0x0194, kFileLock = 0x0195,
                            kRrdInfo = 0x0196;
    switch (opcode) {
    case op::kBof:
    case op::kFilePass:
    case kInterfaceHdr:
    case kRrdHead:
    case kUsrExcl:
    case kFileLock:
    case kRrdInfo: return true;
    default: return false;
    }
}

// XORs bytes of the stream with the keystream at their own positions. The
// positions given only ever grow, so each block is keyed once.
class StreamCipher {
public:
    explicit StreamCipher(const Scheme& scheme) : scheme_(scheme) {}

    void Apply(std::span<std::uint8_t> stream, std::size_t from, std::size_t to) {
        while (from < to) {
            const std::size_t block = from / kBlockSize;
            if (!rc4_ || block != block_) {
                rc4_.emplace(scheme_.BlockKey(static_cast<std::uint32_t>(block)));
                block_ = block;
                position_ = block * kBlockSize;
            }
            rc4_->Skip(from - position_);
            const std::size_t end = std::min(to, (block + 1) * kBlockSize);
            rc4_->Apply(stream.subspan(from, end - from));
            position_ = from = end;
        }
    }

private:
    const Scheme& scheme_;
    std::optional<crypto::Rc4> rc4_;
    std::size_t block_ = 0;
    std::size_t position_ = 0; // of the keystream's next byte
};

// Decryption and encryption are the same XOR.
void ApplyKeystream(std::vector<std::uint8_t>& stream) {
    biff::RecordReader reader(stream);
    if (!reader.Next() || reader.Current().opcode != op::kBof) return; // no workbook: the reader says why
    std::optional<Scheme> scheme;
    while (!scheme && reader.Next()) {
        const auto& rec = reader.Current();
        if (rec.opcode == op::kEof) return; // the globals end unencrypted
        if (rec.opcode == op::kFilePass) scheme = ReadFilePass(rec.data);
    }
    if (!scheme) return;
    StreamCipher cipher(*scheme);
    // Every record after FILEPASS, to the end of the stream; a record cut off
    // ends the walk, and the reader refuses it.
    std::size_t at = reader.Position();
    while (stream.size() - at >= 4) {
        const std::uint16_t opcode = GetU16(std::span(stream).subspan(at));
        const std::size_t length = GetU16(std::span(stream).subspan(at + 2));
        const std::size_t start = at + 4, end = start + length;
        if (length > biff::kMaxRecordData || end > stream.size()) break;
        if (!NeverEncrypted(opcode)) {
            // BOUNDSHEET's sheet offset is read before anything is decrypted.
            const std::size_t first = opcode == op::kBoundSheet ? std::min(start + 4, end) : start;
            cipher.Apply(stream, first, end);
        }
        at = end;
    }
}

} // namespace

void DecryptWorkbookStream(std::vector<std::uint8_t>& stream) { ApplyKeystream(stream); }

void EncryptWorkbookStream(std::vector<std::uint8_t>& stream) { ApplyKeystream(stream); }

} // namespace vi2zezir::workbook
