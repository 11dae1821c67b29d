// The symmetric cipher, key derivation and digests against the openssl program, and their failures.
#include <gtest/gtest.h>

#include "crypto/crypto.h"
#include "crypto/text_forms.h"
#include "tests/crypto/test_tools.h"

namespace vynd {
namespace {

using test::patternBytes;
using test::runTool;

const std::size_t kLengths[] = {1, 15, 16, 17, 31, 32, 33, 47, 48, 49, 1000, 1 << 20};

class SymmetricTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (test::opensslProgram().empty())
            GTEST_SKIP() << "no openssl program";
    }
    // openssl enc with the MD5 key derivation and a text pass phrase.
    static test::ToolResult enc(const std::vector<std::string>& options, const std::string& pass,
                                ByteView input) {
        std::vector<std::string> argv = {test::opensslProgram(), "enc"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), {"-md", "md5", "-pass", "pass:" + pass});
        return runTool(argv, input);
    }
};

TEST_F(SymmetricTest, UnsaltedAesMatchesOpensslEncBothWays) {
    const std::string keys[] = {"k", "harborlanterns", std::string(100, 'p'), "\xc3\xa9t\xc3\xa9"};
    unsigned seed = 3;
    for (const std::string& key : keys) {
        for (std::size_t length : kLengths) {
            const Bytes clear = patternBytes(length, seed++);
            Crypto crypto = Crypto::initWithSymmetricKey(bytesOf(key));
            crypto.setClearTextWithData(clear);
            const auto ours = crypto.encrypt();
            ASSERT_TRUE(ours);
            EXPECT_EQ(ours->size(), (length / 16 + 1) * 16);
            const auto theirs = enc({"-aes-128-cbc", "-nosalt"}, key, clear);
            ASSERT_EQ(theirs.status, 0);
            EXPECT_EQ(*ours, theirs.out) << "length " << length;

            const auto back = enc({"-d", "-aes-128-cbc", "-nosalt"}, key, *ours);
            EXPECT_EQ(back.status, 0);
            EXPECT_EQ(back.out, clear);

            Crypto reader = Crypto::initWithSymmetricKey(bytesOf(key));
            reader.setCipherText(theirs.out);
            EXPECT_EQ(reader.decrypt(), clear);
        }
    }
}

TEST_F(SymmetricTest, SaltedLayoutInterchangesWithOpensslEnc) {
    unsigned seed = 40;
    for (std::size_t length : kLengths) {
        const Bytes clear = patternBytes(length, seed++);
        Crypto crypto = Crypto::initWithSymmetricKey(bytesOf("salty pass"));
        crypto.setClearTextWithData(clear);
        const auto ours = crypto.encrypt(std::string("aes128"), true);
        ASSERT_TRUE(ours);
        ASSERT_GE(ours->size(), 32u);
        EXPECT_EQ(stringOf(ByteView(*ours).first(8)), "Salted__");
        EXPECT_EQ(ours->size(), 16 + (length / 16 + 1) * 16);

        const auto back = enc({"-d", "-aes-128-cbc"}, "salty pass", *ours);
        EXPECT_EQ(back.status, 0);
        EXPECT_EQ(back.out, clear);

        const auto theirs = enc({"-aes-128-cbc"}, "salty pass", clear);
        ASSERT_EQ(theirs.status, 0);
        Crypto reader = Crypto::initWithSymmetricKey(bytesOf("salty pass"));
        reader.setCipherText(theirs.out);
        EXPECT_EQ(reader.decrypt(), clear) << "length " << length;
    }
}

TEST_F(SymmetricTest, SaltMakesEveryCipherTextDifferent) {
    Crypto crypto = Crypto::initWithSymmetricKey(bytesOf("key"));
    crypto.setClearTextWithString("same text");
    EXPECT_EQ(crypto.encrypt(), crypto.encrypt());
    const auto first = crypto.encrypt(std::string("aes128"), true);
    const auto second = crypto.encrypt(std::string("aes128"), true);
    EXPECT_NE(first, second);
}

