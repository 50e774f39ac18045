#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Made-up dictations of the kind people speak: fillers, self-corrections, spoken layout,
// questions and lists, in a fixed order so every run measures the same text.
namespace Dictations {

inline const std::vector<std::string>& sentences() {
    static const std::vector<std::string> all = {
        "um so I think we should send the report on Monday, no, Tuesday.",
        "can you ask Anna, sorry, Maria to book the room at noon?",
        "uh the the budget looks fine, I mean, the budget looks tight.",
        "let's meet at 3, no wait, 4 pm in the big room.",
        "buy milk. Scratch that. Buy bread and eggs.",
        "hi team new paragraph thanks for the notes, like, really helpful.",
        "first, book the venue, second, send the invites, third, order food.",
        "I was, like, going to call you but, um, the train was late.",
        "bring the red folder, sorry, blue folder to the meeting.",
        "is it Monday? No, it is Tuesday, so we have time.",
    };
    return all;
}

// About `words` words, sentences taken in turn.
inline std::string of(std::size_t words) {
    std::string text;
    std::size_t count = 0;
    for (std::size_t i = 0; count < words; ++i) {
        const std::string& sentence = sentences()[i % sentences().size()];
        if (!text.empty()) {
            text += ' ';
        }
        text += sentence;
        for (char c : sentence) {
            count += c == ' ' ? 1 : 0;
        }
        ++count;
    }
    return text;
}

} // namespace Dictations
