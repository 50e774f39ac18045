#pragma once

#include "ManualScheduler.h"
#include "desktop/Clipboard.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

// The clipboard and the program pasting from it, on the test's time.
class FakeClipboard final : public Clipboard {
  public:
    explicit FakeClipboard(const ManualScheduler& clock) : clock_(clock) {}

    bool available = true;
    std::optional<ClipboardContents> contents = ClipboardContents{{{"text/plain", "user's"}}};
    bool answers = true;
    std::uint64_t owner = 0; // our write number while we own it, 0 when someone else does
    std::uint64_t lastTarget = 0;
    std::set<std::uint64_t> fetchedWrites;
    std::vector<std::pair<double, ClipboardContents>> restores;
    std::function<void(std::uint64_t)> handler;
    std::uint64_t writes = 0;

    bool isAvailable() const override { return available; }
    std::optional<ClipboardContents> snapshot() override {
        return answers ? contents : std::nullopt;
    }
    std::uint64_t writeText(const std::string& text, std::uint64_t target) override {
        contents = ClipboardContents{{{"text/plain", text}, {concealedType, concealedValue}}};
        lastTarget = target;
        owner = ++writes;
        return owner;
    }
    bool holds(std::uint64_t write) const override { return owner == write; }
    bool wasFetched(std::uint64_t write) const override { return fetchedWrites.contains(write); }
    void setFetchedHandler(std::function<void(std::uint64_t)> h) override {
        handler = std::move(h);
    }
    void restore(const ClipboardContents& c) override {
        restores.emplace_back(clock_.now, c);
        contents = c;
        owner = 0;
    }

    // The paste target fetched the latest write.
    void fetch() {
        fetchedWrites.insert(writes);
        handler(writes);
    }
    // Another program took the clipboard.
    void copyElsewhere(const std::string& text) {
        contents = ClipboardContents{{{"text/plain", text}}};
        owner = 0;
    }

  private:
    const ManualScheduler& clock_;
};