TEST_F(SymmetricTest, NoCipherNameMeansBlowfishCbc) {
    Crypto crypto = Crypto::initWithSymmetricKey(bytesOf("fish"));
    const Bytes clear = patternBytes(100, 8);
    crypto.setClearTextWithData(clear);
    const auto ours = crypto.encrypt(std::nullopt);
    ASSERT_TRUE(ours);
    EXPECT_EQ(ours->size(), 104u);
    const auto theirs =
        enc({"-bf-cbc", "-nosalt", "-provider", "legacy", "-provider", "default"}, "fish", clear);
    ASSERT_EQ(theirs.status, 0);
    EXPECT_EQ(*ours, theirs.out);
    crypto.setClearTextWithData(std::nullopt);
    EXPECT_EQ(crypto.decrypt(std::nullopt), clear);
}

TEST_F(SymmetricTest, OtherNamedCiphers) {
    const Bytes clear = patternBytes(77, 9);
    for (const char* name : {"aes-256-cbc", "des-ede3-cbc", "aes-128-ctr", "camellia-128-cbc"}) {
        Crypto crypto = Crypto::initWithSymmetricKey(bytesOf("named"));
        crypto.setClearTextWithData(clear);
        const auto ours = crypto.encrypt(std::string(name));
        ASSERT_TRUE(ours) << name;
        const auto theirs = enc({std::string("-") + name, "-nosalt"}, "named", clear);
        EXPECT_EQ(*ours, theirs.out) << name;
        EXPECT_EQ(crypto.decrypt(std::string(name)), clear) << name;
    }
}

TEST_F(SymmetricTest, SixteenBytesStartingWithTheMagicAreNotSalted) {
    // A stream mode shows whether all sixteen bytes were deciphered.
    const Bytes blob = bytesOf("Salted__12345678");
    Crypto crypto = Crypto::initWithSymmetricKey(bytesOf("ctr"));
    crypto.setCipherText(blob);
    const auto ours = crypto.decrypt(std::string("aes-128-ctr"));
    ASSERT_TRUE(ours);
    const auto theirs = enc({"-d", "-aes-128-ctr", "-nosalt"}, "ctr", blob);
    EXPECT_EQ(ours->size(), 16u);
    EXPECT_EQ(*ours, theirs.out);
}

TEST(SymmetricFailures, WrongKeyAndTruncatedDataLeaveTheClearText) {
    Crypto writer = Crypto::initWithSymmetricKey(bytesOf("right"));
    writer.setClearTextWithString("secret text that spans two blocks");
    const Bytes cipherText = *writer.encrypt();

    Crypto reader = Crypto::initWithSymmetricKey(bytesOf("wrong"));
    reader.setClearTextWithString("previous");
    reader.setCipherText(cipherText);
    {
        test::StderrCapture log;
        EXPECT_FALSE(reader.decrypt());
        EXPECT_EQ(log.text(), "EVP_DecryptFinal() failed!\n");
    }
    EXPECT_EQ(reader.clearTextAsString(), "previous");

    reader.setSymmetricKey(bytesOf("right"));
    for (std::size_t cut : {1u, 15u, 16u, 17u}) {
        reader.setCipherText(Bytes(cipherText.begin(), cipherText.end() - cut));
        test::StderrCapture log;
        const auto result = reader.decrypt();
        if (cut == 16u) {
            // A whole block less is a valid but shorter cipher text only when
            // its new last block happens to carry valid padding.
            if (result)
                continue;
        }
        EXPECT_FALSE(result) << cut;
        EXPECT_EQ(log.text(), "EVP_DecryptFinal() failed!\n") << cut;
    }
    EXPECT_EQ(reader.clearTextAsString(), "previous");
}

