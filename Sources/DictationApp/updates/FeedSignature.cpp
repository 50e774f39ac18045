#include "updates/FeedSignature.h"

#include <QByteArray>
#include <charconv>
#include <memory>
#include <openssl/evp.h>

namespace {

constexpr std::string_view whitespace = " \t\r\n";

struct Block {
    std::size_t start = 0; // where the comment begins
    std::string signature; // decoded
    std::size_t length = 0;
};

std::optional<QByteArray> decoded(std::string_view text) {
    const auto result =
        QByteArray::fromBase64Encoding(QByteArray(text.data(), static_cast<qsizetype>(text.size())),
                                       QByteArray::AbortOnBase64DecodingErrors);
    if (!result) {
        return std::nullopt;
    }
    return *result;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(whitespace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(whitespace) - first + 1);
}

// The trailing signature comment, or nothing when the feed has none that is well formed.
std::optional<Block> blockOf(std::string_view feed) {
    const auto start = feed.rfind(FeedSignature::opening);
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    const auto end = feed.find("-->", start);
    if (end == std::string_view::npos ||
        feed.find_first_not_of(whitespace, end + 3) != std::string_view::npos) {
        return std::nullopt;
    }
    Block block;
    block.start = start;
    bool hasLength = false;
    std::string_view body = feed.substr(start + FeedSignature::opening.size(),
                                        end - start - FeedSignature::opening.size());
    while (!body.empty()) {
        const auto newline = body.find('\n');
        const std::string_view line = trimmed(body.substr(0, newline));
        body = newline == std::string_view::npos ? std::string_view() : body.substr(newline + 1);
        if (line.starts_with("edSignature:")) {
            const auto bytes = decoded(trimmed(line.substr(12)));
            if (!bytes) {
                return std::nullopt;
            }
            block.signature = bytes->toStdString();
        } else if (line.starts_with("length:")) {
            const std::string_view number = trimmed(line.substr(7));
            const auto [end, error] =
                std::from_chars(number.data(), number.data() + number.size(), block.length);
            hasLength = error == std::errc() && end == number.data() + number.size();
        }
    }
    if (!hasLength || block.signature.size() != 64 || block.length > start ||
        feed.substr(block.length, start - block.length).find_first_not_of(whitespace) !=
            std::string_view::npos) {
        return std::nullopt;
    }
    return block;
}

} // namespace

std::optional<std::string> FeedSignature::problem(std::string_view feed,
                                                  std::string_view publicKey) {
    const auto key = decoded(trimmed(publicKey));
    if (!key || key->size() != 32) {
        return std::string("the signing key is not an ed25519 public key");
    }
    const auto block = blockOf(feed);
    if (!block) {
        return std::string("the feed is not signed");
    }
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key->constData()),
                                    static_cast<std::size_t>(key->size())),
        &EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!pkey || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) {
        return std::string("the signing key is not an ed25519 public key");
    }
    const bool valid =
        EVP_DigestVerify(context.get(),
                         reinterpret_cast<const unsigned char*>(block->signature.data()),
                         block->signature.size(),
                         reinterpret_cast<const unsigned char*>(feed.data()), block->length) == 1;
    if (!valid) {
        return std::string("the feed's signature does not match");
    }
    return std::nullopt;
}

std::string_view FeedSignature::signedPart(std::string_view feed) {
    const auto block = blockOf(feed);
    return block ? feed.substr(0, block->length) : std::string_view();
}
