#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

namespace ni_usb_daq::host {

/// A cursor over compact JSON as the plug-in writes it (no white space, keys
/// and texts without escapes), which both frame readers walk. Every step
/// checks the end; a step that fails leaves the cursor where it was or
/// somewhere inside the value, and the walk is over.
class JsonCursor {
public:
    explicit JsonCursor(std::string_view text)
        : position_(text.data()), end_(text.data() + text.size()) {}

    const char* position() const { return position_; }
    void seek(const char* position) { position_ = position; }
    bool atEnd() const { return position_ == end_; }

    bool take(char c) {
        if (position_ == end_ || *position_ != c) {
            return false;
        }
        ++position_;
        return true;
    }

    bool take(std::string_view word) {
        if (static_cast<std::size_t>(end_ - position_) < word.size() ||
            std::memcmp(position_, word.data(), word.size()) != 0) {
            return false;
        }
        position_ += word.size();
        return true;
    }

    /// `"text"`, without escapes.
    bool text(std::string_view& value) {
        if (!take('"')) {
            return false;
        }
        const void* close = std::memchr(position_, '"', static_cast<std::size_t>(end_ - position_));
        if (close == nullptr) {
            return false;
        }
        const char* const last = static_cast<const char*>(close);
        value = std::string_view(position_, static_cast<std::size_t>(last - position_));
        position_ = last + 1;
        return value.find('\\') == std::string_view::npos;
    }

    /// `"name":`, a member's key.
    bool key(std::string_view& name) { return text(name) && take(':'); }

    /// A whole number in range of `Integer`.
    template <typename Integer>
    bool integer(Integer& value) {
        if (position_ == end_ || (*position_ != '-' && !digit(*position_))) {
            return false;
        }
        const auto [next, error] = std::from_chars(position_, end_, value);
        if (error != std::errc{} ||
            (next != end_ && (*next == '.' || *next == 'e' || *next == 'E'))) {
            return false;
        }
        position_ = next;
        return true;
    }

    /// A JSON number, or null (NaN).
    bool number(double& value) {
        if (take(std::string_view("null"))) {
            value = std::numeric_limits<double>::quiet_NaN();
            return true;
        }
        // from_chars also takes "inf", "nan" and ".5", which JSON does not.
        const char* const first = position_ + (position_ != end_ && *position_ == '-');
        if (first == end_ || !digit(*first)) {
            return false;
        }
        const auto [next, error] = std::from_chars(position_, end_, value);
        if (error != std::errc{}) {
            return false;
        }
        position_ = next;
        return true;
    }

    /// Past a JSON number or null, checking its form without converting it.
    bool skipNumber() {
        if (take(std::string_view("null"))) {
            return true;
        }
        take('-');
        if (!take('0') && !digits()) {
            return false;
        }
        if (take('.') && !digits()) {
            return false;
        }
        if (take('e') || take('E')) {
            if (!take('+')) {
                take('-');
            }
            return digits();
        }
        return true;
    }

    bool boolean(bool& value) {
        if (take(std::string_view("true"))) {
            value = true;
            return true;
        }
        value = false;
        return take(std::string_view("false"));
    }

    /// Past any one JSON value: for members a reader does not know, and to
    /// step over a value that could not be read as what it should be.
    bool skipValue() {
        if (position_ == end_) {
            return false;
        }
        switch (*position_) {
            case '"': {
                std::string_view ignored;
                return text(ignored);
            }
            case '[':
                return skipContainer('[', ']', false);
            case '{':
                return skipContainer('{', '}', true);
            case 't':
                return take(std::string_view("true"));
            case 'f':
                return take(std::string_view("false"));
            default:
                return skipNumber();
        }
    }

    /// Past a bracketed value whatever it holds, to its matching bracket
    /// (brackets inside texts do not count): to step over a value that
    /// could not be read, and go on to the members after it.
    bool skipBracketed() {
        if (position_ == end_ || (*position_ != '[' && *position_ != '{')) {
            return skipValue();
        }
        std::size_t depth = 0;
        bool inText = false;
        for (; position_ != end_; ++position_) {
            const char c = *position_;
            if (inText) {
                inText = c != '"';
            } else if (c == '"') {
                inText = true;
            } else if (c == '[' || c == '{') {
                ++depth;
            } else if ((c == ']' || c == '}') && --depth == 0) {
                ++position_;
                return true;
            }
        }
        return false;
    }

private:
    static bool digit(char c) { return c >= '0' && c <= '9'; }

    bool digits() {
        const char* const first = position_;
        while (position_ != end_ && digit(*position_)) {
            ++position_;
        }
        return position_ != first;
    }

    bool skipContainer(char open, char close, bool keyed) {
        take(open);
        if (take(close)) {
            return true;
        }
        do {
            std::string_view name;
            if ((keyed && !key(name)) || !skipValue()) {
                return false;
            }
        } while (take(','));
        return take(close);
    }

    const char* position_;
    const char* end_;
};

/// Walks a whole text that is one JSON object: `member(name)` is called with
/// the cursor at each member's value and must step past it. False when the
/// text is not such an object or a member says so.
template <typename Member>
bool forEachMember(JsonCursor& cursor, Member&& member) {
    if (!cursor.take('{')) {
        return false;
    }
    if (!cursor.take('}')) {
        do {
            std::string_view name;
            if (!cursor.key(name) || !member(name)) {
                return false;
            }
        } while (cursor.take(','));
        if (!cursor.take('}')) {
            return false;
        }
    }
    return cursor.atEnd();
}

}  // namespace ni_usb_daq::host
