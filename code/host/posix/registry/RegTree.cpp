#include "host/posix/registry/RegTree.h"

namespace kadroo::posix {

const RegNode* RegNode::Child(TextView name) const {
  auto it = children_.find(ToUpper(name));
  return it == children_.end() ? nullptr : it->second.get();
}

RegNode* RegNode::Child(TextView name) {
  auto it = children_.find(ToUpper(name));
  return it == children_.end() ? nullptr : it->second.get();
}

RegNode& RegNode::ChildOrNew(TextView name) {
  auto& child = children_[ToUpper(name)];
  if (!child) child = std::make_unique<RegNode>(Text(name));
  return *child;
}

void RegNode::RemoveChild(TextView name) { children_.erase(ToUpper(name)); }

const RegValue* RegNode::Value(TextView name) const {
  auto it = valueIndex_.find(ToUpper(name));
  return it == valueIndex_.end() ? nullptr : &values_[it->second];
}

void RegNode::SetValue(RegValue value) {
  auto [it, added] = valueIndex_.try_emplace(ToUpper(value.name), values_.size());
  if (added) {
    values_.push_back(std::move(value));
  } else {
    values_[it->second].type = value.type;
    values_[it->second].data = std::move(value.data);
  }
}

void RegNode::RemoveValue(TextView name) {
  auto it = valueIndex_.find(ToUpper(name));
  if (it == valueIndex_.end()) return;
  const size_t position = it->second;
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(position));
  valueIndex_.erase(it);
  for (auto& [key, index] : valueIndex_) {
    if (index > position) --index;
  }
}

RegTree::RegTree() {
  for (RegKey key : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG,
                     HKEY_DYN_DATA}) {
    roots_[key] = std::make_unique<RegNode>(Text());
  }
}

const RegNode* RegTree::Root(RegKey key) const {
  auto it = roots_.find(key);
  return it == roots_.end() ? nullptr : it->second.get();
}

RegNode* RegTree::MutableRoot(RegKey key) {
  auto it = roots_.find(key);
  return it == roots_.end() ? nullptr : it->second.get();
}

void RegTree::Apply(const RegFileContent& content) {
  if (content.error) {
    for (const auto& path : content.namedKeys) {
      RegNode* node = MutableRoot(path.root);
      if (node == nullptr) continue;
      for (const auto& name : path.names) node = &node->ChildOrNew(name);
      node->MarkUnreadable();
    }
    return;
  }
  RegNode* current = nullptr;
  for (const auto& statement : content.statements) {
    switch (statement.kind) {
      case RegStatement::Kind::kOpenKey: {
        current = MutableRoot(statement.key.root);
        for (const auto& name : statement.key.names) current = &current->ChildOrNew(name);
        break;
      }
      case RegStatement::Kind::kDeleteKey: {
        current = nullptr;
        RegNode* parent = MutableRoot(statement.key.root);
        const auto& names = statement.key.names;
        for (size_t i = 0; parent != nullptr && i + 1 < names.size(); ++i) {
          parent = parent->Child(names[i]);
        }
        if (parent != nullptr) parent->RemoveChild(names.back());
        break;
      }
      case RegStatement::Kind::kSetValue:
        if (current) current->SetValue({statement.name, statement.type, statement.data});
        break;
      case RegStatement::Kind::kDeleteValue:
        if (current) current->RemoveValue(statement.name);
        break;
    }
  }
}

}  // namespace kadroo::posix
