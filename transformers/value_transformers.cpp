// The three value transformers and the stored credential encoding.
#include "transformers/value_transformers.h"

#include <cassert>

#include "crypto/crypto_log.h"
#include "crypto/text_forms.h"
#include "crypto/utf8.h"

namespace vynd {
namespace {

// Fixed forever: every stored credential in the field was made with these.
constexpr char kPassPhrase[] = "harborlanterns";
constexpr char kSalt[] = "meadowpepper";
constexpr int kKeyLength = 32;

}  // namespace

Crypto& PasswordValueTransformer::crypto() {
    static Crypto shared = [] {
        std::optional<Bytes> key = Crypto::getKeyDataWithLength(kKeyLength, kPassPhrase, kSalt);
        if (!key) {
            // Without key material every encode and decode fails cleanly.
            crypto_log("cannot derive the credential key");
            Crypto crypto;
            crypto.setIsSymmetric(true);
            return crypto;
        }
        return Crypto::initWithSymmetricKey(std::move(*key));
    }();
    return shared;
}

std::optional<std::string> PasswordValueTransformer::encode(const std::string& text) {
    try {
        Crypto& cipher = crypto();
        cipher.setClearTextWithString(text);
        std::optional<Bytes> cipherText = cipher.encrypt();
        if (!cipherText)
            return std::nullopt;
        return encodeBase64WithNewlines(*cipherText, false);
    } catch (const AssertionFailure& failure) {
        crypto_log(failure.what());
        return std::nullopt;
    }
}

std::optional<std::string> PasswordValueTransformer::decode(const std::string& stored) {
    try {
        Crypto& cipher = crypto();
        cipher.setCipherText(decodeBase64WithNewLines(bytesOf(stored), false));
        // Only this call's result counts: the shared instance still holds the
        // clear text of earlier calls.
        std::optional<Bytes> clear = cipher.decrypt();
        if (!clear || clear->empty())
            return std::nullopt;
        return utf8String(*clear);
    } catch (const AssertionFailure& failure) {
        crypto_log(failure.what());
        return std::nullopt;
    }
}

std::optional<std::string> PasswordValueTransformer::transformedValue(
    const std::optional<std::string>& stored) const {
    if (!encryptPass_ || !encryptPass_())
        return stored;
    if (!stored)
        return std::nullopt;
    return decode(*stored);
}

std::optional<std::string> PasswordValueTransformer::reverseTransformedValue(
    const std::optional<std::string>& shown) const {
    if (!encryptPass_ || !encryptPass_())
        return shown;
    if (!shown)
        return std::nullopt;
    return encode(*shown);
}

PermissionsValueTransformer::PermissionsValueTransformer(int index) : index_(index) {
    assert(index >= 0 && index <= 2);
}

int PermissionsValueTransformer::transformedValue(const std::optional<std::string>& permissions) {
    for (std::size_t i = 0; i < perms_.size(); ++i) {
        const char c = permissions && i < permissions->size() ? (*permissions)[i] : '0';
        perms_[i] = c >= '0' && c <= '9' ? c - '0' : 0;
    }
    return index_ >= 0 && index_ <= 2 ? perms_[static_cast<std::size_t>(index_)] : 0;
}

std::string PermissionsValueTransformer::reverseTransformedValue(int value) {
    if (index_ >= 0 && index_ <= 2 && value >= 0 && value <= 2) {
        perms_[static_cast<std::size_t>(index_)] = value;
    }
    return std::to_string(perms_[0]) + std::to_string(perms_[1]) + std::to_string(perms_[2]);
}

std::optional<int> ArrayStringIndexTransformer::transformedValue(
    const std::optional<std::string>& name) const {
    if (!array_ || !name)
        return std::nullopt;
    for (std::size_t i = 0; i < array_->size(); ++i) {
        if ((*array_)[i] == *name)
            return static_cast<int>(i);
    }
    return std::nullopt;
}

std::optional<std::string> ArrayStringIndexTransformer::reverseTransformedValue(
    int position) const {
    if (!array_ || position < 0 || static_cast<std::size_t>(position) >= array_->size()) {
        return std::nullopt;
    }
    return (*array_)[static_cast<std::size_t>(position)];
}

}  // namespace vynd
