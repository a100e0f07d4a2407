#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/cp932.h"
#include "platform/registry.h"

// A registry held in memory, with the behaviour of the Windows registry that the tool relies
// on: case-insensitive names that keep their created case, subkeys enumerated in ascending
// case-insensitive order, values in creation order, access rights checked per handle.
namespace kdr {

class MemoryRegistry : public Registry {
 public:
  // Where a key or value was read from, in the terms of what read it (a registry file says
  // which line); the tree only keeps it. kNoOrigin: made here, never read.
  static constexpr uint32_t kNoOrigin = 0xffffffff;

  class Node;
  // A value keeps its name and data in one allocation, with the name's size in front of them,
  // and its small fields together: a large store holds one of these per value.
  class Value {
   public:
    Value() = default;
    Value(std::string_view name, uint32_t type, std::string_view data) : type_(type) {
      Rebuild(name, data);
    }
    Value(const Value& other) { *this = other; }
    Value& operator=(const Value& other);
    Value(Value&& other) noexcept { *this = std::move(other); }
    Value& operator=(Value&& other) noexcept;

    std::string_view name() const;
    std::string_view data() const {
      return {bytes_.get() + (bytes_ ? DataOffset() : 0), static_cast<size_t>(data_size_)};
    }
    uint32_t type() const { return type_; }
    // Whether it has changed since it was read: what a write-back replaces.
    bool changed() const { return changed_; }
    bool removed() const { return removed_; }
    uint32_t origin() const { return origin_; }

   private:
    friend class Node;
    // Where the data start in bytes_ (which must be there).
    size_t DataOffset() const;
    // Makes the bytes anew from `name` and `data`, which may be views into the old ones.
    void Rebuild(std::string_view name, std::string_view data);
    void SetData(uint32_t type, std::string_view data);

    // The name's size (7 bits a byte, low bits first, the high bit set on every byte but the
    // last), the name, the data; null when all are empty.
    std::unique_ptr<char[]> bytes_;
    // All of one type, so that they share one word on every compiler.
    uint64_t data_size_ : 62 = 0;
    uint64_t changed_ : 1 = 1;
    uint64_t removed_ : 1 = 0;  // a gap left by RemoveValue until the next Compact
    uint32_t type_ = kRegNone;
    uint32_t origin_ = kNoOrigin;  // in the room the type leaves
  };
  class Key;
  // A key of the store. Its fields change only through its own calls, which keep the value
  // index and the gaps consistent.
  class Node {
   public:
    using Children = std::map<std::string, std::unique_ptr<Node>, Cp932NoCaseLess>;

    Node() = default;
    // The value index points back at its node.
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    const std::string& name() const { return name_; }
    // Subkeys in ascending case-insensitive order.
    const Children& children() const { return children_; }
    // Values in creation order; a value removed by RemoveValue stays as a gap (marked removed)
    // until Compact.
    const std::vector<Value>& values() const { return values_; }
    // Where the key was read from; kNoOrigin for one made here.
    uint32_t origin() const { return origin_; }
    void SetOrigin(uint32_t origin) { origin_ = origin; }

    const Value* FindValue(std::string_view value_name) const;
    Node* FindChild(std::string_view child_name);
    const Node* FindChild(std::string_view child_name) const;
    // The subkey `child_name`, created when missing.
    Node* AddChild(std::string_view child_name);
    // Removes a subkey with its whole subtree; false when there is none.
    bool RemoveChild(std::string_view child_name);
    // Sets a value; one set to the type and data it holds already stays unchanged.
    void PutValue(std::string_view value_name, uint32_t type, std::string_view data);
    // Sets a value as it was read, from `origin`: unchanged since.
    void PutValueAsRead(std::string_view value_name, uint32_t type, std::string_view data,
                        uint32_t origin = kNoOrigin);
    // Leaves a gap, so that many removals stay linear; Compact closes the gaps and gives back
    // the room the values grew into.
    [[nodiscard]] bool RemoveValue(std::string_view value_name);
    void Compact();
    // Drops every subkey and value.
    void Clear();

   private:
    friend class MemoryRegistry;
    friend class Key;
    Value* MutableValue(std::string_view value_name);
    Value* Put(std::string_view value_name, uint32_t type, std::string_view data);
    void IndexValues();
    template <typename Self>
    static auto FindValueOf(Self& node, std::string_view value_name) -> decltype(&node.values_[0]);

    std::string name_;
    Children children_;
    std::vector<Value> values_;  // creation order
    // Positions in values ordered by name; built only for keys with many values, since most keys
    // hold a few. It holds no copy of the names: they are read from the values.
    struct ByValueName {
      using is_transparent = void;
      const Node* node;
      std::string_view NameAt(size_t at) const { return node->values_[at].name(); }
      bool operator()(size_t a, size_t b) const { return Cp932NoCaseLess()(NameAt(a), NameAt(b)); }
      bool operator()(size_t a, std::string_view b) const {
        return Cp932NoCaseLess()(NameAt(a), b);
      }
      bool operator()(std::string_view a, size_t b) const {
        return Cp932NoCaseLess()(a, NameAt(b));
      }
    };
    std::unique_ptr<std::set<size_t, ByValueName>> value_index_;  // null below kIndexedValues
    size_t removed_values_ = 0;                                   // gaps in values
    uint32_t origin_ = kNoOrigin;
  };

  MemoryRegistry();

  using Registry::OpenKey;
  // The 32-bit view of HKEY_LOCAL_MACHINE\Software is its WOW6432Node subkey, as on 64-bit
  // Windows.
  [[nodiscard]] Status OpenKey(RootKey root, std::string_view path, uint32_t access,
                               RegistryKeyPtr* key, RegistryView view) override;
  [[nodiscard]] Status CreateKey(RootKey root, std::string_view path, RegistryKeyPtr* key) override;
  [[nodiscard]] Status DeleteKey(RootKey root, std::string_view path) override;

  // Direct access for loading, saving and inspecting a store (not part of the interface).
  Node& Root(RootKey root) { return root == RootKey::kLocalMachine ? *machine_ : *user_; }
  const Node& Root(RootKey root) const {
    return root == RootKey::kLocalMachine ? *machine_ : *user_;
  }
  // The node at `path`, or null. An empty path is the root.
  Node* Find(RootKey root, std::string_view path);
  const Node* Find(RootKey root, std::string_view path) const;
  // The node at `path`, created with its parents when missing. Null for a malformed path.
  Node* Create(RootKey root, std::string_view path);
  // Removes a key with its whole subtree; false when it does not exist. Handles that are open
  // on it must not be used afterwards.
  [[nodiscard]] bool DeleteTree(RootKey root, std::string_view path);
  [[nodiscard]] bool DeleteValue(RootKey root, std::string_view path, std::string_view value_name);

 private:
  std::unique_ptr<Node> machine_;
  std::unique_ptr<Node> user_;
};

// Splits a backslash path into its names (never at the second byte of a double-byte
// character). False when a name is empty (a doubled, leading or
// trailing backslash), which the registry refuses.
[[nodiscard]] bool SplitKeyPath(std::string_view path, std::vector<std::string_view>* names);

// The 32-bit view of HKEY_LOCAL_MACHINE\Software is its WOW6432Node subkey, as on 64-bit Windows:
// the names of a key in that view as they are in the store.
void ApplyRegistryView(RootKey root, RegistryView view, std::vector<std::string_view>* names);

}  // namespace kdr
