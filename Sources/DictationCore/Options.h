#pragma once

#include "HotKey.h"

#include <stdexcept>
#include <string>
#include <vector>

// The parsed command line.
struct Options {
    bool cleanup = true;
    std::string language = "en";
    bool showHelp = false;
    HotKey key = HotKey::rightOption;

    bool operator==(const Options&) const = default;

    class ParseError : public std::runtime_error {
      public:
        enum class Kind { missingValue, unknownFlag, unknownKey };
        ParseError(Kind kind, std::string argument);
        Kind kind() const { return kind_; }
        const std::string& argument() const { return argument_; }
        // The text shown to the user; the same as what().
        std::string description() const { return what(); }

      private:
        Kind kind_;
        std::string argument_;
    };

    // The arguments without the program path. Throws ParseError at the first bad argument.
    static Options parse(const std::vector<std::string>& arguments, HotKey defaultKey);

    // The help text, nine lines without a trailing line feed.
    static const std::string& usage();
};
