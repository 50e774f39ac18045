#include "Options.h"

namespace {

std::string describe(Options::ParseError::Kind kind, const std::string& argument) {
    switch (kind) {
    case Options::ParseError::Kind::missingValue:
        return argument + " expects a value after it";
    case Options::ParseError::Kind::unknownFlag:
        return argument + " is not a recognised option";
    case Options::ParseError::Kind::unknownKey:
        return argument + " is not a key this app can use; pick one of " + HotKeys::spokenList();
    }
    return argument;
}

} // namespace

Options::ParseError::ParseError(Kind kind, std::string argument)
    : std::runtime_error(describe(kind, argument)), kind_(kind), argument_(std::move(argument)) {}

Options Options::parse(const std::vector<std::string>& arguments, HotKey defaultKey) {
    Options options;
    options.key = defaultKey;

    auto valueAfter = [&](std::size_t& i) -> const std::string& {
        const std::string& option = arguments[i];
        if (i + 1 >= arguments.size() || arguments[i + 1].starts_with("-")) {
            throw ParseError(ParseError::Kind::missingValue, option);
        }
        return arguments[++i];
    };

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--raw") {
            options.cleanup = false;
        } else if (argument == "--lang") {
            options.language = valueAfter(i);
        } else if (argument == "--key") {
            const std::string& value = valueAfter(i);
            auto key = HotKeys::fromRawValue(value);
            if (!key) {
                throw ParseError(ParseError::Kind::unknownKey, value);
            }
            options.key = *key;
        } else if (argument == "-h" || argument == "--help") {
            options.showHelp = true;
        } else {
            throw ParseError(ParseError::Kind::unknownFlag, argument);
        }
    }
    return options;
}

const std::string& Options::usage() {
    static const std::string text =
        "Press and hold the record key, speak, then release: the words are typed into whatever "
        "field has focus.\n"
        "\n"
        "Usage: ./build/release/parlwick [--raw] [--lang <code>] [--key <name>]\n"
        "\n"
        "  --raw          Paste whisper's text untouched (no cleanup pass)\n"
        "  --lang <code>  Language you speak: en, es, auto, ... (en if omitted)\n"
        "  --key <name>   Record key: " +
        HotKeys::spokenList() +
        "\n"
        "                 (right-option if omitted)\n"
        "  -h, --help     Print this text and quit";
    return text;
}
