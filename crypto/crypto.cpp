// Crypto: accessors, the symmetric cipher, key derivation and digests.
#include "crypto/crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "crypto/crypto_log.h"
#include "crypto/text_forms.h"
#include "crypto/utf8.h"

namespace vynd {
namespace {

struct CipherFree {
    void operator()(EVP_CIPHER* c) const { EVP_CIPHER_free(c); }
};
struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct MdFree {
    void operator()(EVP_MD* m) const { EVP_MD_free(m); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* m) const { EVP_MD_CTX_free(m); }
};
struct KdfFree {
    void operator()(EVP_KDF* k) const { EVP_KDF_free(k); }
};
struct KdfCtxFree {
    void operator()(EVP_KDF_CTX* k) const { EVP_KDF_CTX_free(k); }
};
using CipherPtr = std::unique_ptr<EVP_CIPHER, CipherFree>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;
using MdPtr = std::unique_ptr<EVP_MD, MdFree>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using KdfPtr = std::unique_ptr<EVP_KDF, KdfFree>;
using KdfCtxPtr = std::unique_ptr<EVP_KDF_CTX, KdfCtxFree>;

constexpr char kSaltMagic[] = "Salted__";
constexpr std::size_t kSaltLength = 8;
constexpr std::size_t kHeaderLength = 16;  // the magic and the salt
// EVP update calls count in int; larger buffers go through in pieces of this size.
constexpr std::size_t kUpdatePiece = std::size_t{1} << 30;

// Names with an embedded NUL would silently resolve as their prefix.
template <typename T, typename Fetch>
T fetchByName(const std::string& name, Fetch fetch) {
    if (name.find('\0') != std::string::npos)
        return T();
    T found(fetch(nullptr, name.c_str(), nullptr));
    // A failed fetch leaves errors that would be mistaken for later ones.
    ERR_clear_error();
    return found;
}

CipherPtr fetchCipher(const std::string& name) {
    return fetchByName<CipherPtr>(name, EVP_CIPHER_fetch);
}

MdPtr fetchDigest(const std::string& name) {
    return fetchByName<MdPtr>(name, EVP_MD_fetch);
}

// Resizes, turning an allocation failure into the designed assertion.
void allocate(Bytes& buffer, std::size_t size, const char* description) {
    try {
        buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
        throw AssertionFailure(description);
    }
}

// Key and IV as OpenSSL's enc command derives them from a pass phrase: MD5,
// one iteration, the optional 8-byte salt.
struct DerivedKey {
    unsigned char key[EVP_MAX_KEY_LENGTH] = {};
    unsigned char iv[EVP_MAX_IV_LENGTH] = {};
    ~DerivedKey() {
        OPENSSL_cleanse(key, sizeof key);
        OPENSSL_cleanse(iv, sizeof iv);
    }
};

bool deriveKey(const EVP_CIPHER* cipher, const unsigned char* salt, const Bytes& material,
               DerivedKey& out) {
    const int keyLength = EVP_CIPHER_get_key_length(cipher);
    const int ivLength = EVP_CIPHER_get_iv_length(cipher);
    // EVP_BytesToKey aborts the process on lengths beyond these.
    if (keyLength > EVP_MAX_KEY_LENGTH || ivLength > EVP_MAX_IV_LENGTH)
        return false;
    if (material.size() > static_cast<std::size_t>(INT_MAX))
        return false;
    MdPtr md5 = fetchDigest("MD5");
    if (!md5)
        return false;
    // An empty key is still key material; a null pointer would make
    // EVP_BytesToKey derive nothing at all.
    static const unsigned char kEmpty = 0;
    const unsigned char* data = material.empty() ? &kEmpty : material.data();
    return EVP_BytesToKey(cipher, md5.get(), salt, data, static_cast<int>(material.size()), 1,
                          out.key, out.iv) == keyLength;
}

// Room for the whole output of a cipher over `length` bytes. Two blocks more
// than one update and one final can write, so no mode can overrun it.
std::size_t outputRoom(std::size_t length, const EVP_CIPHER* cipher) {
    return length + 2 * static_cast<std::size_t>(std::max(EVP_CIPHER_get_block_size(cipher), 1));
}

// One EVP update over the whole input, fed in int-sized pieces.
bool updateAll(EVP_CIPHER_CTX* ctx, bool encrypting, const unsigned char* in, std::size_t length,
               unsigned char* out, std::size_t& written) {
    written = 0;
    std::size_t done = 0;
    do {
        const std::size_t piece = std::min(length - done, kUpdatePiece);
        int outLength = 0;
        const int ok = encrypting ? EVP_EncryptUpdate(ctx, out + written, &outLength, in + done,
                                                      static_cast<int>(piece))
                                  : EVP_DecryptUpdate(ctx, out + written, &outLength, in + done,
                                                      static_cast<int>(piece));
        if (ok != 1)
            return false;
        written += static_cast<std::size_t>(outLength);
        done += piece;
    } while (done < length);
    return true;
}

std::string describe(const std::optional<Bytes>& buffer) {
    return buffer ? hexdump(*buffer) : std::string("(null)");
}

}  // namespace

Crypto::Crypto() {
    setupOpenSSL();
}

Crypto Crypto::initWithSymmetricKey(Bytes symmetricKey) {
    Crypto crypto;
    crypto.setSymmetricKey(std::move(symmetricKey));
    crypto.setIsSymmetric(true);
    return crypto;
}

Crypto Crypto::initWithPublicKey(std::optional<Bytes> publicKey, std::optional<Bytes> privateKey) {
    Crypto crypto;
    if (publicKey)
        crypto.setPublicKey(std::move(publicKey));
    if (privateKey)
        crypto.setPrivateKey(std::move(privateKey));
    crypto.setIsSymmetric(false);
    return crypto;
}

Crypto Crypto::initWithPublicKey(Bytes publicKey) {
    return initWithPublicKey(std::optional<Bytes>(std::move(publicKey)), std::nullopt);
}

Crypto Crypto::initWithPrivateKey(Bytes privateKey) {
    return initWithPublicKey(std::nullopt, std::optional<Bytes>(std::move(privateKey)));
}

void Crypto::setupOpenSSL() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Blowfish and other old names live in the legacy provider. Loading a
        // provider by hand stops the default one from loading by itself, so
        // both are named.
        OSSL_PROVIDER_load(nullptr, "default");
        OSSL_PROVIDER_load(nullptr, "legacy");
        ERR_clear_error();
    });
}

