#pragma once
// The profile table, its selected index and the current profile: the state that
// the configuration file stores and the parameters window edits.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/tecajnica.h"

namespace ratemover {

inline constexpr std::int32_t kProfileSlots = 3000;

struct SeznamTecajnic {
  std::int32_t count = 0;     // slots 1 to count are in use
  std::int32_t selected = 0;  // 1-based; may name no entry

  // Slots 1 to kProfileSlots; any other number throws std::out_of_range.
  // The capacity never grows. A slot never written holds an empty profile:
  // slots are made when first written, so a program that reads a short list
  // does not build all 3000 of them.
  Tecajnica& Slot(std::int32_t number) {
    const std::size_t index = IndexOf(number);
    if (index >= slots_.size()) slots_.resize(index + 1);
    return slots_[index];
  }
  const Tecajnica& Slot(std::int32_t number) const {
    static const Tecajnica kEmpty{};
    const std::size_t index = IndexOf(number);
    return index < slots_.size() ? slots_[index] : kEmpty;
  }
  // Whether every slot holds the same profile as in the other table.
  bool SameSlots(const SeznamTecajnic& other) const {
    for (std::int32_t n = 1; n <= kProfileSlots; ++n) {
      if (!(Slot(n) == other.Slot(n))) return false;
    }
    return true;
  }
  bool SelectsEntry() const { return selected >= 1 && selected <= count; }

 private:
  static std::size_t IndexOf(std::int32_t number) {
    if (number < 1 || number > kProfileSlots) throw std::out_of_range("profile slot " + std::to_string(number));
    return static_cast<std::size_t>(number - 1);
  }
  std::vector<Tecajnica> slots_;
};

struct ProfileState {
  SeznamTecajnic table;
  Tecajnica current = ProfileAtProgramStart();
};

}  // namespace ratemover
