#include "tests/flow_world.h"

#include <algorithm>
#include <cstdio>

namespace kdr::testing {

std::vector<FlowWorldFactory>& FlowWorldFactories() {
  static std::vector<FlowWorldFactory> factories;
  return factories;
}

namespace {

std::string Hex(std::string_view bytes) {
  std::string out;
  char pair[3];
  for (char c : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
    out += pair;
  }
  return out;
}

void Walk(Registry& registry, RootKey root, const std::string& path,
          std::vector<std::string>* lines) {
  RegistryKeyPtr key;
  if (registry.OpenKey(root, path, kKeyQueryValue | kKeyEnumerateSubKeys, &key) != kOk) return;
  if (!path.empty()) lines->push_back(path);
  std::string name, data;
  uint32_t type = 0;
  for (uint32_t i = 0; key->EnumValue(i, &name, &type, &data) == kOk; ++i) {
    lines->push_back(path + "|" + name + "|" + std::to_string(type) + "|" + Hex(data));
  }
  for (uint32_t i = 0; key->EnumKey(i, &name) == kOk; ++i) {
    Walk(registry, root, path.empty() ? name : path + "\\" + name, lines);
  }
}

}  // namespace

std::vector<std::string> DumpTree(Registry& registry, RootKey root, std::string_view path) {
  std::vector<std::string> lines;
  Walk(registry, root, std::string(path), &lines);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> DumpFolder(FileSystem& files, std::string_view folder,
                                    const std::vector<std::string>& relative_paths) {
  std::vector<std::string> lines;
  for (const std::string& rel : relative_paths) {
    std::string path = std::string(folder) + "\\" + rel;
    if (auto content = files.ReadFile(path)) {
      lines.push_back(rel + "|" + *content);
    } else if (files.IsFolder(path)) {
      lines.push_back(rel + "\\");
    }
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace kdr::testing