std::optional<std::string> Crypto::clearTextAsString() const {
    if (!clearText_)
        return std::nullopt;
    return utf8String(*clearText_);
}

std::optional<std::string> Crypto::cipherTextAsString() const {
    if (!cipherText_)
        return std::nullopt;
    return utf8String(*cipherText_);
}

std::optional<std::string> Crypto::cipherTextAsBase64String() const {
    if (!cipherText_)
        return std::nullopt;
    return encodeBase64(*cipherText_);
}

void Crypto::setCipherTextFromBase64String(std::string_view text) {
    setCipherText(decodeBase64(bytesOf(text)));
}

std::string Crypto::description() const {
    return "clearText: " + describe(clearText_) + ", cipherText: " + describe(cipherText_) +
           ", symmetricKey: " + describe(symmetricKey_) + ", publicKey: " + describe(publicKey_) +
           ", privateKey: " + describe(privateKey_);
}

std::optional<Bytes> Crypto::encrypt() {
    if (isSymmetric_ && symmetricKey_)
        return encrypt(std::string("aes128"));
    if (publicKey_)
        return rsaEncrypt();
    crypto_log("No symmetric key or public key is set!");
    return std::nullopt;
}

std::optional<Bytes> Crypto::decrypt() {
    if (isSymmetric_ && symmetricKey_)
        return decrypt(std::string("aes128"));
    if (privateKey_)
        return rsaDecrypt();
    crypto_log("No symmetric key or private key is set!");
    return std::nullopt;
}

std::optional<Bytes> Crypto::encrypt(const std::optional<std::string>& cipherName, bool withSalt) {
    return isSymmetric_ ? symmetricEncrypt(cipherName, withSalt) : rsaEncrypt();
}

std::optional<Bytes> Crypto::decrypt(const std::optional<std::string>& cipherName) {
    return isSymmetric_ ? symmetricDecrypt(cipherName) : rsaDecrypt();
}

