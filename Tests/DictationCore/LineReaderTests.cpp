#include "LineReader.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <malloc.h>
#include <new>
#include <sstream>

// Bytes held through operator new, to see what reading a long line keeps.
namespace {
std::atomic<std::size_t> held{0};
}

void* operator new(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    held += malloc_usable_size(block);
    return block;
}

void operator delete(void* block) noexcept {
    if (block != nullptr) {
        held -= malloc_usable_size(block);
        std::free(block);
    }
}

void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}

namespace {

using Line = std::pair<std::string, bool>; // text, too long

std::vector<Line> readAll(const std::string& input, std::size_t limit) {
    std::istringstream in(input);
    LineReader reader(in, limit);
    std::vector<Line> lines;
    while (auto line = reader.next()) {
        lines.emplace_back(line->text, line->tooLong);
    }
    return lines;
}

TEST(LineReader, SplitsAtLineFeedsAndReportsLongLinesOnce) {
    const std::string big(200000, 'b');
    const std::vector<std::tuple<std::string, std::size_t, std::vector<Line>>> rows = {
        {"", 8, {}},
        {"\n", 8, {{"", false}}},
        {"\n\n", 8, {{"", false}, {"", false}}},
        {"one\r\ntwo", 8, {{"one", false}, {"two", false}}},
        {"a\rb\n\r\n", 8, {{"a\rb", false}, {"", false}}},
        {"12345678\n123456789\n12345678\r\n123456789\r\nx",
         8,
         {{"12345678", false}, {"", true}, {"12345678", false}, {"", true}, {"x", false}}},
        {"123456789", 8, {{"", true}}},
        {big + "\n" + big + "b\nend\n", big.size(), {{big, false}, {"", true}, {"end", false}}},
        {std::string(65535, 'c') + "\n" + std::string(65536, 'c') + "\n",
         70000,
         {{std::string(65535, 'c'), false}, {std::string(65536, 'c'), false}}},
    };
    for (const auto& [input, limit, expected] : rows) {
        EXPECT_EQ(readAll(input, limit), expected) << input.substr(0, 40);
    }
}

// Hands out `length` bytes of one line, then a line feed and "next\n", a piece at a time, and
// notes the most bytes the reader held meanwhile.
class EndlessLine : public std::streambuf {
  public:
    explicit EndlessLine(std::size_t length) : left_(length) {}
    std::size_t mostHeld = 0;

  protected:
    int_type underflow() override {
        mostHeld = std::max(mostHeld, held.load());
        if (left_ > 0) {
            const std::size_t n = std::min(left_, piece_.size());
            std::fill_n(piece_.begin(), n, 'x');
            left_ -= n;
            setg(piece_.data(), piece_.data(), piece_.data() + n);
        } else if (!tailDone_) {
            tailDone_ = true;
            setg(tail_, tail_, tail_ + 6);
        } else {
            return traits_type::eof();
        }
        return traits_type::to_int_type(*gptr());
    }

  private:
    std::size_t left_;
    std::array<char, 8192> piece_{};
    char tail_[7] = "\nnext\n";
    bool tailDone_ = false;
};

TEST(LineReader, DropsWhatIsPastTheLimitInsteadOfHoldingIt) {
    constexpr std::size_t limit = 1 << 20;
    EndlessLine source(std::size_t{256} << 20);
    std::istream in(&source);
    LineReader reader(in, limit);
    const std::size_t before = held;

    const auto line = reader.next();
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->tooLong);
    EXPECT_EQ(line->text, "");
    EXPECT_LT(source.mostHeld - before, 4 * limit) << "a 256 MB line was kept";
    const auto next = reader.next();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->text, "next");
    EXPECT_FALSE(reader.next());
}

} // namespace
