// Crypto: RSA key making, PKCS#1 v1.5 enciphering, signing and recovering.
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/encoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <climits>
#include <memory>

#include "crypto/crypto.h"
#include "crypto/crypto_log.h"

namespace vynd {
namespace {

struct BioFree {
    void operator()(BIO* b) const { BIO_free_all(b); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
struct EncoderCtxFree {
    void operator()(OSSL_ENCODER_CTX* c) const { OSSL_ENCODER_CTX_free(c); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
using EncoderCtxPtr = std::unique_ptr<OSSL_ENCODER_CTX, EncoderCtxFree>;

// Generating a key that then fails its own check is a library fault; a few
// fresh tries are plenty, an endless loop would hang the caller.
constexpr int kKeyGenerationTries = 8;

// Refuses every pass phrase: a protected key is unreadable here rather than
// a prompt on the terminal of a daemon.
int noPassphrase(char*, int, int, void*) {
    return -1;
}

BioPtr memorySource(ByteView bytes) {
    // BIO_new_mem_buf takes an int, and -1 would mean "up to a NUL".
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX))
        return nullptr;
    return BioPtr(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

PkeyPtr readPrivateKey(BIO* source) {
    PkeyPtr key(PEM_read_bio_PrivateKey(source, nullptr, noPassphrase, nullptr));
    if (key && !EVP_PKEY_is_a(key.get(), "RSA"))
        key.reset();
    return key;
}

PkeyPtr readPublicKey(BIO* source) {
    PkeyPtr key(PEM_read_bio_PUBKEY(source, nullptr, noPassphrase, nullptr));
    if (key && !EVP_PKEY_is_a(key.get(), "RSA"))
        key.reset();
    return key;
}

// The result of a full key check (public and private parts and their pairing).
int checkKey(EVP_PKEY* key) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    return ctx ? EVP_PKEY_check(ctx.get()) : 0;
}

std::optional<Bytes> memoryContents(BIO* sink) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(sink, &data);
    if (length <= 0 || data == nullptr)
        return std::nullopt;
    return Bytes(data, data + length);
}

// PEM of a key, in an encoder output structure: "type-specific" is PKCS#1,
// "SubjectPublicKeyInfo" the X.509 public key block.
std::optional<Bytes> writePem(EVP_PKEY* key, int selection, const char* structure) {
    BioPtr sink(BIO_new(BIO_s_mem()));
    EncoderCtxPtr encoder(OSSL_ENCODER_CTX_new_for_pkey(key, selection, "PEM", structure, nullptr));
    if (!sink || !encoder || OSSL_ENCODER_CTX_get_num_encoders(encoder.get()) == 0 ||
        OSSL_ENCODER_to_bio(encoder.get(), sink.get()) != 1) {
        return std::nullopt;
    }
    return memoryContents(sink.get());
}

std::string errorLine(const char* prefix) {
    const unsigned long error = ERR_get_error();
    char text[256];
    ERR_error_string_n(error, text, sizeof text);
    const char* reason = ERR_reason_error_string(error);
    ERR_clear_error();
    return std::string(prefix) + text + " (" + (reason ? reason : "(null)") + ")";
}

enum class Operation { Encrypt, Decrypt, Sign, Verify };

struct OperationTraits {
    bool usesPrivateKey;
    const char* missingKey;
    const char* zeroResult;
    const char* errorPrefix;
};

OperationTraits traitsOf(Operation op) {
    switch (op) {
        case Operation::Encrypt:
            return {false, "Cannot encrypt without the public key, which is currently nil",
                    "RSA_public_encrypt failed!", "Encrypt error: "};
        case Operation::Decrypt:
            return {true, "Cannot decrypt without the private key, which is currently nil",
                    "RSA_private_decrypt() failed!", "Decrypt error: "};
        case Operation::Sign:
            return {true, "Cannot sign (encrypt) without the private key, which is currently nil",
                    "RSA_private_encrypt failed!", "Encrypt error: "};
        case Operation::Verify:
            break;
    }
    return {false, "Cannot verify (decrypt) without the public key, which is currently nil",
            "RSA_public_decrypt() failed!", "Decrypt error: "};
}

int initialise(Operation op, EVP_PKEY_CTX* ctx) {
    switch (op) {
        case Operation::Encrypt:
            return EVP_PKEY_encrypt_init(ctx);
        case Operation::Decrypt:
            return EVP_PKEY_decrypt_init(ctx);
        case Operation::Sign:
            return EVP_PKEY_sign_init(ctx);
        case Operation::Verify:
            break;
    }
    return EVP_PKEY_verify_recover_init(ctx);
}

int run(Operation op, EVP_PKEY_CTX* ctx, unsigned char* out, std::size_t* outLength,
        const Bytes& in) {
    switch (op) {
        case Operation::Encrypt:
            return EVP_PKEY_encrypt(ctx, out, outLength, in.data(), in.size());
        case Operation::Decrypt:
            return EVP_PKEY_decrypt(ctx, out, outLength, in.data(), in.size());
        case Operation::Sign:
            return EVP_PKEY_sign(ctx, out, outLength, in.data(), in.size());
        case Operation::Verify:
            break;
    }
    return EVP_PKEY_verify_recover(ctx, out, outLength, in.data(), in.size());
}

// One PKCS#1 v1.5 operation of a PEM key over the whole input.
std::optional<Bytes> rsaOperation(Operation op, const std::optional<Bytes>& input,
                                  const std::optional<Bytes>& pem) {
    if (!input || input->empty())
        return std::nullopt;
    const OperationTraits traits = traitsOf(op);
    if (!pem) {
        crypto_log(traits.missingKey);
        return std::nullopt;
    }
    Crypto::setupOpenSSL();
    ERR_clear_error();
    BioPtr source = memorySource(*pem);
    if (!source) {
        crypto_log("BIO_new_mem_buf() failed!");
        return std::nullopt;
    }
    PkeyPtr key =
        traits.usesPrivateKey ? readPrivateKey(source.get()) : readPublicKey(source.get());
    if (!key) {
        ERR_clear_error();
        crypto_log(traits.usesPrivateKey ? "PEM_read_bio_RSAPrivateKey() failed!"
                                         : "PEM_read_bio_RSA_PUBKEY() failed!");
        return std::nullopt;
    }
    if (traits.usesPrivateKey) {
        const int checked = checkKey(key.get());
        if (checked != 1) {
            ERR_clear_error();
            crypto_log("RSA_check_key() failed with result " + std::to_string(checked) + "!");
            return std::nullopt;
        }
    }
    Bytes out(static_cast<std::size_t>(EVP_PKEY_get_size(key.get())));
    std::size_t outLength = out.size();
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    int result = ctx ? initialise(op, ctx.get()) : 0;
    if (result == 1)
        result = EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING);
#ifdef OSSL_ASYM_CIPHER_PARAM_IMPLICIT_REJECTION
    // A wrong key or damaged data must be reported, not answered with random bytes.
    if (result == 1 && op == Operation::Decrypt) {
        unsigned int noImplicitRejection = 0;
        OSSL_PARAM params[] = {OSSL_PARAM_construct_uint(OSSL_ASYM_CIPHER_PARAM_IMPLICIT_REJECTION,
                                                         &noImplicitRejection),
                               OSSL_PARAM_construct_end()};
        result = EVP_PKEY_CTX_set_params(ctx.get(), params);
    }
#endif
    if (result == 1)
        result = run(op, ctx.get(), out.data(), &outLength, *input);
    if (result <= 0) {
        crypto_log(errorLine(traits.errorPrefix));
        return std::nullopt;
    }
    if (outLength == 0) {
        crypto_log(traits.zeroResult);
        return std::nullopt;
    }
    out.resize(outLength);
    return out;
}

}  // namespace

std::optional<Bytes> Crypto::rsaEncrypt() {
    std::optional<Bytes> out = rsaOperation(Operation::Encrypt, clearText_, publicKey_);
    if (!out)
        return std::nullopt;
    cipherText_ = std::move(out);
    return cipherText_;
}

std::optional<Bytes> Crypto::rsaDecrypt() {
    std::optional<Bytes> out = rsaOperation(Operation::Decrypt, cipherText_, privateKey_);
    if (!out)
        return std::nullopt;
    clearText_ = std::move(out);
    return clearText_;
}

std::optional<Bytes> Crypto::sign() {
    std::optional<Bytes> out = rsaOperation(Operation::Sign, clearText_, privateKey_);
    if (!out)
        return std::nullopt;
    cipherText_ = std::move(out);
    return cipherText_;
}

std::optional<Bytes> Crypto::verify() {
    std::optional<Bytes> out = rsaOperation(Operation::Verify, cipherText_, publicKey_);
    if (!out)
        return std::nullopt;
    clearText_ = std::move(out);
    return clearText_;
}

std::optional<Bytes> Crypto::generateRSAPrivateKeyWithLength(int bits) {
    setupOpenSSL();
    ERR_clear_error();
    PkeyPtr key;
    for (int attempt = 0; attempt < kKeyGenerationTries && !key; ++attempt) {
        // The generator's public exponent defaults to 65537.
        PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
        EVP_PKEY* made = nullptr;
        if (bits <= 0 || !ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
            EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) != 1 ||
            EVP_PKEY_generate(ctx.get(), &made) != 1) {
            // A size the library refuses fails the same way every time.
            ERR_clear_error();
            crypto_log("cannot generate an RSA key of " + std::to_string(bits) + " bits");
            return std::nullopt;
        }
        key.reset(made);
        if (checkKey(key.get()) != 1)
            key.reset();
    }
    ERR_clear_error();
    if (!key) {
        crypto_log("cannot generate an RSA key of " + std::to_string(bits) + " bits");
        return std::nullopt;
    }
    std::optional<Bytes> pem = writePem(key.get(), OSSL_KEYMGMT_SELECT_KEYPAIR, "type-specific");
    if (!pem) {
        ERR_clear_error();
        crypto_log("cannot write private key to memory");
    }
    return pem;
}

std::optional<Bytes> Crypto::generateRSAPublicKeyFromPrivateKey(ByteView pem) {
    setupOpenSSL();
    ERR_clear_error();
    BioPtr source = memorySource(pem);
    if (!source) {
        crypto_log("BIO_new_mem_buf() failed!");
        return std::nullopt;
    }
    PkeyPtr key = readPrivateKey(source.get());
    if (!key) {
        ERR_clear_error();
        crypto_log("PEM_read_bio_RSAPrivateKey() failed!");
        return std::nullopt;
    }
    const int checked = checkKey(key.get());
    if (checked != 1) {
        ERR_clear_error();
        crypto_log("RSA_check_key() failed with result " + std::to_string(checked) + "!");
        return std::nullopt;
    }
    std::optional<Bytes> out =
        writePem(key.get(), OSSL_KEYMGMT_SELECT_PUBLIC_KEY, "SubjectPublicKeyInfo");
    if (!out) {
        ERR_clear_error();
        crypto_log("cannot write public key to memory");
    }
    return out;
}

}  // namespace vynd
