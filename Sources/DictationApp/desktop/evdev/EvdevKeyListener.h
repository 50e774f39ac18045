#pragma once

#include "desktop/KeyListener.h"

#include <filesystem>
#include <memory>
#include <string>

// Every key press and release and every left click, read from the kernel's input devices
// (/dev/input/event*) under any compositor. Reads without grabbing, so every other program
// still gets the keys; follows keyboards and mice as they come and go. Opt-in: it needs read
// access to the devices, which lets a program see everything typed. Main thread only.
class EvdevKeyListener : public KeyListener {
  public:
    // `folder` holds the event devices; tests point it elsewhere.
    explicit EvdevKeyListener(std::filesystem::path folder = "/dev/input");
    ~EvdevKeyListener() override;

    // Available while at least one keyboard could be opened when the listener was made.
    bool isAvailable() const override;
    std::string unavailableReason() const override;
    void start(std::function<void(const KeyEvent&)> sink) override;

    // How many devices are being read now.
    std::size_t deviceCount() const;

    // For the user: how to grant read access to the keyboards, and what that allows.
    static std::string accessHelp();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