std::optional<Bytes> Crypto::symmetricEncrypt(const std::optional<std::string>& cipherName,
                                              bool withSalt) {
    if (!clearText_ || clearText_->empty())
        return std::nullopt;
    CipherPtr cipher = fetchCipher(cipherName.value_or("BF-CBC"));
    if (!cipher) {
        crypto_log("cannot get cipher with name " + cipherName.value_or("EVP_bf_cbc"));
        return std::nullopt;
    }
    // Without key material there is nothing to derive from; enciphering under
    // an undefined key would lose the clear text for good.
    if (!symmetricKey_) {
        crypto_log("Cannot encrypt without the symmetric key, which is currently nil");
        return std::nullopt;
    }
    std::optional<Bytes> salt;
    if (withSalt) {
        salt = getKeyDataWithLength(static_cast<int>(kSaltLength));
        if (!salt)
            throw AssertionFailure("Random salt could not be alloc'd or generated");
    }
    ERR_clear_error();
    DerivedKey derived;
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!deriveKey(cipher.get(), salt ? salt->data() : nullptr, *symmetricKey_, derived) || !ctx ||
        EVP_EncryptInit_ex2(ctx.get(), cipher.get(), derived.key, derived.iv, nullptr) != 1) {
        crypto_log("EVP_EncryptInit() failed!");
        return std::nullopt;
    }
    const Bytes& clear = *clearText_;
    const std::size_t header = salt ? kHeaderLength : 0;
    Bytes out;
    allocate(out, header + outputRoom(clear.size(), cipher.get()),
             "Cannot allocate memory for buffer!");
    if (salt) {
        std::memcpy(out.data(), kSaltMagic, kSaltLength);
        std::memcpy(out.data() + kSaltLength, salt->data(), kSaltLength);
    }
    std::size_t updated = 0;
    if (!updateAll(ctx.get(), true, clear.data(), clear.size(), out.data() + header, updated)) {
        crypto_log("EVP_EncryptUpdate() failed!");
        return std::nullopt;
    }
    int finalLength = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), out.data() + header + updated, &finalLength) != 1) {
        crypto_log("EVP_EncryptFinal() failed!");
        return std::nullopt;
    }
    out.resize(header + updated + static_cast<std::size_t>(finalLength));
    cipherText_ = std::move(out);
    return cipherText_;
}

std::optional<Bytes> Crypto::symmetricDecrypt(const std::optional<std::string>& cipherName) {
    if (!cipherText_ || cipherText_->empty())
        return std::nullopt;
    CipherPtr cipher = fetchCipher(cipherName.value_or("BF-CBC"));
    if (!cipher) {
        crypto_log("cannot get cipher with name " + cipherName.value_or("EVP_bf_cbc"));
        return std::nullopt;
    }
    if (!symmetricKey_) {
        crypto_log("Cannot decrypt without the symmetric key, which is currently nil");
        return std::nullopt;
    }
    const Bytes& in = *cipherText_;
    // Sixteen bytes can be a header but then there is no cipher output behind it.
    const bool salted =
        in.size() > kHeaderLength && std::memcmp(in.data(), kSaltMagic, kSaltLength) == 0;
    const unsigned char* salt = salted ? in.data() + kSaltLength : nullptr;
    const unsigned char* data = in.data() + (salted ? kHeaderLength : 0);
    const std::size_t length = in.size() - (salted ? kHeaderLength : 0);

    ERR_clear_error();
    DerivedKey derived;
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!deriveKey(cipher.get(), salt, *symmetricKey_, derived) || !ctx ||
        EVP_DecryptInit_ex2(ctx.get(), cipher.get(), derived.key, derived.iv, nullptr) != 1) {
        crypto_log("EVP_DecryptInit() failed!");
        return std::nullopt;
    }
    Bytes out;
    allocate(out, outputRoom(length, cipher.get()), "Cannot allocate memory for buffer!");
    std::size_t updated = 0;
    if (!updateAll(ctx.get(), false, data, length, out.data(), updated)) {
        crypto_log("EVP_DecryptUpdate() failed!");
        return std::nullopt;
    }
    int finalLength = 0;
    if (EVP_DecryptFinal_ex(ctx.get(), out.data() + updated, &finalLength) != 1) {
        OPENSSL_cleanse(out.data(), out.size());
        crypto_log("EVP_DecryptFinal() failed!");
        return std::nullopt;
    }
    out.resize(updated + static_cast<std::size_t>(finalLength));
    clearText_ = std::move(out);
    return clearText_;
}

