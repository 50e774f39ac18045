#pragma once

#include <string>
#include <string_view>

// Hesitation sounds and stutters of spoken English, removed from a transcript.
namespace Disfluency {

// The text without "um", "uh", "erm" (drawn out too), comma-enclosed "like" and phrases of two to
// four words said twice in a row, with sentence starts capitalised.
std::string strip(std::string_view text);

} // namespace Disfluency
