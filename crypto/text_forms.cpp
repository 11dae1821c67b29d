// Base64 through OpenSSL's BIO filter chain, and the hex renderings.
#include "crypto/text_forms.h"

#include <openssl/bio.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

#include "crypto/assertion_failure.h"
#include "crypto/crypto_log.h"

namespace vynd {
namespace {

struct BioChainFree {
    void operator()(BIO* bio) const { BIO_free_all(bio); }
};
using BioChain = std::unique_ptr<BIO, BioChainFree>;

// Both the filter and the memory BIO, or neither (a failed half is freed).
BioChain base64Over(BIO* memory, bool newlines) {
    if (memory == nullptr)
        return nullptr;
    BIO* filter = BIO_new(BIO_f_base64());
    if (filter == nullptr) {
        BIO_free(memory);
        return nullptr;
    }
    if (!newlines)
        BIO_set_flags(filter, BIO_FLAGS_BASE64_NO_NL);
    return BioChain(BIO_push(filter, memory));
}

// The isalnum of the C locale, so the dump reads the same whatever locale the
// host program has switched to.
bool isAsciiAlnum(std::uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

constexpr char kLowerHex[] = "0123456789abcdef";

}  // namespace

std::optional<std::string> encodeBase64WithNewlines(ByteView data, bool newlines) {
    BIO* memory = BIO_new(BIO_s_mem());
    BioChain chain = base64Over(memory, newlines);
    if (!chain) {
        crypto_log("BIO_new() failed!");
        return std::nullopt;
    }
    // BIO_write counts in int, so larger buffers go in pieces.
    std::size_t done = 0;
    while (done < data.size()) {
        const int piece = static_cast<int>(std::min<std::size_t>(data.size() - done, INT_MAX));
        const int written = BIO_write(chain.get(), data.data() + done, piece);
        if (written <= 0)
            break;
        done += static_cast<std::size_t>(written);
    }
    const int flushed = static_cast<int>(BIO_flush(chain.get()));
    if (flushed != 1) {
        crypto_log("BIO_flush failed: " + std::to_string(flushed));
        return std::nullopt;
    }
    char* text = nullptr;
    const long length = BIO_get_mem_data(memory, &text);
    if (length <= 0 || text == nullptr)
        return std::string();
    return std::string(text, static_cast<std::size_t>(length));
}

std::optional<std::string> encodeBase64(ByteView data) {
    return encodeBase64WithNewlines(data, true);
}

Bytes decodeBase64WithNewLines(ByteView text, bool newlines) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        throw AssertionFailure("data length cannot be greater than " + std::to_string(INT_MAX));
    }
    Bytes out;
    if (text.empty())
        return out;
    BioChain chain =
        base64Over(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())), newlines);
    if (!chain)
        return out;
    std::uint8_t buffer[512];
    int got;
    while ((got = BIO_read(chain.get(), buffer, sizeof buffer)) > 0) {
        out.insert(out.end(), buffer, buffer + got);
    }
    return out;
}

Bytes decodeBase64(ByteView text) {
    return decodeBase64WithNewLines(text, true);
}

std::string hexval(ByteView data) {
    std::string out;
    out.reserve(data.size() * 2);
    for (std::uint8_t b : data) {
        out.push_back(kLowerHex[b >> 4]);
        out.push_back(kLowerHex[b & 0x0F]);
    }
    return out;
}

std::string hexdump(ByteView data) {
    std::string out, address, hex, chars;
    auto emitLine = [&] {
        char line[128];
        std::snprintf(line, sizeof line, "[%4.4s]   %-50.50s  %s\n", address.c_str(), hex.c_str(),
                      chars.c_str());
        out += line;
        hex.clear();
        chars.clear();
    };
    for (std::size_t n = 1; n <= data.size(); ++n) {
        const std::uint8_t b = data[n - 1];
        if (n % 16 == 1) {
            char text[32];
            std::snprintf(text, sizeof text, "%.4zx", n - 1);
            address = text;
        }
        char group[4];
        std::snprintf(group, sizeof group, "%02X ", static_cast<unsigned>(b));
        hex += group;
        chars.push_back(isAsciiAlnum(b) ? static_cast<char>(b) : '.');
        if (n % 16 == 0) {
            emitLine();
        } else if (n % 8 == 0) {
            hex += "  ";
            chars += " ";
        }
    }
    if (!hex.empty())
        emitLine();
    return out;
}

}  // namespace vynd
