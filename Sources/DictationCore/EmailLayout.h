#pragma once

#include <optional>
#include <string>
#include <string_view>

// An e-mail dictated in one breath, shaped into a greeting line, short paragraphs and a
// sign-off.
namespace EmailLayout {

struct SignOff {
    std::string body;
    // The closing phrase and, on its own line, the name ("Best regards,\nTom").
    std::string closing;
    bool operator==(const SignOff&) const = default;
};

// Greeting, body in paragraphs of at most three sentences, closing; each part its own block.
std::string apply(std::string_view text);

// The text split before a closing phrase at its end ("thanks", "best regards, Tom"); nothing
// when it has none.
std::optional<SignOff> signOffParts(std::string_view text);

} // namespace EmailLayout
