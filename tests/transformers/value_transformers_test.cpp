// The value transformers and the stored credential encoding, checked against the openssl program.
#include <gtest/gtest.h>

#include "crypto/text_forms.h"
#include "tests/crypto/test_tools.h"
#include "transformers/value_transformers.h"

namespace vynd {
namespace {

using test::runTool;

// The stored credential encoding rebuilt from the openssl program alone:
// PBKDF2 for the key material, then enc's MD5 derivation done by hand
// (key = MD5(K), IV = MD5(MD5(K) || K)) because K is binary.
std::string storedByOpenssl(const std::string& clear) {
    const std::string& openssl = test::opensslProgram();
    const Bytes k = test::fromHex(stringOf(
        runTool({openssl, "kdf", "-keylen", "32", "-kdfopt", "pass:harborlanterns", "-kdfopt",
                 "salt:meadowpepper", "-kdfopt", "iter:1000", "-kdfopt", "digest:SHA1", "PBKDF2"})
            .out));
    const Bytes key = runTool({openssl, "dgst", "-md5", "-binary"}, k).out;
    Bytes chained = key;
    chained.insert(chained.end(), k.begin(), k.end());
    const Bytes iv = runTool({openssl, "dgst", "-md5", "-binary"}, chained).out;
    const auto enc = runTool(
        {openssl, "enc", "-aes-128-cbc", "-K", hexval(key), "-iv", hexval(iv), "-base64", "-A"},
        bytesOf(clear));
    std::string text = stringOf(enc.out);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

TEST(StoredCredential, MatchesTheOpensslProgram) {
    if (test::opensslProgram().empty())
        GTEST_SKIP() << "no openssl program";
    for (const std::string& clear :
         std::vector<std::string>{"a", "admin", "sixteen bytes!!!",
                                  "p\xc3\xa4ssw\xc3\xb6rd with spaces", std::string(200, 'z')}) {
        const auto stored = PasswordValueTransformer::encode(clear);
        ASSERT_TRUE(stored);
        EXPECT_EQ(*stored, storedByOpenssl(clear)) << clear;
        EXPECT_EQ(PasswordValueTransformer::decode(storedByOpenssl(clear)), clear);
    }
}

TEST(StoredCredential, FixedUnbrokenAndBlockAligned) {
    for (std::size_t length : {1u, 15u, 16u, 17u, 47u, 48u, 49u, 100u}) {
        const std::string clear(length, 'q');
        const auto first = PasswordValueTransformer::encode(clear);
        ASSERT_TRUE(first);
        EXPECT_EQ(first, PasswordValueTransformer::encode(clear));
        EXPECT_EQ(first->find('\n'), std::string::npos);
        EXPECT_EQ(first->size() % 4, 0u);
        EXPECT_EQ(decodeBase64WithNewLines(bytesOf(*first), false).size() % 16, 0u);
        EXPECT_EQ(PasswordValueTransformer::decode(*first), clear);
    }
}

TEST(StoredCredential, EmptyTextHasNoStoredForm) {
    test::StderrCapture log;
    EXPECT_FALSE(PasswordValueTransformer::encode(""));
    EXPECT_EQ(log.text(), "");
}

TEST(StoredCredential, WhatDoesNotDecodeIsAbsentNeverTheStoredText) {
    // Give the shared cipher a clear text first: a failed decode must not
    // hand back that leftover either.
    ASSERT_TRUE(PasswordValueTransformer::encode("leftover"));
    test::StderrCapture log;
    const std::string bad[] = {"",
                               "not base64 !!",
                               "c2VjcmV0",                   // Base64 of plain "secret"
                               *encodeBase64(Bytes(32, 7)),  // laid out with a line feed
                               std::string(5000, 'A'),
                               stringOf(test::patternBytes(999, 1))};
    for (const std::string& stored : bad) {
        EXPECT_FALSE(PasswordValueTransformer::decode(stored)) << stored;
    }
    EXPECT_NE(log.text().find("EVP_DecryptFinal() failed!\n"), std::string::npos);

    // Truncated stored text.
    const std::string good = *PasswordValueTransformer::encode("a password long enough");
    EXPECT_FALSE(PasswordValueTransformer::decode(good.substr(0, good.size() - 4)));
    EXPECT_FALSE(PasswordValueTransformer::decode(good.substr(0, 10)));
}

TEST(StoredCredential, ClearTextThatIsNotUtf8IsAbsent) {
    Crypto& shared = PasswordValueTransformer::crypto();
    shared.setClearTextWithData(Bytes{'o', 'k', 0xff, 0xfe});
    const auto cipherText = shared.encrypt();
    ASSERT_TRUE(cipherText);
    EXPECT_FALSE(PasswordValueTransformer::decode(*encodeBase64WithNewlines(*cipherText, false)));
}

TEST(StoredCredential, OneSharedCipher) {
    EXPECT_EQ(&PasswordValueTransformer::crypto(), &PasswordValueTransformer::crypto());
    EXPECT_TRUE(PasswordValueTransformer::crypto().isSymmetric());
    EXPECT_EQ(PasswordValueTransformer::crypto().symmetricKey(),
              Crypto::getKeyDataWithLength(32, "harborlanterns", "meadowpepper"));
}

TEST(PasswordValueTransformer, FollowsTheSettingAtEachCall) {
    bool encryptPass = false;
    const PasswordValueTransformer transformer([&] { return encryptPass; });
    EXPECT_TRUE(PasswordValueTransformer::allowsReverseTransformation());
    EXPECT_EQ(transformer.transformedValue(std::string("plain")), "plain");
    EXPECT_EQ(transformer.reverseTransformedValue(std::string("plain")), "plain");
    EXPECT_EQ(transformer.transformedValue(std::nullopt), std::nullopt);

    encryptPass = true;
    const auto stored = transformer.reverseTransformedValue(std::string("s3cret"));
    ASSERT_TRUE(stored);
    EXPECT_NE(*stored, "s3cret");
    EXPECT_EQ(transformer.transformedValue(stored), "s3cret");
    EXPECT_EQ(transformer.reverseTransformedValue(std::nullopt), std::nullopt);
    EXPECT_EQ(transformer.reverseTransformedValue(std::string()), std::nullopt);

    const PasswordValueTransformer unset(nullptr);  // no settings store: encryption off
    EXPECT_EQ(unset.transformedValue(std::string("x")), "x");
}

TEST(PermissionsValueTransformer, EditsOneDigitKeepingTheOthers) {
    PermissionsValueTransformer owner(0), group(1), others(2);
    EXPECT_EQ(owner.transformedValue(std::string("011")), 0);
    EXPECT_EQ(group.transformedValue(std::string("011")), 1);
    EXPECT_EQ(others.transformedValue(std::string("011")), 1);
    EXPECT_EQ(others.reverseTransformedValue(2), "012");
    EXPECT_EQ(group.reverseTransformedValue(0), "001");  // its own memory of "011"
    EXPECT_TRUE(PermissionsValueTransformer::allowsReverseTransformation());
}

TEST(PermissionsValueTransformer, FreshAndOddInput) {
    PermissionsValueTransformer fresh(1);
    EXPECT_EQ(fresh.reverseTransformedValue(2), "020");

    PermissionsValueTransformer group(1);
    EXPECT_EQ(group.transformedValue(std::string("0x2")), 0);
    EXPECT_EQ(group.reverseTransformedValue(1), "012");

    PermissionsValueTransformer others(2);
    EXPECT_EQ(others.transformedValue(std::string("2")), 0);  // missing digits read as 0
    EXPECT_EQ(others.reverseTransformedValue(1), "201");
    EXPECT_EQ(others.transformedValue(std::nullopt), 0);
    EXPECT_EQ(others.reverseTransformedValue(0), "000");
    EXPECT_EQ(others.transformedValue(std::string("2101")), 0);
    // No popup entry beyond "No Access": the digit stays.
    EXPECT_EQ(others.reverseTransformedValue(3), "210");
    EXPECT_EQ(others.reverseTransformedValue(-1), "210");
}

TEST(ArrayStringIndexTransformer, FirstCaseSensitiveMatch) {
    auto names = std::make_shared<std::vector<std::string>>(
        std::vector<std::string>{"admin", "staff", "admin"});
    const ArrayStringIndexTransformer transformer(names);
    EXPECT_EQ(transformer.transformedValue(std::string("admin")), 0);
    EXPECT_EQ(transformer.transformedValue(std::string("staff")), 1);
    EXPECT_EQ(transformer.transformedValue(std::string("Admin")), std::nullopt);
    EXPECT_EQ(transformer.transformedValue(std::string("wheel")), std::nullopt);
    EXPECT_EQ(transformer.transformedValue(std::nullopt), std::nullopt);
    EXPECT_EQ(transformer.reverseTransformedValue(1), "staff");
    EXPECT_EQ(transformer.reverseTransformedValue(3), std::nullopt);
    EXPECT_EQ(transformer.reverseTransformedValue(-1), std::nullopt);

    // The list is shared: the creator's later entries are seen.
    names->push_back("wheel");
    EXPECT_EQ(transformer.transformedValue(std::string("wheel")), 3);
}

}  // namespace
}  // namespace vynd