TEST(SymmetricFailures, MissingInputKeyOrCipherName) {
    test::StderrCapture log;
    Crypto crypto = Crypto::initWithSymmetricKey(bytesOf("key"));
    EXPECT_FALSE(crypto.encrypt());  // no clear text: silent
    crypto.setClearTextWithString("");
    EXPECT_FALSE(crypto.encrypt());
    EXPECT_FALSE(crypto.decrypt());
    EXPECT_EQ(log.text(), "");

    crypto.setClearTextWithString("x");
    EXPECT_FALSE(crypto.encrypt(std::string("aes129")));
    EXPECT_EQ(log.text(), "cannot get cipher with name aes129\n");

    Crypto bare;
    bare.setClearTextWithString("x");
    bare.setCipherText(Bytes(16, 1));
    EXPECT_FALSE(bare.encrypt());
    EXPECT_FALSE(bare.decrypt());
    bare.setIsSymmetric(true);  // symmetric but without key material
    EXPECT_FALSE(bare.encrypt(std::string("aes128")));
    EXPECT_FALSE(bare.decrypt(std::string("aes128")));
    EXPECT_EQ(log.text(),
              "cannot get cipher with name aes129\n"
              "No symmetric key or public key is set!\n"
              "No symmetric key or private key is set!\n"
              "Cannot encrypt without the symmetric key, which is currently nil\n"
              "Cannot decrypt without the symmetric key, which is currently nil\n");
    EXPECT_FALSE(bare.cipherTextAsData()->empty());
}

TEST(SymmetricFailures, EmptyKeyMaterialIsStillAKey) {
    Crypto crypto = Crypto::initWithSymmetricKey(Bytes{});
    crypto.setClearTextWithString("under an empty pass phrase");
    const auto cipherText = crypto.encrypt();
    ASSERT_TRUE(cipherText);
    if (!test::opensslProgram().empty()) {
        const auto theirs = runTool({test::opensslProgram(), "enc", "-d", "-aes-128-cbc", "-nosalt",
                                     "-md", "md5", "-pass", "pass:"},
                                    *cipherText);
        EXPECT_EQ(stringOf(theirs.out), "under an empty pass phrase");
    }
}

TEST(SymmetricRoundTrip, EveryByteValueAndManyLengths) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    Crypto crypto = Crypto::initWithSymmetricKey(all);
    crypto.setClearTextWithData(all);
    ASSERT_TRUE(crypto.encrypt());
    crypto.setClearTextWithData(std::nullopt);
    EXPECT_EQ(crypto.decrypt(), all);
    for (std::size_t length : {1u, 15u, 16u, 17u, 47u, 48u, 49u, 1u << 20}) {
        for (bool salt : {false, true}) {
            const Bytes clear = patternBytes(length, static_cast<unsigned>(length));
            crypto.setClearTextWithData(clear);
            ASSERT_TRUE(crypto.encrypt(std::string("aes128"), salt));
            crypto.setClearTextWithData(std::nullopt);
            EXPECT_EQ(crypto.decrypt(), clear) << length << " " << salt;
        }
    }
}

TEST(Accessors, TextsAndDescription) {
    Crypto fresh;
    EXPECT_FALSE(fresh.isSymmetric());
    EXPECT_EQ(fresh.description(),
              "clearText: (null), cipherText: (null), symmetricKey: (null), publicKey: (null), "
              "privateKey: (null)");
    EXPECT_FALSE(fresh.clearTextAsString());
    EXPECT_FALSE(fresh.cipherTextAsBase64String());

    fresh.setClearTextWithString("caf\xc3\xa9");
    EXPECT_EQ(fresh.clearTextAsData()->size(), 5u);
    EXPECT_EQ(fresh.clearTextAsString(), "caf\xc3\xa9");
    fresh.setClearTextWithData(Bytes{0x66, 0xff});
    EXPECT_FALSE(fresh.clearTextAsString());
    fresh.setClearTextWithData(Bytes{0xed, 0xa0, 0x80});  // a surrogate
    EXPECT_FALSE(fresh.clearTextAsString());

    fresh.setCipherText(Bytes(49, 0x41));
    EXPECT_EQ(fresh.cipherTextAsString(), std::string(49, 'A'));
    const std::string base64 = *fresh.cipherTextAsBase64String();
    EXPECT_EQ(base64, *encodeBase64(Bytes(49, 0x41)));
    fresh.setCipherText(std::nullopt);
    fresh.setCipherTextFromBase64String(base64);
    EXPECT_EQ(fresh.cipherTextAsData(), Bytes(49, 0x41));

    fresh.setClearTextWithString("ab");
    EXPECT_EQ(fresh.description(),
              "clearText: " + hexdump(bytesOf("ab")) + ", cipherText: " + hexdump(Bytes(49, 0x41)) +
                  ", symmetricKey: (null), publicKey: (null), privateKey: (null)");
}

