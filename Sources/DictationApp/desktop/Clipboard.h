#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Everything the clipboard held: each data type with its bytes.
struct ClipboardContents {
    std::vector<std::pair<std::string, std::string>> formats;

    bool empty() const { return formats.empty(); }
    bool operator==(const ClipboardContents&) const = default;
};

// The desktop's clipboard as a paste uses it.
class Clipboard {
  public:
    // The hint that clipboard histories honour and leave out of their records.
    static constexpr const char* concealedType = "x-kde-passwordManagerHint";
    static constexpr const char* concealedValue = "secret";

    virtual ~Clipboard() = default;

    virtual bool isAvailable() const = 0;
    // The current contents; nothing when their owner does not answer in time.
    virtual std::optional<ClipboardContents> snapshot() = 0;
    // Puts `text` and the concealed hint on the clipboard for a paste into `target` (a
    // window of the paste target; 0 when not known); returns this write's number.
    virtual std::uint64_t writeText(const std::string& text, std::uint64_t target) = 0;
    // Whether that write is still what the clipboard holds (nobody replaced it).
    virtual bool holds(std::uint64_t write) const = 0;
    // Whether the target (any program when it was not known) has fetched that write's data;
    // other readers, such as clipboard histories, do not count.
    virtual bool wasFetched(std::uint64_t write) const = 0;
    // Called on the main thread once the target has been served a write's data.
    virtual void setFetchedHandler(std::function<void(std::uint64_t write)> handler) = 0;
    // Puts `contents` back; empty contents leave the clipboard empty.
    virtual void restore(const ClipboardContents& contents) = 0;
};
