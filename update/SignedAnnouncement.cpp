#include "update/SignedAnnouncement.h"

#include <windows.h>
#include <bcrypt.h>

#include "runtime/Resources.h"

const char kSignatureStart[] = "<!--velmora-signature:";
const char kSignatureEnd[] = "-->";

namespace {

constexpr std::size_t kCoordinateBytes = 32;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

Bytes FromHex(const Text& hex) {
    if (hex.size() % 2) return Bytes();
    Bytes out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return Bytes();
        out.push_back(std::uint8_t(high * 16 + low));
    }
    return out;
}

bool IsDate(const Text& s) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

// CNG handles, closed on every way out.
class Algorithm {
public:
    explicit Algorithm(const wchar_t* id) {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&h_, id, nullptr, 0))) h_ = nullptr;
    }
    ~Algorithm() {
        if (h_) BCryptCloseAlgorithmProvider(h_, 0);
    }
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;
    BCRYPT_ALG_HANDLE get() const { return h_; }

private:
    BCRYPT_ALG_HANDLE h_ = nullptr;
};

class CngKey {
public:
    ~CngKey() {
        if (h_) BCryptDestroyKey(h_);
    }
    BCRYPT_KEY_HANDLE h_ = nullptr;
};

class CngHash {
public:
    ~CngHash() {
        if (h_) BCryptDestroyHash(h_);
    }
    BCRYPT_HASH_HANDLE h_ = nullptr;
};

// SHA-256 through the object-creating calls that Windows 7 has (BCryptHash
// came with Windows 10).
bool Sha256(const Text& message, Bytes& digest) {
    Algorithm sha(BCRYPT_SHA256_ALGORITHM);
    if (!sha.get()) return false;
    CngHash hash;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(sha.get(), &hash.h_, nullptr, 0, nullptr, 0, 0))) return false;
    Bytes data(message.begin(), message.end());
    if (!BCRYPT_SUCCESS(BCryptHashData(hash.h_, data.data(), ULONG(data.size()), 0))) return false;
    digest.assign(32, 0);
    return BCRYPT_SUCCESS(BCryptFinishHash(hash.h_, digest.data(), ULONG(digest.size()), 0));
}

}  // namespace

Bytes ParsePublicKey(const Text& hex) {
    Bytes key = FromHex(hex);
    if (key.size() != 1 + 2 * kCoordinateBytes || key[0] != 0x04) return Bytes();
    return key;
}

Bytes BuiltInAnnouncementKey() {
    const ByteSpan resource = ResourceBytes("UPDATEKEY");
    if (!resource.size) return Bytes();
    Text hex(reinterpret_cast<const char*>(resource.data), resource.size);
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r' || hex.back() == ' ')) hex.pop_back();
    const Bytes key = ParsePublicKey(hex);
    return key.empty() ? Bytes(1, 0) : key;
}

Text TodayUtc() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    char date[16];
    wsprintfA(date, "%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
    return date;
}

bool IsSignedAnnouncement(const Text& version, const Text& address, const Text& signature, const Bytes& key,
                          const Text& today) {
    // "YYYY-MM-DD:" and 128 hex digits; dates of this form compare as text.
    if (signature.size() != 11 + 128 || signature[10] != ':') return false;
    const Text expires = signature.substr(0, 10);
    if (!IsDate(expires) || !IsDate(today) || expires < today) return false;
    const Bytes rs = FromHex(signature.substr(11));
    if (rs.size() != 2 * kCoordinateBytes || key.size() != 1 + 2 * kCoordinateBytes) return false;

    Bytes digest;
    const Text message = "Velmora announcement\nversion=" + version + "\naddress=" + address + "\nexpires=" + expires + "\n";
    if (!Sha256(message, digest)) return false;

    Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!ecdsa.get()) return false;
    Bytes blob(sizeof(BCRYPT_ECCKEY_BLOB));
    auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
    header->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header->cbKey = ULONG(kCoordinateBytes);
    blob.insert(blob.end(), key.begin() + 1, key.end());  // X then Y
    CngKey publicKey;
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &publicKey.h_, blob.data(),
                                            ULONG(blob.size()), 0)))
        return false;
    Bytes rsCopy = rs;
    return BCryptVerifySignature(publicKey.h_, nullptr, digest.data(), ULONG(digest.size()), rsCopy.data(),
                                 ULONG(rsCopy.size()), 0) == 0;  // STATUS_SUCCESS
}
