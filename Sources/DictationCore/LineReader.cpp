#include "LineReader.h"

LineReader::LineReader(std::istream& in, std::size_t limit) : in_(in), limit_(limit) {}

std::optional<LineReader::Line> LineReader::next() {
    Line line;
    bool read = false;
    while (true) {
        // getline stops at the line feed, at the end, or with a full piece (failbit alone).
        in_.getline(piece_.data(), static_cast<std::streamsize>(piece_.size()));
        const auto count = static_cast<std::size_t>(in_.gcount());
        const bool full = in_.fail() && !in_.eof() && !in_.bad() && count + 1 == piece_.size();
        const bool ended = !in_.fail() && !in_.eof();
        read = read || count > 0;
        const std::size_t stored = ended ? count - 1 : count;
        // One byte over the limit is kept, for a carriage return before the line feed.
        if (!line.tooLong && line.text.size() + stored <= limit_ + 1) {
            line.text.append(piece_.data(), stored);
        } else if (!line.tooLong) {
            line.tooLong = true;
            std::string().swap(line.text);
        }
        if (full) {
            in_.clear();
            continue;
        }
        if (!read) {
            return std::nullopt;
        }
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
        }
        if (line.text.size() > limit_) {
            line.tooLong = true;
            std::string().swap(line.text);
        }
        return line;
    }
}
