#pragma once

#include <QByteArray>
#include <memory>
#include <openssl/evp.h>
#include <stdexcept>
#include <string>

// An Ed25519 key pair made for one test, signing update feeds the way a release does: the
// signature of the feed's bytes in a comment after them.
class FeedSigner {
  public:
    FeedSigner() {
        const std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
            EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), &EVP_PKEY_CTX_free);
        EVP_PKEY* made = nullptr;
        if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
            EVP_PKEY_keygen(context.get(), &made) != 1) {
            throw std::runtime_error("no ed25519 key");
        }
        key_.reset(made);
    }

    // The public half in base64, as "SUPublicEDKey" holds it.
    std::string publicKey() const {
        unsigned char raw[32];
        std::size_t size = sizeof raw;
        EVP_PKEY_get_raw_public_key(key_.get(), raw, &size);
        return QByteArray(reinterpret_cast<const char*>(raw), static_cast<qsizetype>(size))
            .toBase64()
            .toStdString();
    }

    // `feed` followed by its signature block.
    std::string sign(const std::string& feed) const {
        const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                              &EVP_MD_CTX_free);
        unsigned char signature[64];
        std::size_t size = sizeof signature;
        if (!context ||
            EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
            EVP_DigestSign(context.get(), signature, &size,
                           reinterpret_cast<const unsigned char*>(feed.data()), feed.size()) != 1) {
            throw std::runtime_error("signing failed");
        }
        return feed + "\n<!-- sparkle-signatures:\nedSignature: " +
               QByteArray(reinterpret_cast<const char*>(signature), static_cast<qsizetype>(size))
                   .toBase64()
                   .toStdString() +
               "\nlength: " + std::to_string(feed.size()) + "\n-->\n";
    }

  private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_{nullptr, &EVP_PKEY_free};
};
