#include "line/port_table.h"

namespace tarvex::line {
namespace {

// A handle is the generation above the slot's index above the tag bits.
// Generations start at 1, so no handle is below 4 * kSlots (no small
// descriptor number is ever valid), and the last one stops short of the
// all-ones failed open.
constexpr unsigned kTagBits = 2;
constexpr std::uint32_t kTag = 0x3;
constexpr unsigned kIndexBits = 10;
static_assert(PortTable::kSlots == std::size_t{1} << kIndexBits);
constexpr std::uint32_t kLastGeneration = (0xFFFFFFFFu >> (kIndexBits + kTagBits)) - 1;

}  // namespace

PortTable& PortTable::instance() {
  static PortTable table;
  return table;
}

PortTable::PortTable() {
  for (std::size_t i = 0; i < kSlots; ++i) free_[i] = i;
}

bool PortTable::names_slot(Handle handle) {
  return (handle & kTag) == kTag && handle != kInvalidHandle;
}

std::size_t PortTable::index_of(Handle handle) {
  return (handle >> kTagBits) & ((1u << kIndexBits) - 1);
}

PortTable::Slot* PortTable::find(Handle handle) {
  if (!names_slot(handle) || (handle >> (kIndexBits + kTagBits)) == 0) return nullptr;
  return &slots_[index_of(handle)];
}

std::optional<std::size_t> PortTable::reserve() {
  const std::lock_guard lock(free_lock_);
  if (free_count_ == 0) return std::nullopt;
  const std::size_t slot = free_[free_head_];
  free_head_ = (free_head_ + 1) % kSlots;
  --free_count_;
  return slot;
}

void PortTable::give_back(std::size_t slot) {
  const std::lock_guard lock(free_lock_);
  free_[(free_head_ + free_count_) % kSlots] = slot;
  ++free_count_;
}

Handle PortTable::publish(std::size_t index, OpenDevice&& device) {
  Slot& slot = slots_[index];
  const std::lock_guard lock(slot.lock);
  slot.generation = slot.generation >= kLastGeneration ? 1 : slot.generation + 1;
  slot.handle = (slot.generation << (kIndexBits + kTagBits)) |
                (static_cast<std::uint32_t>(index) << kTagBits) | kTag;
  slot.device.emplace(std::move(device));
  return slot.handle;
}

}  // namespace tarvex::line
