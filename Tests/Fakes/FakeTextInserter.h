#pragma once

#include "dictation/TextInserter.h"

#include <string>
#include <utility>
#include <vector>

// Writes down what would have been pasted, and whether as a secret.
class FakeTextInserter final : public TextInserter {
  public:
    std::vector<std::pair<std::string, bool>> pastes;
    void paste(const std::string& text, bool isSecure) override {
        pastes.emplace_back(text, isSecure);
    }
};
