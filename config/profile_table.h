#pragma once
// The profile table, its selected index and the current profile: the state that
// the configuration file stores and the parameters window edits.
#include <cstdint>
#include <vector>

#include "common/tecajnica.h"

namespace ratemover {

inline constexpr std::int32_t kProfileSlots = 3000;

struct SeznamTecajnic {
  // Slots 1 to kProfileSlots; slot n is slots[n - 1]. The capacity never grows.
  std::vector<Tecajnica> slots = std::vector<Tecajnica>(kProfileSlots);
  std::int32_t count = 0;     // slots 1 to count are in use
  std::int32_t selected = 0;  // 1-based; may name no entry

  Tecajnica& Slot(std::int32_t number) { return slots.at(static_cast<std::size_t>(number - 1)); }
  const Tecajnica& Slot(std::int32_t number) const { return slots.at(static_cast<std::size_t>(number - 1)); }
  bool SelectsEntry() const { return selected >= 1 && selected <= count; }
};

struct ProfileState {
  SeznamTecajnic table;
  Tecajnica current = ProfileAtProgramStart();
};

}  // namespace ratemover
