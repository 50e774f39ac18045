#include "HotKey.h"
#include "Options.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

using Kind = Options::ParseError::Kind;

Options parse(std::vector<std::string> arguments, HotKey key = HotKey::rightOption) {
    return Options::parse(arguments, key);
}

struct Accepted {
    std::vector<std::string> arguments;
    Options expected;
};

TEST(Options, AcceptsEveryOptionAndKeepsTheLastOfRepeats) {
    const std::vector<Accepted> rows = {
        {{}, {true, "en", false, HotKey::rightOption}},
        {{"--raw"}, {false, "en", false, HotKey::rightOption}},
        {{"--raw", "--raw"}, {false, "en", false, HotKey::rightOption}},
        {{"--lang", "es"}, {true, "es", false, HotKey::rightOption}},
        {{"--lang", "es", "--lang", "auto"}, {true, "auto", false, HotKey::rightOption}},
        {{"--lang", "x y z"}, {true, "x y z", false, HotKey::rightOption}},
        {{"--key", "fn"}, {true, "en", false, HotKey::fn}},
        {{"--key", "right-command", "--key", "right-control"},
         {true, "en", false, HotKey::rightControl}},
        {{"-h"}, {true, "en", true, HotKey::rightOption}},
        {{"--help", "--raw", "--lang", "de"}, {false, "de", true, HotKey::rightOption}},
    };
    for (const auto& row : rows) {
        std::ostringstream name;
        for (const auto& a : row.arguments) {
            name << a << ' ';
        }
        EXPECT_EQ(parse(row.arguments), row.expected) << name.str();
    }
}

TEST(Options, NoArgumentsGiveTheDefaultKeyHandedIn) {
    EXPECT_EQ(parse({}, HotKey::fn).key, HotKey::fn);
}

struct Rejected {
    std::vector<std::string> arguments;
    Kind kind;
    std::string message;
};

TEST(Options, RejectsBadArgumentsWithTheirTexts) {
    const std::string keys = "fn, right-option, right-command or right-control";
    const std::vector<Rejected> rows = {
        {{"--lang"}, Kind::missingValue, "--lang expects a value after it"},
        {{"--lang", "-x"}, Kind::missingValue, "--lang expects a value after it"},
        {{"--lang", "--raw"}, Kind::missingValue, "--lang expects a value after it"},
        {{"--key"}, Kind::missingValue, "--key expects a value after it"},
        {{"--key", "--help"}, Kind::missingValue, "--key expects a value after it"},
        {{"--key", "Right-Option"},
         Kind::unknownKey,
         "Right-Option is not a key this app can use; pick one of " + keys},
        {{"--key", "left-option"},
         Kind::unknownKey,
         "left-option is not a key this app can use; pick one of " + keys},
        {{"--verbose"}, Kind::unknownFlag, "--verbose is not a recognised option"},
        {{"--help", "--bogus"}, Kind::unknownFlag, "--bogus is not a recognised option"},
        {{"es"}, Kind::unknownFlag, "es is not a recognised option"},
        {{""}, Kind::unknownFlag, " is not a recognised option"},
        // Parsing stops at the first error, even when a later one would also fail.
        {{"--nope", "--lang"}, Kind::unknownFlag, "--nope is not a recognised option"},
    };
    for (const auto& row : rows) {
        try {
            parse(row.arguments);
            ADD_FAILURE() << "accepted " << row.arguments.front();
        } catch (const Options::ParseError& error) {
            EXPECT_EQ(error.kind(), row.kind) << row.message;
            EXPECT_EQ(error.description(), row.message);
        }
    }
}

TEST(Options, UsageIsNineLinesWithAlignedDescriptions) {
    const std::string& usage = Options::usage();
    std::vector<std::string> lines;
    std::istringstream in(usage);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_NE(usage.back(), '\n');
    EXPECT_EQ(lines[0], "Press and hold the record key, speak, then release: the words are typed "
                        "into whatever field has focus.");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "Usage: ./build/release/parlwick [--raw] [--lang <code>] [--key <name>]");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[6], "  --key <name>   Record key: fn, right-option, right-command or "
                        "right-control");
    EXPECT_EQ(lines[8], "  -h, --help     Print this text and quit");
    for (std::size_t i : {4u, 5u, 6u, 8u}) {
        EXPECT_EQ(lines[i].substr(0, 2), "  ") << lines[i];
        EXPECT_NE(lines[i][17], ' ') << "description must start in column 18: " << lines[i];
        EXPECT_EQ(lines[i][16], ' ') << lines[i];
    }
    EXPECT_EQ(lines[7].find_first_not_of(' '), 17u);
}

TEST(HotKey, RawValuesLabelsAndTheSpokenList) {
    EXPECT_EQ(HotKeys::spokenList(), "fn, right-option, right-command or right-control");
    const std::vector<std::pair<std::string, std::string>> rows = {{"fn", "fn"},
                                                                   {"right-option", "right Alt"},
                                                                   {"right-command", "right Super"},
                                                                   {"right-control", "right Ctrl"}};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const HotKey key = HotKeys::allCases[i];
        EXPECT_EQ(HotKeys::rawValue(key), rows[i].first);
        EXPECT_EQ(HotKeys::label(key), rows[i].second);
        EXPECT_EQ(HotKeys::fromRawValue(rows[i].first), key);
    }
    EXPECT_EQ(HotKeys::fromRawValue("FN"), std::nullopt);
    EXPECT_EQ(HotKeys::fromRawValue("right option"), std::nullopt);
}

} // namespace
