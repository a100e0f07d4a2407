#include "platform/win32/win32_registry.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace kdr {

// Our portable numbers are the SDK's.
static_assert(kOk == ERROR_SUCCESS);
static_assert(kNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kInvalidParam == ERROR_INVALID_PARAMETER);
static_assert(kMoreData == ERROR_MORE_DATA);
static_assert(kNoMoreItems == ERROR_NO_MORE_ITEMS);
static_assert(kKeyQueryValue == KEY_QUERY_VALUE);
static_assert(kKeySetValue == KEY_SET_VALUE);
static_assert(kKeyEnumerateSubKeys == KEY_ENUMERATE_SUB_KEYS);
static_assert(kRegNone == REG_NONE);
static_assert(kRegSz == REG_SZ);
static_assert(kRegExpandSz == REG_EXPAND_SZ);
static_assert(kRegBinary == REG_BINARY);
static_assert(kRegDword == REG_DWORD);
static_assert(kRegMultiSz == REG_MULTI_SZ);

namespace {

// Buffers grow up to this size; a name or value that still does not fit is refused rather than
// read forever while someone keeps enlarging it.
constexpr DWORD kMaxGrowth = 1u << 30;

// The name as a NUL-terminated string; nullopt when it holds a NUL, which would cut it short.
std::optional<std::string> CName(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  return std::string(name);
}

REGSAM ViewFlag(RegistryView view) {
  switch (view) {
    case RegistryView::k32Bit:
      return KEY_WOW64_32KEY;
    case RegistryView::k64Bit:
      return KEY_WOW64_64KEY;
    case RegistryView::kDefault:
      break;
  }
  return 0;
}

DWORD Grown(DWORD size) {
  return size >= kMaxGrowth / 2 ? kMaxGrowth : std::max<DWORD>(size * 2, 64);
}

// The RegistryKey interface over one owned key.
class Win32Key : public RegistryKey {
 public:
  // `access` is what the key was opened with, 0 when not known for certain.
  Win32Key(Win32RegKey key, REGSAM access) : key_(std::move(key)), access_(access) {}

  [[nodiscard]] Status QueryValue(std::string_view name, uint32_t* type,
                                  std::string* data) override {
    DWORD value_type = 0;
    LONG result = key_.ReadValue(name, &value_type, data);
    if (result == ERROR_SUCCESS) *type = value_type;
    return result;
  }
  [[nodiscard]] Status EnumKey(uint32_t index, std::string* name) override {
    if (index >= Count(index, KEY_ENUMERATE_SUB_KEYS, &subkeys_)) return ERROR_NO_MORE_ITEMS;
    return key_.EnumKey(index, name);
  }
  [[nodiscard]] Status EnumValue(uint32_t index, std::string* name, uint32_t* type,
                                 std::string* data) override {
    if (index >= Count(index, KEY_QUERY_VALUE, &values_)) return ERROR_NO_MORE_ITEMS;
    DWORD value_type = 0;
    LONG result = key_.EnumValue(index, name, &value_type, data);
    if (result == ERROR_SUCCESS) *type = value_type;
    return result;
  }
  [[nodiscard]] Status SetValue(std::string_view name, uint32_t type,
                                std::string_view data) override {
    values_ = List{};  // one value more, perhaps: not counted until the next pass
    return key_.WriteValue(name, type, data);
  }
  Status DeleteValue(std::string_view name) override { return key_.RemoveValue(name); }

 private:
  // What is known of the length of one list of the key, its subkeys or its values.
  struct List {
    DWORD count = MAXDWORD;  // MAXDWORD: not known, enumerate until the registry says the end
    bool unused = false;     // counted for a pass over this list that has not begun yet
  };

  // The length of `list` for an enumeration at `index`. A pass over a list begins at index 0
  // and ends at the count taken then, instead of asking the registry for one item more to hear
  // that there is none. One RegQueryInfoKeyA counts both lists, for one pass over each: a
  // tree walk lists a key's values and then its subkeys with one call to the registry fewer.
  // Without the right to enumerate the list, the registry itself answers (access denied).
  DWORD Count(uint32_t index, REGSAM right, List* list) {
    if ((access_ & right) != right) return MAXDWORD;
    if (index == 0) {
      if (!list->unused) CountBoth();
      list->unused = false;
    }
    return list->count;
  }

