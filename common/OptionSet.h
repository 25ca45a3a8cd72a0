#pragma once
// Option sets over enum classes, as the archive component and the grids use them.

#include <cstdint>
#include <initializer_list>
#include <type_traits>

// A set over a small enum class, one bit per enumerator ordinal.
template <typename E>
class OptionSet {
  static_assert(std::is_enum_v<E>);

 public:
  constexpr OptionSet() = default;
  constexpr OptionSet(std::initializer_list<E> values) {
    for (E v : values) bits_ |= Bit(v);
  }
  constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  constexpr OptionSet& Include(E v) { bits_ |= Bit(v); return *this; }
  constexpr OptionSet& Exclude(E v) { bits_ &= ~Bit(v); return *this; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint32_t Bits() const { return bits_; }
  static constexpr OptionSet FromBits(uint32_t bits) { OptionSet s; s.bits_ = bits; return s; }
  constexpr bool operator==(const OptionSet&) const = default;

 private:
  static constexpr uint32_t Bit(E v) { return uint32_t{1} << static_cast<unsigned>(v); }
  uint32_t bits_ = 0;
};
