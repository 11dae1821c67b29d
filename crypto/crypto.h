// Crypto: one clear text, one cipher text and the keys that turn one into the other.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "crypto/assertion_failure.h"
#include "crypto/bytes.h"

namespace vynd {

// A symmetric key is not the cipher key itself but the input of the MD5-based
// key and IV derivation of OpenSSL's enc command, so cipher texts interchange
// with `openssl enc -md md5`. RSA keys are PEM text: PKCS#1 private keys and
// SubjectPublicKeyInfo public keys.
//
// Failures from the library are one line in the system log and an empty
// result; the stored texts then keep their previous contents. Allocation
// failures and a missing random salt throw AssertionFailure. An instance is
// used by one thread at a time.
class Crypto {
  public:
    Crypto();

    [[nodiscard]] static Crypto initWithSymmetricKey(Bytes symmetricKey);
    [[nodiscard]] static Crypto initWithPublicKey(std::optional<Bytes> publicKey,
                                                  std::optional<Bytes> privateKey);
    [[nodiscard]] static Crypto initWithPublicKey(Bytes publicKey);
    [[nodiscard]] static Crypto initWithPrivateKey(Bytes privateKey);

    // Makes every cipher and digest name the library knows resolvable (the
    // legacy ones such as Blowfish included). Idempotent and process-wide.
    static void setupOpenSSL();
    // Deliberately does nothing: unloading the process-wide tables would break
    // name lookups in every other live instance.
    static void cleanupOpenSSL() {}

    [[nodiscard]] bool isSymmetric() const { return isSymmetric_; }
    void setIsSymmetric(bool isSymmetric) { isSymmetric_ = isSymmetric; }

    [[nodiscard]] const std::optional<Bytes>& symmetricKey() const { return symmetricKey_; }
    void setSymmetricKey(std::optional<Bytes> key) { symmetricKey_ = std::move(key); }
    [[nodiscard]] const std::optional<Bytes>& publicKey() const { return publicKey_; }
    void setPublicKey(std::optional<Bytes> pem) { publicKey_ = std::move(pem); }
    [[nodiscard]] const std::optional<Bytes>& privateKey() const { return privateKey_; }
    void setPrivateKey(std::optional<Bytes> pem) { privateKey_ = std::move(pem); }

    [[nodiscard]] const std::optional<Bytes>& clearTextAsData() const { return clearText_; }
    void setClearTextWithData(std::optional<Bytes> data) { clearText_ = std::move(data); }
    void setClearTextWithString(std::string_view text) { clearText_ = bytesOf(text); }
    // No value when absent or not valid UTF-8.
    [[nodiscard]] std::optional<std::string> clearTextAsString() const;

    [[nodiscard]] const std::optional<Bytes>& cipherTextAsData() const { return cipherText_; }
    void setCipherText(std::optional<Bytes> data) { cipherText_ = std::move(data); }
    // No value when absent or not valid UTF-8.
    [[nodiscard]] std::optional<std::string> cipherTextAsString() const;
    // Base64 with line breaks; no value when there is no cipher text.
    [[nodiscard]] std::optional<std::string> cipherTextAsBase64String() const;
    void setCipherTextFromBase64String(std::string_view text);

    // "clearText: ..., cipherText: ..., symmetricKey: ..., publicKey: ...,
    // privateKey: ..." with the hex dump of each buffer, "(null)" when absent.
    [[nodiscard]] std::string description() const;

    // With a symmetric key, "aes128" without salt; otherwise RSA with the
    // public key (encrypt) or the private key (decrypt).
    std::optional<Bytes> encrypt();
    std::optional<Bytes> decrypt();
    // cipherName is an OpenSSL cipher name, no value meaning Blowfish-CBC.
    // Ignored on the RSA path, as is withSalt.
    std::optional<Bytes> encrypt(const std::optional<std::string>& cipherName,
                                 bool withSalt = false);
    // Reads both the bare and the "Salted__" layout.
    std::optional<Bytes> decrypt(const std::optional<std::string>& cipherName);

    // Digest of the clear text by OpenSSL digest name, no value meaning MD5.
    // Stores nothing.
    [[nodiscard]] std::optional<Bytes> digest(const std::optional<std::string>& digestName) const;

    // RSA with PKCS#1 v1.5 padding: sign is the raw private-key operation over
    // the clear text (no digest), verify recovers that clear text.
    std::optional<Bytes> sign();
    std::optional<Bytes> verify();

    // n random bytes.
    [[nodiscard]] static std::optional<Bytes> getKeyDataWithLength(int n);
    // n bytes of PBKDF2-HMAC-SHA1 over the UTF-8 bytes of password and salt.
    [[nodiscard]] static std::optional<Bytes> getKeyDataWithLength(int n, std::string_view password,
                                                                   std::string_view salt,
                                                                   int iterations);
    // The same with 1000 iterations.
    [[nodiscard]] static std::optional<Bytes> getKeyDataWithLength(int n, std::string_view password,
                                                                   std::string_view salt);
    [[nodiscard]] static std::optional<Bytes> getSHA1ForData(ByteView data);
    [[nodiscard]] static std::optional<Bytes> getMD5ForData(ByteView data);

    // PEM of a new PKCS#1 RSA private key (public exponent 65537), unprotected.
    [[nodiscard]] static std::optional<Bytes> generateRSAPrivateKeyWithLength(int bits);
    // PEM of the SubjectPublicKeyInfo public key of a private key.
    [[nodiscard]] static std::optional<Bytes> generateRSAPublicKeyFromPrivateKey(ByteView pem);

  private:
    std::optional<Bytes> symmetricEncrypt(const std::optional<std::string>& cipherName,
                                          bool withSalt);
    std::optional<Bytes> symmetricDecrypt(const std::optional<std::string>& cipherName);
    std::optional<Bytes> rsaEncrypt();
    std::optional<Bytes> rsaDecrypt();

    std::optional<Bytes> symmetricKey_;
    std::optional<Bytes> cipherText_;
    std::optional<Bytes> clearText_;
    std::optional<Bytes> publicKey_;
    std::optional<Bytes> privateKey_;
    bool isSymmetric_ = false;
};

}  // namespace vynd
