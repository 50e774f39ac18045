#pragma once

#include <string>

// Puts dictated text into the focused field. Main thread only; returns at once.
class TextInserter {
  public:
    virtual ~TextInserter() = default;
    // `isSecure`: a password field, where the text must not linger anywhere.
    virtual void paste(const std::string& text, bool isSecure) = 0;
};
