#include "TimingLog.h"

#include "Files.h"
#include "Text.h"

namespace {

std::string quoted(const std::string& field) {
    std::string text = "\"";
    for (char c : field) {
        text += c;
        if (c == '"') {
            text += '"';
        }
    }
    return text + "\"";
}

} // namespace

const std::string& TimingRecord::csvHeader() {
    static const std::string header = "timestamp,audio_s,words,asr_ms,llm_ms,total_ms,app";
    return header;
}

std::string TimingRecord::csvRow() const {
    return Dates::iso8601(date) + "," + Text::fixed(audioSeconds, 2) + "," + std::to_string(words) +
           "," + std::to_string(asrMs) + "," + std::to_string(llmMs) + "," +
           std::to_string(totalMs) + "," + quoted(app);
}

void TimingLog::append(const TimingRecord& record) const {
    // Mode 0600: the rows name the apps the user dictated into. The header goes in under the
    // same lock as the first row, so two writers never both write it.
    Files::appendLine(url, record.csvRow(), 0600, TimingRecord::csvHeader());
}
