#include "platform/memory/memory_registry.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/cp932.h"

namespace kdr {

class MemoryRegistry::Key : public RegistryKey {
 public:
  Key(Node* node, uint32_t access) : node_(node), access_(access) {}

  [[nodiscard]] Status QueryValue(std::string_view name, uint32_t* type,
                                  std::string* data) override {
    if (!(access_ & kKeyQueryValue)) return kAccessDenied;
    const Value* value = node_->FindValue(name);
    if (!value) return kNotFound;
    *type = value->type();
    data->assign(value->data());
    return kOk;
  }

  [[nodiscard]] Status EnumKey(uint32_t index, std::string* name) override {
    if (!(access_ & kKeyEnumerateSubKeys)) return kAccessDenied;
    if (index >= node_->children_.size()) return kNoMoreItems;
    // Walks from the start; callers enumerate in index order, so remember the last position.
    if (!cursor_valid_ || index < cursor_index_) {
      cursor_ = node_->children_.begin();
      cursor_index_ = 0;
      cursor_valid_ = true;
    }
    while (cursor_index_ < index) {
      ++cursor_;
      ++cursor_index_;
    }
    *name = cursor_->second->name_;
    return kOk;
  }

  [[nodiscard]] Status EnumValue(uint32_t index, std::string* name, uint32_t* type,
                                 std::string* data) override {
    if (!(access_ & kKeyQueryValue)) return kAccessDenied;
    if (index >= node_->values_.size()) return kNoMoreItems;
    const Value& value = node_->values_[index];
    name->assign(value.name());
    *type = value.type();
    data->assign(value.data());
    return kOk;
  }

