#pragma once

#include <memory>
#include <string_view>

// A case-insensitive substring search, prepared once and run over many texts: full Unicode
// case folding ("STRASSE" finds "Straße"; under a Turkish or Azerbaijani locale I pairs with ı),
// accents still count. An empty needle is found everywhere.
class TextSearch {
  public:
    // `locale` is an ICU locale name; empty means the user's.
    explicit TextSearch(std::string_view needle, std::string_view locale = {});
    TextSearch(TextSearch&&) noexcept;
    TextSearch& operator=(TextSearch&&) noexcept;
    ~TextSearch();

    bool isEmpty() const { return !folded_; }
    bool foundIn(std::string_view haystack) const;

  private:
    struct Folded;
    std::unique_ptr<Folded> folded_; // none for an empty needle
};
