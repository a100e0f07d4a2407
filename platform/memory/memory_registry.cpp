#include "platform/memory/memory_registry.h"

#include <utility>

#include "platform/cp932.h"

namespace kdr {
namespace {

class MemoryKey : public RegistryKey {
 public:
  MemoryKey(MemoryRegistry::Node* node, uint32_t access, const MemoryRegistry::Limits* limits)
      : node_(node), access_(access), limits_(limits) {}

  [[nodiscard]] Status QueryValue(std::string_view name, uint32_t* type,
                                  std::string* data) override {
    if (!(access_ & kKeyQueryValue)) return kAccessDenied;
    const MemoryRegistry::Value* value = node_->FindValue(name);
    if (!value) return kNotFound;
    *type = value->type;
    *data = value->data;
    return kOk;
  }

  [[nodiscard]] Status EnumKey(uint32_t index, std::string* name) override {
    if (!(access_ & kKeyEnumerateSubKeys)) return kAccessDenied;
    if (index >= node_->children.size()) return kNoMoreItems;
    // Walks from the start; callers enumerate in index order, so remember the last position.
    if (!cursor_valid_ || index < cursor_index_) {
      cursor_ = node_->children.begin();
      cursor_index_ = 0;
      cursor_valid_ = true;
    }
    while (cursor_index_ < index) {
      ++cursor_;
      ++cursor_index_;
    }
    *name = cursor_->second->name;
    return kOk;
  }

  [[nodiscard]] Status EnumValue(uint32_t index, std::string* name, uint32_t* type,
                                 std::string* data) override {
    if (!(access_ & kKeyQueryValue)) return kAccessDenied;
    if (index >= node_->values.size()) return kNoMoreItems;
    const MemoryRegistry::Value& value = node_->values[index];
    *name = value.name;
    *type = value.type;
    *data = value.data;
    return kOk;
  }

  [[nodiscard]] Status SetValue(std::string_view name, uint32_t type,
                                std::string_view data) override {
    if (!(access_ & kKeySetValue)) return kAccessDenied;
    if (limits_->value && !limits_->value(name, type, data)) return kInvalidParam;
    node_->PutValue(name, type, data);
    cursor_valid_ = false;
    return kOk;
  }

  Status DeleteValue(std::string_view name) override {
    if (!(access_ & kKeySetValue)) return kAccessDenied;
    if (!node_->RemoveValue(name)) return kNotFound;
    node_->Compact();
    return kOk;
  }

