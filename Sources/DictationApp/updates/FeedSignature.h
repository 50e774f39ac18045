#pragma once

#include <optional>
#include <string>
#include <string_view>

// The update feed's own signature: the feed ends in a comment holding an Ed25519 signature of
// the bytes before it, made with the key whose public half the installed tree names
// ("SUPublicEDKey", 32 bytes in base64):
//
//   <!-- sparkle-signatures:
//   edSignature: <64 bytes in base64>
//   length: <the number of signed bytes>
//   -->
//
// Only whitespace may stand between the signed bytes and the comment, and after it.
namespace FeedSignature {

inline constexpr std::string_view opening = "<!-- sparkle-signatures:";

// Why the feed is not signed by that key ("the feed is not signed", "the feed's signature does
// not match"), or nothing when it is.
std::optional<std::string> problem(std::string_view feed, std::string_view publicKey);

// The signed part of a feed that passed `problem`.
std::string_view signedPart(std::string_view feed);

} // namespace FeedSignature
