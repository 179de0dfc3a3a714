#pragma once
// Numbers the control's 32-bit handles for platform objects that may be pointer-sized: a 64-bit HINTERNET or
// HKEY is never cut down to 32 bits, the control holds only the number.
#include <cstdint>
#include <map>
#include <utility>

#include "control/Platform.h"

namespace kadroo::windows {

template <typename Value>
class HandleTable {
 public:
  // Takes `value` and returns its number, above 0 and below `limit` (a number in use is never given twice).
  explicit HandleTable(Handle limit = INT32_MAX) : limit_(limit) {}

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
  void Remove(Handle number) { entries_.erase(number); }
  std::map<Handle, Value>& entries() { return entries_; }

 private:
  void Advance() { next_ = next_ >= limit_ - 1 ? 1 : next_ + 1; }

  Handle limit_;
  Handle next_ = 1;
  std::map<Handle, Value> entries_;
};

}  // namespace kadroo::windows
