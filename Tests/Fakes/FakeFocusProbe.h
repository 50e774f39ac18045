#pragma once

#include "desktop/FocusProbe.h"

#include <map>
#include <memory>
#include <optional>
#include <set>

// Text fields by number: which one has focus, their character counts and carets, and which are
// password fields.
class FakeFocusProbe final : public FocusProbe {
  public:
    struct Element final : FocusedElement {
        explicit Element(int id) : id(id) {}
        int id;
        bool isSame(const FocusedElement& other) const override {
            const auto* element = dynamic_cast<const Element*>(&other);
            return element && element->id == id;
        }
    };

    std::optional<int> focused = 1;
    std::map<int, FieldState> fields{{1, {5, 5}}};
    std::set<int> secure;
    int queries = 0;

    bool isAvailable() const override { return true; }
    std::shared_ptr<const FocusedElement> focusedElement() override {
        ++queries;
        return focused ? std::make_shared<Element>(*focused) : nullptr;
    }
    bool isSecure(const FocusedElement& element) override {
        return secure.contains(dynamic_cast<const Element&>(element).id);
    }
    std::optional<FieldState> state(const FocusedElement& element) override {
        const auto found = fields.find(dynamic_cast<const Element&>(element).id);
        return found == fields.end() ? std::nullopt : std::optional(found->second);
    }
};
