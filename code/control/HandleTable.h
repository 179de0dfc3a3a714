#pragma once
// Numbers the objects a platform layer hands to the control, whose handles are 32-bit: a 64-bit HINTERNET or
// HKEY is never cut down, the control holds only the number.
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "control/Platform.h"

namespace kadroo {

template <typename Value>
class HandleTable {
 public:
  // Numbers from `first`, `step` apart and below `limit`, starting again at `first` after the last; a number in
  // use is never given twice.
  explicit HandleTable(Handle first = 1, Handle step = 1, Handle limit = INT32_MAX)
      : first_(first), step_(step), limit_(limit), next_(first) {}

  // Takes `value` and returns its number.
  Handle Add(Value value) {
    while (entries_.count(next_) != 0) Advance();
    const Handle number = next_;
    entries_.emplace(number, std::move(value));
    Advance();
    return number;
  }
  // Null when `number` is not in the table.
  Value* Find(Handle number) {
    auto it = entries_.find(number);
    return it == entries_.end() ? nullptr : &it->second;
  }
  // Whether `number` was in the table.
  bool Remove(Handle number) { return entries_.erase(number) > 0; }
  // The numbers of the entries `match` takes, in ascending order.
  template <typename Match>
  std::vector<Handle> Select(Match&& match) const {
    std::vector<Handle> numbers;
    for (const auto& [number, value] : entries_) {
      if (match(value)) numbers.push_back(number);
    }
    return numbers;
  }

 private:
  void Advance() { next_ = next_ >= limit_ - step_ ? first_ : next_ + step_; }

  Handle first_, step_, limit_;
  Handle next_;
  std::map<Handle, Value> entries_;
};

}  // namespace kadroo
