#pragma once

#include <memory>
#include <optional>

// A text field's size and caret: a paste that arrived changes one of them.
struct FieldState {
    int length = 0;
    std::optional<int> caret;

    bool operator==(const FieldState&) const = default;
};

// The element that had keyboard focus when asked.
class FocusedElement {
  public:
    virtual ~FocusedElement() = default;
    virtual bool isSame(const FocusedElement& other) const = 0;
};

// The accessibility side of the desktop: which element has focus and what it holds.
class FocusProbe {
  public:
    virtual ~FocusProbe() = default;

    virtual bool isAvailable() const = 0;
    // Nothing when no element has focus or the desktop does not say.
    virtual std::shared_ptr<const FocusedElement> focusedElement() = 0;
    // A password field.
    virtual bool isSecure(const FocusedElement& element) = 0;
    // Nothing when the element has no readable character count (not text, or gone).
    virtual std::optional<FieldState> state(const FocusedElement& element) = 0;
};
