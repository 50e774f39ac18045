#pragma once

#include <stdexcept>
#include <string>

// The application's own failures: audio problems and everything about child processes.
class AppError : public std::runtime_error {
  public:
    enum class Kind { audio, process };

    static AppError audio(std::string text) { return AppError(Kind::audio, std::move(text)); }
    static AppError process(std::string text) { return AppError(Kind::process, std::move(text)); }

    Kind kind() const { return kind_; }
    const std::string& text() const { return text_; }
    // "audio: ..." or "process: ..."; the same as what().
    std::string description() const { return what(); }

  private:
    AppError(Kind kind, std::string text)
        : std::runtime_error(std::string(kind == Kind::audio ? "audio" : "process") + ": " + text),
          kind_(kind), text_(std::move(text)) {}

    Kind kind_;
    std::string text_;
};
