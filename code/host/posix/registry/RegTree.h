#pragma once
// The registry as the merged registry files describe it: six root keys, their sub-keys and values.
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/posix/registry/RegFile.h"

namespace kadroo::posix {

struct RegValue {
  Text name;  // empty for the default value
  uint32_t type = 0;
  std::string data;  // as RegStatement::data
};

class RegNode {
 public:
  explicit RegNode(Text name) : name_(std::move(name)) {}
  const Text& name() const { return name_; }
  // Names compare without regard to letter case, as Windows compares them.
  const RegNode* Child(TextView name) const;
  RegNode* Child(TextView name);
  RegNode& ChildOrNew(TextView name);
  void RemoveChild(TextView name);
  // Values in the order they were first set; setting an existing value keeps its place.
  const std::vector<RegValue>& values() const { return values_; }
  const RegValue* Value(TextView name) const;
  void SetValue(RegValue value);
  void RemoveValue(TextView name);
  // Set on the keys of a file that could not be read: such a key cannot be opened, nor any key below it.
  bool unreadable() const { return unreadable_; }
  void MarkUnreadable() { unreadable_ = true; }

 private:
  Text name_;
  std::map<Text, std::unique_ptr<RegNode>> children_;  // by upper-case name
  std::vector<RegValue> values_;
  std::unordered_map<Text, size_t> valueIndex_;  // upper-case name -> position in values_
  bool unreadable_ = false;
};

class RegTree {
 public:
  RegTree();
  // Applies a file's statements in order; a file with an error marks the keys it names unreadable instead.
  void Apply(const RegFileContent& content);
  // The node of a predefined root key; null for any other handle value.
  const RegNode* Root(RegKey key) const;

 private:
  RegNode* MutableRoot(RegKey key);
  std::map<RegKey, std::unique_ptr<RegNode>> roots_;
};

}  // namespace kadroo::posix