  [[nodiscard]] Status SetValue(std::string_view name, uint32_t type,
                                std::string_view data) override {
    if (!(access_ & kKeySetValue)) return kAccessDenied;
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
  Node* node_;
  uint32_t access_;
  // Enumeration cursor over the ordered children, so that walking a key is linear.
  bool cursor_valid_ = false;
  uint32_t cursor_index_ = 0;
  Node::Children::iterator cursor_;
};

namespace {

constexpr uint32_t kAllAccess = kKeyQueryValue | kKeySetValue | kKeyEnumerateSubKeys;

}  // namespace

bool SplitKeyPath(std::string_view path, std::vector<std::string_view>* names) {
  return SplitCp932Path(path, names);
}

void ApplyRegistryView(RootKey root, RegistryView view, std::vector<std::string_view>* names) {
  if (view == RegistryView::k32Bit && root == RootKey::kLocalMachine && !names->empty() &&
      Cp932EqualNoCase((*names)[0], "Software")) {
    names->insert(names->begin() + 1, "WOW6432Node");
  }
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

}  // namespace

// The first value of `node` (const or not) named `value_name`, or null.
template <typename Self>
auto MemoryRegistry::Node::FindValueOf(Self& node, std::string_view value_name)
    -> decltype(&node.values_[0]) {
  if (!node.value_index_) {
    for (auto& value : node.values_) {
      if (!value.removed_ && Cp932EqualNoCase(value.name(), value_name)) return &value;
    }
    return nullptr;
  }
  auto it = node.value_index_->find(value_name);
  return it == node.value_index_->end() ? nullptr : &node.values_[*it];
}

MemoryRegistry::Value& MemoryRegistry::Value::operator=(const Value& other) {
  if (this == &other) return *this;
  Rebuild(other.name(), other.data());
  type_ = other.type_;
  changed_ = other.changed_;
  removed_ = other.removed_;
  origin_ = other.origin_;
  return *this;
}

MemoryRegistry::Value& MemoryRegistry::Value::operator=(Value&& other) noexcept {
  bytes_ = std::move(other.bytes_);
  data_size_ = other.data_size_;
  type_ = other.type_;
  changed_ = other.changed_;
  removed_ = other.removed_;
  origin_ = other.origin_;
  other.data_size_ = 0;
  return *this;
}

// A large store holds one value per value of the file.
static_assert(sizeof(MemoryRegistry::Value) <= 3 * sizeof(void*));

namespace {

// The size of a name as it is stored in front of it: 7 bits a byte, low bits first.
size_t NameSizeBytes(size_t size) {
  size_t bytes = 1;
  for (; size >= 0x80; size >>= 7) ++bytes;
  return bytes;
}

// Reads the size stored at `at`; the bytes it took go to *taken.
size_t ReadNameSize(const char* at, size_t* taken) {
  size_t size = 0;
  size_t i = 0;
  for (unsigned shift = 0;; shift += 7) {
    auto byte = static_cast<unsigned char>(at[i++]);
    size |= static_cast<size_t>(byte & 0x7f) << shift;
    if (!(byte & 0x80)) break;
  }
  *taken = i;
  return size;
}

}  // namespace

std::string_view MemoryRegistry::Value::name() const {
  if (!bytes_) return {};
  size_t taken = 0;
  const char* at = bytes_.get();
  size_t size = ReadNameSize(at, &taken);
  return {at + taken, size};
}

size_t MemoryRegistry::Value::DataOffset() const {
  size_t taken = 0;
  size_t size = ReadNameSize(bytes_.get(), &taken);
  return taken + size;
}

void MemoryRegistry::Value::Rebuild(std::string_view name, std::string_view data) {
  std::unique_ptr<char[]> bytes;
  if (!name.empty() || !data.empty()) {
    size_t prefix = NameSizeBytes(name.size());
    bytes = std::make_unique_for_overwrite<char[]>(prefix + name.size() + data.size());
    char* at = bytes.get();
    for (size_t size = name.size();; size >>= 7) {
      *at++ = static_cast<char>((size & 0x7f) | (size >= 0x80 ? 0x80 : 0));
      if (size < 0x80) break;
    }
    at = std::copy(name.begin(), name.end(), at);
    std::copy(data.begin(), data.end(), at);
  }
  bytes_ = std::move(bytes);
  data_size_ = data.size();
}

void MemoryRegistry::Value::SetData(uint32_t type, std::string_view data) {
  type_ = type;
  if (data.size() == data_size_) {
    // memmove: the data may be this value's own.
    if (!data.empty()) std::memmove(bytes_.get() + DataOffset(), data.data(), data.size());
    return;
  }
  Rebuild(name(), data);
}

MemoryRegistry::Value* MemoryRegistry::Node::MutableValue(std::string_view value_name) {
  return FindValueOf(*this, value_name);
}

const MemoryRegistry::Value* MemoryRegistry::Node::FindValue(std::string_view value_name) const {
  return FindValueOf(*this, value_name);
}

MemoryRegistry::Node* MemoryRegistry::Node::FindChild(std::string_view child_name) {
  auto it = children_.find(child_name);
  return it == children_.end() ? nullptr : it->second.get();
}

const MemoryRegistry::Node* MemoryRegistry::Node::FindChild(std::string_view child_name) const {
  auto it = children_.find(child_name);
  return it == children_.end() ? nullptr : it->second.get();
}

MemoryRegistry::Node* MemoryRegistry::Node::AddChild(std::string_view child_name) {
  if (Node* existing = FindChild(child_name)) return existing;
  auto created = std::make_unique<Node>();
  created->name_.assign(child_name);
  Node* child = created.get();
  children_.emplace(std::string(child_name), std::move(created));
  return child;
}

bool MemoryRegistry::Node::RemoveChild(std::string_view child_name) {
  auto it = children_.find(child_name);
  if (it == children_.end()) return false;
  children_.erase(it);
  return true;
}

void MemoryRegistry::Node::PutValue(std::string_view value_name, uint32_t type,
                                    std::string_view data) {
  Put(value_name, type, data);
}

MemoryRegistry::Value* MemoryRegistry::Node::Put(std::string_view value_name, uint32_t type,
                                                 std::string_view data) {
  if (Value* existing = MutableValue(value_name)) {
    if (existing->type_ != type || existing->data() != data) {
      existing->SetData(type, data);
      existing->changed_ = true;
    }
    return existing;
  }
  // Grown by a quarter rather than doubled: most keys hold a few values, and the room a
  // doubling leaves unused would be a third of a large store.
  if (values_.size() == values_.capacity()) {
    values_.reserve(values_.size() + values_.size() / 4 + 2);
  }
  Value& value = values_.emplace_back();
  value.type_ = type;
  value.Rebuild(value_name, data);
  if (value_index_) {
    value_index_->insert(values_.size() - 1);
  } else if (values_.size() > kIndexedValues) {
    IndexValues();
  }
  return &value;
}

void MemoryRegistry::Node::IndexValues() {
  value_index_ = std::make_unique<std::set<size_t, ByValueName>>(ByValueName{this});
  for (size_t i = 0; i < values_.size(); ++i) {
    if (!values_[i].removed_) value_index_->insert(i);
  }
}

void MemoryRegistry::Node::PutValueAsRead(std::string_view value_name, uint32_t type,
                                          std::string_view data, uint32_t origin) {
  Value* value = Put(value_name, type, data);
  value->changed_ = false;
  value->origin_ = origin;
}

bool MemoryRegistry::Node::RemoveValue(std::string_view value_name) {
  Value* value = MutableValue(value_name);
  if (!value) return false;
  if (value_index_) value_index_->erase(static_cast<size_t>(value - values_.data()));
  value->removed_ = true;
  value->Rebuild({}, {});
  ++removed_values_;
  return true;
}

void MemoryRegistry::Node::Compact() {
  if (removed_values_ == 0) {
    values_.shrink_to_fit();
    return;
  }
  value_index_.reset();
  std::erase_if(values_, [](const Value& value) { return value.removed_; });
  removed_values_ = 0;
  values_.shrink_to_fit();
  if (values_.size() > kIndexedValues) IndexValues();
}

void MemoryRegistry::Node::Clear() {
  children_.clear();
  values_.clear();
  value_index_.reset();
  removed_values_ = 0;
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
  for (std::string_view name : names) node = node->AddChild(name);
  return node;
}

Status MemoryRegistry::OpenKey(RootKey root, std::string_view path, uint32_t access,
                               RegistryKeyPtr* key, RegistryView view) {
  std::vector<std::string_view> names;
  if (!SplitKeyPath(path, &names)) return kNotFound;
  ApplyRegistryView(root, view, &names);
  Node* node = &Root(root);
  for (std::string_view name : names) {
    node = node->FindChild(name);
    if (!node) return kNotFound;
  }
  *key = std::make_unique<Key>(node, access);
  return kOk;
}

Status MemoryRegistry::CreateKey(RootKey root, std::string_view path, RegistryKeyPtr* key) {
  Node* node = Create(root, path);
  if (!node) return kInvalidParam;
  *key = std::make_unique<Key>(node, kAllAccess);
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
  return parent->RemoveChild(names.back());
}

Status MemoryRegistry::DeleteKey(RootKey root, std::string_view path) {
  Node* node = Find(root, path);
  if (!node || path.empty()) return kNotFound;
  if (!node->children_.empty()) return kAccessDenied;
  return DeleteTree(root, path) ? kOk : kNotFound;
}

bool MemoryRegistry::DeleteValue(RootKey root, std::string_view path, std::string_view value_name) {
  Node* node = Find(root, path);
  if (!node || !node->RemoveValue(value_name)) return false;
  node->Compact();
  return true;
}

}  // namespace kdr
