#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The user's word list ("words.txt"): one term per line, "#" starts a comment line. The terms
// only shape the speech engine's prompt; no transcript word is ever replaced by one.
namespace Vocabulary {

// Terms in file order: lines trimmed of spaces and tabs, blank and comment lines dropped.
std::vector<std::string> terms(std::string_view text);

// Terms with their spaces collapsed, each kept once (its first form), ignoring case.
std::vector<std::string> unique(std::string_view text);

// The list with `term` appended, unless it is empty, a comment, or already listed.
std::vector<std::string> adding(std::string_view term, std::vector<std::string> list);

// "Kubernetes, Grafana." or nothing when there are no terms.
std::optional<std::string> prompt(std::string_view text);

} // namespace Vocabulary