  void CountBoth() {
    DWORD subkeys = 0;
    DWORD values = 0;
    bool counted =
        (access_ & KEY_QUERY_VALUE) &&
        RegQueryInfoKeyA(key_.handle(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                         &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    subkeys_ = List{counted ? subkeys : MAXDWORD, true};
    values_ = List{counted ? values : MAXDWORD, true};
  }

  Win32RegKey key_;
  REGSAM access_;
  List subkeys_;
  List values_;
};

}  // namespace

Win32RegKey& Win32RegKey::operator=(Win32RegKey&& other) noexcept {
  if (this != &other) {
    Close();
    name_bytes_ = other.name_bytes_;
    data_bytes_ = other.data_bytes_;
    key_ = other.Take();
  }
  return *this;
}

LONG Win32RegKey::Open(HKEY root, std::string_view path, REGSAM access) {
  Close();
  auto c_path = CName(path);
  if (!c_path) return ERROR_INVALID_PARAMETER;
  HKEY key = nullptr;
  LONG result = RegOpenKeyExA(root, c_path->c_str(), 0, access, &key);
  if (result == ERROR_SUCCESS) key_ = key;
  return result;
}

LONG Win32RegKey::Create(HKEY root, std::string_view path) {
  Close();
  auto c_path = CName(path);
  if (!c_path) return ERROR_INVALID_PARAMETER;
  HKEY key = nullptr;
  LONG result = RegCreateKeyA(root, c_path->c_str(), &key);
  if (result == ERROR_SUCCESS) key_ = key;
  return result;
}

void Win32RegKey::Close() {
  if (key_) RegCloseKey(key_);
  key_ = nullptr;
  name_bytes_ = kFirstNameBytes;
  data_bytes_ = kFirstDataBytes;
}

HKEY Win32RegKey::Take() {
  HKEY key = key_;
  key_ = nullptr;
  return key;
}

LONG Win32RegKey::ReadValue(std::string_view name, DWORD* type, std::string* data) const {
  auto c_name = CName(name);
  if (!c_name) return ERROR_INVALID_PARAMETER;
  // Read straight into a buffer of the first size, which most values fit: one call to the
  // registry. A larger value says its size and is read again; it may grow between the calls,
  // so go on until it fits.
  DWORD value_type = 0;
  DWORD size = kFirstDataBytes;
  std::string buffer;
  for (;;) {
    buffer.resize(size);
    DWORD used = size;
    LONG result = RegQueryValueExA(key_, c_name->c_str(), nullptr, &value_type,
                                   reinterpret_cast<BYTE*>(buffer.data()), &used);
    if (result == ERROR_SUCCESS) {
      buffer.resize(std::min(used, size));
      break;
    }
    if (result != ERROR_MORE_DATA || size >= kMaxGrowth) return result;
    size = std::max(used, Grown(size));
  }
  *type = value_type;
  *data = std::move(buffer);
  return ERROR_SUCCESS;
}

LONG Win32RegKey::EnumKey(DWORD index, std::string* name) const {
  // Key names have at most 255 characters; in code page 932 that may be twice as many bytes.
  std::string buffer(256, '\0');
  for (;;) {
    DWORD length = static_cast<DWORD>(buffer.size());
    FILETIME written;
    LONG result =
        RegEnumKeyExA(key_, index, buffer.data(), &length, nullptr, nullptr, nullptr, &written);
    if (result == ERROR_SUCCESS) {
      buffer.resize(std::min<size_t>(length, buffer.size()));
      *name = std::move(buffer);
      return ERROR_SUCCESS;
    }
    if (result != ERROR_MORE_DATA || buffer.size() >= kMaxGrowth) return result;
    buffer.resize(Grown(static_cast<DWORD>(buffer.size())));
  }
}

LONG Win32RegKey::EnumValue(DWORD index, std::string* name, DWORD* type, std::string* data) {
  // Sized by what this key's values needed so far rather than by asking the key first
  // (RegQueryInfoKeyA): one call to the registry per value, and a retry only when a value is
  // larger than every one before it.
  std::string name_buffer(name_bytes_, '\0');
  std::string data_buffer(data_bytes_, '\0');
  for (;;) {
    DWORD name_length = static_cast<DWORD>(name_buffer.size());
    DWORD data_size = static_cast<DWORD>(data_buffer.size());
    DWORD value_type = 0;
    LONG result = RegEnumValueA(key_, index, name_buffer.data(), &name_length, nullptr, &value_type,
                                reinterpret_cast<BYTE*>(data_buffer.data()), &data_size);
    if (result == ERROR_SUCCESS) {
      name_buffer.resize(std::min<size_t>(name_length, name_buffer.size()));
      data_buffer.resize(std::min<size_t>(data_size, data_buffer.size()));
      *name = std::move(name_buffer);
      *type = value_type;
      *data = std::move(data_buffer);
      return ERROR_SUCCESS;
    }
    if (result != ERROR_MORE_DATA) return result;
    // Which of the two did not fit is not said for certain: grow both, and start the next
    // value of this key from the grown sizes.
    if (name_buffer.size() >= kMaxGrowth && data_buffer.size() >= kMaxGrowth) return result;
    name_buffer.resize(Grown(static_cast<DWORD>(name_buffer.size())));
    DWORD wanted = data_size > data_buffer.size() ? data_size : 0;
    data_buffer.resize(std::max(wanted, Grown(static_cast<DWORD>(data_buffer.size()))));
    name_bytes_ = static_cast<DWORD>(name_buffer.size());
    data_bytes_ = static_cast<DWORD>(data_buffer.size());
  }
}

LONG Win32RegKey::WriteValue(std::string_view name, DWORD type, std::string_view data) const {
  auto c_name = CName(name);
  if (!c_name || data.size() > kMaxGrowth) return ERROR_INVALID_PARAMETER;
  return RegSetValueExA(key_, c_name->c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size()));
}

LONG Win32RegKey::RemoveValue(std::string_view name) const {
  auto c_name = CName(name);
  if (!c_name) return ERROR_INVALID_PARAMETER;
  return RegDeleteValueA(key_, c_name->c_str());
}

Status Win32Registry::OpenKey(RootKey root, std::string_view path, uint32_t access,
                              RegistryKeyPtr* key, RegistryView view) {
  Win32RegKey opened;
  LONG result = opened.Open(RootHandle(root), path, access | ViewFlag(view));
  if (result != ERROR_SUCCESS) return result;
  *key = std::make_unique<Win32Key>(std::move(opened), access);
  return kOk;
}

Status Win32Registry::CreateKey(RootKey root, std::string_view path, RegistryKeyPtr* key) {
  Win32RegKey created;
  // With an empty path RegCreateKeyA hands back the root's own predefined handle, which is not
  // ours to close; open a handle of our own instead.
  constexpr REGSAM kOwnAccess = KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS;
  LONG result = path.empty() ? created.Open(RootHandle(root), path, kOwnAccess)
                             : created.Create(RootHandle(root), path);
  if (result != ERROR_SUCCESS) return result;
  // RegCreateKeyA asks for what the caller may have, which is not said.
  *key = std::make_unique<Win32Key>(std::move(created), path.empty() ? kOwnAccess : 0);
  return kOk;
}

Status Win32Registry::DeleteKey(RootKey root, std::string_view path) {
  auto c_path = CName(path);
  if (!c_path || c_path->empty()) return ERROR_INVALID_PARAMETER;
  // RegDeleteKeyA on Windows 9x removed a whole subtree; the NT family refuses one with subkeys.
  // Check first so both behave as the interface says.
  Win32RegKey key;
  LONG result = key.Open(RootHandle(root), path, KEY_ENUMERATE_SUB_KEYS);
  if (result != ERROR_SUCCESS) return result;
  std::string first;
  if (key.EnumKey(0, &first) == ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
  key.Close();
  return RegDeleteKeyA(RootHandle(root), c_path->c_str());
}

}  // namespace kdr
