// Fuzz target: deciphering arbitrary cipher texts, bare and "Salted__", under a few ciphers.
#include <cstdlib>

#include "crypto/crypto.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static const char* const kCiphers[] = {"aes128", "aes-128-ctr", "bf-cbc", "des-ede3-cbc"};
    static vynd::Crypto crypto = vynd::Crypto::initWithSymmetricKey(vynd::bytesOf("fuzz key"));
    const std::string cipher = kCiphers[data[0] % 4];
    crypto.setCipherText(vynd::Bytes(data + 1, data + size));
    if (auto clear = crypto.decrypt(cipher)) {
        // Whatever deciphers must encipher back to something that deciphers to it.
        crypto.setClearTextWithData(*clear);
        if (!clear->empty()) {
            if (!crypto.encrypt(cipher, (data[0] & 0x80) != 0))
                std::abort();
            if (crypto.decrypt(cipher) != clear)
                std::abort();
        }
    }
    return 0;
}
