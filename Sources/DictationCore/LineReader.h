#pragma once

#include <array>
#include <cstddef>
#include <istream>
#include <optional>
#include <string>

// Lines from a stream for the programs that answer one request a line. A line longer than the
// limit is reported once, at its end, and what follows the limit is read in small pieces and
// dropped, so a sender can't make the reader hold more than the limit.
class LineReader {
  public:
    struct Line {
        // Without its line feed, nor a carriage return before it; empty when too long.
        std::string text;
        bool tooLong = false;
    };

    LineReader(std::istream& in, std::size_t limit);

    // Nothing once the stream has ended. A last line without a line feed counts.
    std::optional<Line> next();

  private:
    std::istream& in_;
    std::size_t limit_;
    std::array<char, 64 * 1024> piece_{};
};
