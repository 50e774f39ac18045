#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The update feed: an RSS document whose items are releases, each with its version in
// "sparkle:" elements or on its enclosure, and a link to its page. Nothing is ever downloaded
// from it but the feed itself.
namespace Appcast {

struct Release {
    std::string version; // numbers and dots only
    std::string link;    // an https page about the release, or empty
    bool operator==(const Release&) const = default;
};

// The releases with a usable version, in feed order, or why the document is not a feed.
// Items of a named channel (betas) and items whose version is not a dotted number are left out.
std::variant<std::vector<Release>, std::string> parse(std::string_view bytes);

// The numbers of a dotted version ("1.10.2"), or nothing when it is anything else.
std::optional<std::vector<std::uint32_t>> numbers(std::string_view version);

// Below zero, zero or above zero as `a` is older than, the same as or newer than `b`; missing
// parts count as zero ("1.2" is "1.2.0"). Both must be dotted numbers.
int compare(std::string_view a, std::string_view b);

// The release newer than `ours` with the highest version, if any.
std::optional<Release> newerThan(const std::vector<Release>& releases, std::string_view ours);

} // namespace Appcast
