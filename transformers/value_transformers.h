// Conversions between stored settings and the pane's controls, and the stored credential encoding.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/crypto.h"

namespace vynd {

// Enciphers and deciphers the share credentials while the setting
// vynd_encrypt_pass is on. A stored credential is the unbroken Base64 of its
// AES-128-CBC cipher text under key material derived once per process from a
// fixed pass phrase and salt, so the pane and the daemon read each other's.
class PasswordValueTransformer {
  public:
    // encryptPass reads vynd_encrypt_pass from the settings store at each call
    // (absent reads as false).
    explicit PasswordValueTransformer(std::function<bool()> encryptPass)
        : encryptPass_(std::move(encryptPass)) {}

    static bool allowsReverseTransformation() { return true; }

    // The process-wide cipher, made on first use and kept to the end.
    static Crypto& crypto();

    // The stored form of a clear text; no value for an empty text or when the
    // cipher fails.
    [[nodiscard]] static std::optional<std::string> encode(const std::string& text);
    // The clear text of a stored credential. No value when the text is not a
    // stored credential, or deciphers to nothing or to bytes that are not
    // UTF-8; never the stored text itself, and it never throws.
    [[nodiscard]] static std::optional<std::string> decode(const std::string& stored);

    // Stored to shown: decode while encryption is on, else unchanged.
    [[nodiscard]] std::optional<std::string> transformedValue(
        const std::optional<std::string>& stored) const;
    // Shown to stored: encode while encryption is on, else unchanged.
    [[nodiscard]] std::optional<std::string> reverseTransformedValue(
        const std::optional<std::string>& shown) const;

  private:
    std::function<bool()> encryptPass_;
};

// One digit (owner 0, group 1, others 2) of a three-digit permission string,
// remembering the other two from the last forward transformation.
class PermissionsValueTransformer {
  public:
    // initWithArrayIndex: position 0, 1 or 2.
    explicit PermissionsValueTransformer(int index);

    static bool allowsReverseTransformation() { return true; }

    // Takes all three digits from the string (a missing or non-digit character
    // reads as 0) and returns the one at this transformer's position.
    [[nodiscard]] int transformedValue(const std::optional<std::string>& permissions);
    // Sets this position's digit and returns all three as "%d%d%d". Values
    // other than 0, 1 and 2 name no popup entry and leave the digit as it was.
    [[nodiscard]] std::string reverseTransformedValue(int value);

  private:
    int index_;
    std::array<int, 3> perms_{0, 0, 0};
};

// A name's position in a fixed list of names (owner and group popups).
class ArrayStringIndexTransformer {
  public:
    using Names = std::vector<std::string>;

    // initWithArray: the list is shared with its creator, not copied.
    explicit ArrayStringIndexTransformer(std::shared_ptr<const Names> array)
        : array_(std::move(array)) {}

    static bool allowsReverseTransformation() { return true; }

    // Position of the first entry equal to the name (case-sensitive); no value
    // when there is none.
    [[nodiscard]] std::optional<int> transformedValue(const std::optional<std::string>& name) const;
    // The entry at a position; no value when the position is outside the list.
    [[nodiscard]] std::optional<std::string> reverseTransformedValue(int position) const;

  private:
    std::shared_ptr<const Names> array_;
};

}  // namespace vynd
