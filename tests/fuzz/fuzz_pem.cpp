// Fuzz target: arbitrary bytes as PEM private and public keys.
#include "crypto/crypto.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vynd::Bytes pem(data, data + size);
    (void)vynd::Crypto::generateRSAPublicKeyFromPrivateKey(pem);

    vynd::Crypto both = vynd::Crypto::initWithPublicKey(pem, pem);
    both.setClearTextWithString("fuzzed key");
    (void)both.sign();
    (void)both.encrypt();
    both.setCipherText(vynd::Bytes(size % 600, 0x5a));
    (void)both.verify();
    (void)both.decrypt();
    return 0;
}
