#include "TestModels.h"

#include "ProcessRunner.h"

#include <stdexcept>
#include <vector>

namespace TestModels {

namespace {

std::string lastLineOf(std::string text) {
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text.substr(text.find_last_of('\n') + 1); // npos + 1 is the start
}

} // namespace

void quantizeWhisper(const std::filesystem::path& tool, const std::filesystem::path& input,
                     const std::filesystem::path& output, const std::string& type) {
    const auto result = runProcess({tool.string(), input.string(), output.string(), type},
                                   {{"GGML_NO_BACKTRACE", "1"}});
    if (result.status != 0) {
        std::error_code ignored;
        std::filesystem::remove(output, ignored);
        const auto reason = lastLineOf(result.err);
        throw std::runtime_error(tool.filename().string() + " exited with status " +
                                 std::to_string(result.status) +
                                 (reason.empty() ? "" : ": " + reason));
    }
    std::filesystem::remove(input);
}

} // namespace TestModels