 private:
  MemoryRegistry::Node* node_;
  uint32_t access_;
  const MemoryRegistry::Limits* limits_;
  // Enumeration cursor over the ordered children, so that walking a key is linear.
  bool cursor_valid_ = false;
  uint32_t cursor_index_ = 0;
  std::map<std::string, std::unique_ptr<MemoryRegistry::Node>, Cp932NoCaseLess>::iterator cursor_;
};

constexpr uint32_t kAllAccess = kKeyQueryValue | kKeySetValue | kKeyEnumerateSubKeys;

}  // namespace

bool SplitKeyPath(std::string_view path, std::vector<std::string_view>* names) {
  return SplitCp932Path(path, names);
}

namespace {

// Keys with more values than this keep an index of their names.
constexpr size_t kIndexedValues = 16;

// The node at `path` below `node` (const or not), or null.
template <typename NodeType>
NodeType* FindBelow(NodeType* node, std::string_view path) {
  std::vector<std::string_view> names;
  if (!SplitKeyPath(path, &names)) return nullptr;
  for (std::string_view name : names) {
    node = node->FindChild(name);
    if (!node) return nullptr;
  }
  return node;
}

// The first value of `node` (const or not) named `value_name`, or null.
template <typename NodeType>
auto FindValueOf(NodeType& node, std::string_view value_name) -> decltype(&node.values[0]) {
  if (node.values.size() <= kIndexedValues) {
    for (auto& value : node.values) {
      if (!value.removed && Cp932EqualNoCase(value.name, value_name)) return &value;
    }
    return nullptr;
  }
  auto it = node.value_index.find(value_name);
  return it == node.value_index.end() ? nullptr : &node.values[it->second];
}

}  // namespace

MemoryRegistry::Value* MemoryRegistry::Node::FindValue(std::string_view value_name) {
  return FindValueOf(*this, value_name);
}

const MemoryRegistry::Value* MemoryRegistry::Node::FindValue(std::string_view value_name) const {
  return FindValueOf(*this, value_name);
}

MemoryRegistry::Node* MemoryRegistry::Node::FindChild(std::string_view child_name) {
  auto it = children.find(child_name);
  return it == children.end() ? nullptr : it->second.get();
}

const MemoryRegistry::Node* MemoryRegistry::Node::FindChild(std::string_view child_name) const {
  auto it = children.find(child_name);
  return it == children.end() ? nullptr : it->second.get();
}

MemoryRegistry::Value& MemoryRegistry::Node::PutValue(std::string_view value_name, uint32_t type,
                                                      std::string_view data) {
  if (Value* existing = FindValue(value_name)) {
    if (existing->type != type || existing->data != data) {
      existing->type = type;
      existing->data.assign(data);
      existing->changed = true;
    }
    return *existing;
  }
  values.push_back(Value{std::string(value_name), type, std::string(data)});
  if (values.size() == kIndexedValues + 1) {
    for (size_t i = 0; i < values.size(); ++i) {
      if (!values[i].removed) value_index.emplace(values[i].name, i);
    }
  } else if (values.size() > kIndexedValues + 1) {
    value_index.emplace(std::string(value_name), values.size() - 1);
  }
  return values.back();
}

bool MemoryRegistry::Node::RemoveValue(std::string_view value_name) {
  Value* value = FindValue(value_name);
  if (!value) return false;
  if (auto it = value_index.find(value->name); it != value_index.end()) value_index.erase(it);
  value->removed = true;
  value->name.clear();
  value->data.clear();
  value->data.shrink_to_fit();
  ++removed_values;
  return true;
}

void MemoryRegistry::Node::Compact() {
  if (removed_values == 0) return;
  std::erase_if(values, [](const Value& value) { return value.removed; });
  removed_values = 0;
  value_index.clear();
  if (values.size() > kIndexedValues) {
    for (size_t i = 0; i < values.size(); ++i) value_index.emplace(values[i].name, i);
  }
}

MemoryRegistry::MemoryRegistry()
    : machine_(std::make_unique<Node>()), user_(std::make_unique<Node>()) {}

MemoryRegistry::Node* MemoryRegistry::Find(RootKey root, std::string_view path) {
  return FindBelow(&Root(root), path);
}

const MemoryRegistry::Node* MemoryRegistry::Find(RootKey root, std::string_view path) const {
  return FindBelow(&Root(root), path);
}

MemoryRegistry::Node* MemoryRegistry::Create(RootKey root, std::string_view path) {
  std::vector<std::string_view> names;
  if (!SplitKeyPath(path, &names)) return nullptr;
  Node* node = &Root(root);
  for (std::string_view name : names) {
    Node* child = node->FindChild(name);
    if (!child) {
      auto created = std::make_unique<Node>();
      created->name.assign(name);
      child = created.get();
      node->children.emplace(std::string(name), std::move(created));
    }
    node = child;
  }
  return node;
}

Status MemoryRegistry::OpenKey(RootKey root, std::string_view path, uint32_t access,
                               RegistryKeyPtr* key, RegistryView view) {
  std::vector<std::string_view> names;
  if (!SplitKeyPath(path, &names)) return kNotFound;
  if (view == RegistryView::k32Bit && root == RootKey::kLocalMachine && !names.empty() &&
      Cp932EqualNoCase(names[0], "Software")) {
    names.insert(names.begin() + 1, "WOW6432Node");
  }
  Node* node = &Root(root);
  for (std::string_view name : names) {
    node = node->FindChild(name);
    if (!node) return kNotFound;
  }
  if (node->denied) return kAccessDenied;
  *key = std::make_unique<MemoryKey>(node, access, &limits_);
  return kOk;
}

Status MemoryRegistry::CreateKey(RootKey root, std::string_view path, RegistryKeyPtr* key) {
  Node* existing = Find(root, path);
  if (existing && existing->denied) return kAccessDenied;
  if (!existing && limits_.key_name) {
    std::vector<std::string_view> names;
    if (!SplitKeyPath(path, &names)) return kInvalidParam;
    for (std::string_view name : names) {
      if (!limits_.key_name(name)) return kInvalidParam;
    }
  }
  Node* node = existing ? existing : Create(root, path);
  if (!node) return kInvalidParam;
  *key = std::make_unique<MemoryKey>(node, kAllAccess, &limits_);
  return kOk;
}

bool MemoryRegistry::DeleteTree(RootKey root, std::string_view path) {
  std::vector<std::string_view> names;
  if (!SplitKeyPath(path, &names) || names.empty()) return false;
  Node* parent = &Root(root);
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    parent = parent->FindChild(names[i]);
    if (!parent) return false;
  }
  auto it = parent->children.find(names.back());
  if (it == parent->children.end()) return false;
  parent->children.erase(it);
  return true;
}

Status MemoryRegistry::DeleteKey(RootKey root, std::string_view path) {
  Node* node = Find(root, path);
  if (!node || path.empty()) return kNotFound;
  if (!node->children.empty() || node->denied) return kAccessDenied;
  return DeleteTree(root, path) ? kOk : kNotFound;
}

bool MemoryRegistry::DeleteValue(RootKey root, std::string_view path, std::string_view value_name) {
  Node* node = Find(root, path);
  if (!node || !node->RemoveValue(value_name)) return false;
  node->Compact();
  return true;
}

void MemoryRegistry::SetValue(RootKey root, std::string_view path, std::string_view name,
                              uint32_t type, std::string_view data) {
  if (Node* node = Create(root, path)) node->PutValue(name, type, data);
}

void MemoryRegistry::SetString(RootKey root, std::string_view path, std::string_view name,
                               std::string_view text) {
  std::string data(text);
  data.push_back('\0');
  SetValue(root, path, name, kRegSz, data);
}

void MemoryRegistry::SetDword(RootKey root, std::string_view path, std::string_view name,
                              uint32_t value) {
  SetValue(root, path, name, kRegDword, DwordData(value));
}

void MemoryRegistry::Deny(RootKey root, std::string_view path) {
  if (Node* node = Create(root, path)) node->denied = true;
}

namespace {
void Count(const MemoryRegistry::Node& node, size_t* keys, size_t* values) {
  *values += node.values.size() - node.removed_values;
  for (const auto& child : node.children) {
    ++*keys;
    Count(*child.second, keys, values);
  }
}
}  // namespace

size_t MemoryRegistry::CountKeys() const {
  size_t keys = 0, values = 0;
  Count(*machine_, &keys, &values);
  Count(*user_, &keys, &values);
  return keys;
}

size_t MemoryRegistry::CountValues() const {
  size_t keys = 0, values = 0;
  Count(*machine_, &keys, &values);
  Count(*user_, &keys, &values);
  return values;
}

}  // namespace kdr
