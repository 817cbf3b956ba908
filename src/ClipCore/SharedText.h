#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace brevalto {

// An immutable text whose bytes are shared by every copy, so copying a clip or a whole history
// costs a reference count per text, however long the texts are. It reads like a const
// std::string; assigning a new text replaces the shared bytes, never changes them in place.
class SharedText {
public:
    SharedText() : text_(emptyText()) {}
    SharedText(std::string text) : text_(std::make_shared<const std::string>(std::move(text))) {}
    SharedText(std::string_view text) : SharedText(std::string(text)) {}
    SharedText(const char* text) : SharedText(std::string(text)) {}

    const std::string& str() const { return *text_; }
    operator const std::string&() const { return *text_; }
    operator std::string_view() const { return *text_; }

    std::size_t size() const { return text_->size(); }
    bool empty() const { return text_->empty(); }
    const char* data() const { return text_->data(); }
    const char* c_str() const { return text_->c_str(); }
    std::string_view view() const { return *text_; }

    friend bool operator==(const SharedText& a, const SharedText& b) {
        return a.text_ == b.text_ || *a.text_ == *b.text_;
    }
    friend bool operator==(const SharedText& a, std::string_view b) { return a.view() == b; }
    friend bool operator==(const SharedText& a, const std::string& b) { return *a.text_ == b; }
    friend bool operator==(const SharedText& a, const char* b) { return a.view() == std::string_view(b); }
    friend std::ostream& operator<<(std::ostream& out, const SharedText& text) { return out << *text.text_; }

private:
    static const std::shared_ptr<const std::string>& emptyText() {
        static const auto text = std::make_shared<const std::string>();
        return text;
    }
    std::shared_ptr<const std::string> text_;
};

}  // namespace brevalto