class DerivationTest : public SymmetricTest {};

TEST_F(DerivationTest, Pbkdf2MatchesOpensslKdf) {
    struct Case {
        int length;
        std::string pass, salt;
        int iterations;
    };
    const Case cases[] = {{32, "harborlanterns", "meadowpepper", 1000},
                          {16, "p", "s", 1},
                          {20, "password", "salt", 4096},
                          {64, "long pass phrase with spaces", "NaCl", 1000},
                          {7, "\xc3\xa9", "\xc3\xa8", 3}};
    for (const Case& c : cases) {
        const auto ours =
            c.iterations == 1000
                ? Crypto::getKeyDataWithLength(c.length, c.pass, c.salt)
                : Crypto::getKeyDataWithLength(c.length, c.pass, c.salt, c.iterations);
        ASSERT_TRUE(ours);
        const auto theirs =
            runTool({test::opensslProgram(), "kdf", "-keylen", std::to_string(c.length), "-kdfopt",
                     "pass:" + c.pass, "-kdfopt", "salt:" + c.salt, "-kdfopt",
                     "iter:" + std::to_string(c.iterations), "-kdfopt", "digest:SHA1", "PBKDF2"});
        ASSERT_EQ(theirs.status, 0);
        EXPECT_EQ(*ours, test::fromHex(stringOf(theirs.out))) << c.pass;
    }
    // The known PBKDF2-HMAC-SHA1 answer of RFC 6070.
    EXPECT_EQ(hexval(*Crypto::getKeyDataWithLength(20, "password", "salt", 1)),
              "0c60c80f961f0e71f3a9b524af6012062fe037a6");
    EXPECT_FALSE(Crypto::getKeyDataWithLength(16, "p", "s", 0));
    EXPECT_FALSE(Crypto::getKeyDataWithLength(-1, "p", "s"));
}

TEST_F(DerivationTest, RandomKeyData) {
    EXPECT_EQ(Crypto::getKeyDataWithLength(33)->size(), 33u);
    EXPECT_NE(Crypto::getKeyDataWithLength(16), Crypto::getKeyDataWithLength(16));
    EXPECT_TRUE(Crypto::getKeyDataWithLength(0)->empty());
    EXPECT_FALSE(Crypto::getKeyDataWithLength(-5));
}

TEST_F(DerivationTest, DigestsMatchOpensslDgst) {
    const Bytes data = patternBytes(5000, 21);
    auto dgst = [&](const char* name) {
        return runTool({test::opensslProgram(), "dgst", std::string("-") + name, "-binary"}, data)
            .out;
    };
    EXPECT_EQ(Crypto::getSHA1ForData(data), dgst("sha1"));
    EXPECT_EQ(Crypto::getMD5ForData(data), dgst("md5"));
    EXPECT_EQ(hexval(*Crypto::getMD5ForData(Bytes{})), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Crypto::getSHA1ForData(Bytes{})->size(), 20u);

    Crypto crypto;
    crypto.setClearTextWithData(data);
    EXPECT_EQ(crypto.digest(std::nullopt), dgst("md5"));
    EXPECT_EQ(crypto.digest(std::string("sha256")), dgst("sha256"));
    EXPECT_EQ(crypto.digest(std::string("SHA1")), dgst("sha1"));
    EXPECT_FALSE(crypto.cipherTextAsData());  // digest stores nothing
}

TEST(DigestFailures, EmptyClearTextAndUnknownName) {
    test::StderrCapture log;
    Crypto crypto;
    EXPECT_FALSE(crypto.digest(std::nullopt));
    crypto.setClearTextWithString("");
    EXPECT_FALSE(crypto.digest(std::nullopt));
    EXPECT_EQ(log.text(), "");
    crypto.setClearTextWithString("x");
    EXPECT_FALSE(crypto.digest(std::string("sha-999")));
    EXPECT_EQ(log.text(), "cannot get digest with name sha-999\n");
}

}  // namespace
}  // namespace vynd
