#pragma once

#include "desktop/Clipboard.h"

#include <memory>

// The CLIPBOARD selection through Qt, with an eye on the X server's selection requests so a
// paste's fetch of our text is seen. Needs a QGuiApplication on the xcb platform; main thread
// only.
class X11Clipboard : public Clipboard {
  public:
    // How long another owner gets to answer before its contents count as unreadable.
    static constexpr int ownerAnswerMs = 300;

    X11Clipboard();
    ~X11Clipboard() override;

    bool isAvailable() const override;
    std::optional<ClipboardContents> snapshot() override;
    std::uint64_t writeText(const std::string& text, std::uint64_t target) override;
    bool holds(std::uint64_t write) const override;
    bool wasFetched(std::uint64_t write) const override;
    void setFetchedHandler(std::function<void(std::uint64_t write)> handler) override;
    void restore(const ClipboardContents& contents) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
