#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kra::device::stubs {

/// The text of recently written doubles, so that a value seen again is a copy
/// instead of another run of the shortest-digits search.
///
/// A converter delivers a few thousand distinct codes over and over, each
/// scaled to the same double every time, so a stream's values repeat. The
/// table is direct-mapped on a hash of the value's bit pattern; a slot keeps
/// the bits and the text, and a newcomer simply replaces what was there. It
/// is sized to stay in the second-level cache. Non-finite values are never
/// kept (the frame writes them as "null" itself), and neither is a text
/// longer than a slot holds; both always go through the formatter.
///
/// Not thread-safe: one per stream, used by the thread that writes its frames.
class NumberTextCache {
public:
    /// Slots in the table; a power of two.
    static constexpr std::size_t kSlots = 16384;
    /// The longest text a slot keeps. Only a sign, 17 digits and a
    /// three-digit negative exponent together reach 24.
    static constexpr std::size_t kMaxText = 23;
    /// Writable bytes `write` needs at `first`, whatever the value.
    static constexpr std::size_t kRoom = kMaxText + 1;

    NumberTextCache() : slots_(kSlots) {}

    /// Writes the text of `value` at `first` and returns its end. On a miss
    /// `format(first, value)` writes it, and the slot learns the result.
    /// `format` must always give the same text for the same bits.
    template <typename Format>
    char* write(char* first, double value, Format&& format) {
        const auto bits = std::bit_cast<std::uint64_t>(value);
        if ((bits & kExponentBits) == kExponentBits) {
            return format(first, value);  // NaN or infinity: never kept
        }
        Slot& slot = slots_[slotOf(bits)];
        if (slot.bits == bits) {
            std::memcpy(first, slot.text, kMaxText);
            return first + slot.length;
        }
        char* const last = format(first, value);
        const auto length = static_cast<std::size_t>(last - first);
        if (length <= kMaxText) {
            slot.bits = bits;
            slot.length = static_cast<std::uint8_t>(length);
            std::memcpy(slot.text, first, length);
        }
        return last;
    }

private:
    static constexpr std::uint64_t kExponentBits = 0x7ff0'0000'0000'0000;
    /// A NaN pattern: no lookup reaches a slot with it, since non-finite
    /// values return before the table is consulted.
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
    static constexpr int kSlotBits = std::countr_zero(kSlots);
    static_assert(std::has_single_bit(kSlots));

    /// One slot fills half a cache line, so a lookup touches one line.
    struct alignas(32) Slot {
        std::uint64_t bits = kEmpty;
        char text[kMaxText] = {};
        std::uint8_t length = 0;
    };
    static_assert(sizeof(Slot) == 32);

    /// Fibonacci hashing: the top bits of the product depend on every bit of
    /// the value, so neighbouring codes, which differ only far down in the
    /// mantissa, still land in different slots.
    static std::size_t slotOf(std::uint64_t bits) {
        return static_cast<std::size_t>((bits * 0x9e37'79b9'7f4a'7c15) >> (64 - kSlotBits));
    }

    std::vector<Slot> slots_;
};

}  // namespace kra::device::stubs