std::optional<Bytes> Crypto::digest(const std::optional<std::string>& digestName) const {
    if (!clearText_ || clearText_->empty())
        return std::nullopt;
    MdPtr md = fetchDigest(digestName.value_or("MD5"));
    if (!md) {
        crypto_log("cannot get digest with name " + digestName.value_or("MD5"));
        return std::nullopt;
    }
    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex2(ctx.get(), md.get(), nullptr) != 1) {
        crypto_log("EVP_DigestInit() failed!");
        return std::nullopt;
    }
    if (EVP_DigestUpdate(ctx.get(), clearText_->data(), clearText_->size()) != 1) {
        crypto_log("EVP_DigestUpdate() failed!");
        return std::nullopt;
    }
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), value, &length) != 1) {
        crypto_log("EVP_DigesttFinal() failed!");
        return std::nullopt;
    }
    return Bytes(value, value + length);
}

std::optional<Bytes> Crypto::getKeyDataWithLength(int n) {
    if (n < 0)
        return std::nullopt;
    Bytes out;
    allocate(out, static_cast<std::size_t>(n), "Cannot calloc memory for buffer.");
    if (n > 0 && RAND_bytes(out.data(), n) != 1)
        return std::nullopt;
    return out;
}

std::optional<Bytes> Crypto::getKeyDataWithLength(int n, std::string_view password,
                                                  std::string_view salt, int iterations) {
    if (n < 0 || iterations < 1)
        return std::nullopt;
    Bytes out;
    allocate(out, static_cast<std::size_t>(n), "Cannot calloc memory for buffer.");
    if (n == 0)
        return out;
    setupOpenSSL();
    KdfPtr kdf(EVP_KDF_fetch(nullptr, "PBKDF2", nullptr));
    KdfCtxPtr ctx(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
    if (!ctx)
        return std::nullopt;
    // The salt and pass phrase are fixed by stored data; the provider's
    // lower-bound checks (salt length, iterations) must not reject them.
    int noLowerBoundChecks = 1;
    unsigned int iter = static_cast<unsigned int>(iterations);
    char digestName[] = "SHA1";
    static char kEmpty[] = "";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_octet_string(
            OSSL_KDF_PARAM_PASSWORD, password.empty() ? kEmpty : const_cast<char*>(password.data()),
            password.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT,
                                          salt.empty() ? kEmpty : const_cast<char*>(salt.data()),
                                          salt.size()),
        OSSL_PARAM_construct_uint(OSSL_KDF_PARAM_ITER, &iter),
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digestName, 0),
        OSSL_PARAM_construct_int(OSSL_KDF_PARAM_PKCS5, &noLowerBoundChecks),
        OSSL_PARAM_construct_end(),
    };
    if (EVP_KDF_derive(ctx.get(), out.data(), out.size(), params) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    return out;
}

std::optional<Bytes> Crypto::getKeyDataWithLength(int n, std::string_view password,
                                                  std::string_view salt) {
    return getKeyDataWithLength(n, password, salt, 1000);
}

namespace {

std::optional<Bytes> quickDigest(const char* name, ByteView data) {
    Crypto::setupOpenSSL();
    Bytes out;
    allocate(out, EVP_MAX_MD_SIZE, "Cannot calloc memory for buffer.");
    std::size_t length = 0;
    static const unsigned char kEmpty = 0;
    if (EVP_Q_digest(nullptr, name, nullptr, data.empty() ? &kEmpty : data.data(), data.size(),
                     out.data(), &length) != 1) {
        crypto_log(std::string("cannot get digest with name ") + name);
        return std::nullopt;
    }
    out.resize(length);
    return out;
}

}  // namespace

std::optional<Bytes> Crypto::getSHA1ForData(ByteView data) {
    return quickDigest("SHA1", data);
}

std::optional<Bytes> Crypto::getMD5ForData(ByteView data) {
    return quickDigest("MD5", data);
}

}  // namespace vynd
