#include "core/presence.h"

#include <string>

namespace kdr {
namespace {

// The products may be 32-bit programs: on 64-bit Windows their markers then live in the 32-bit
// view. The first view in which the marker opens decides.
bool EditionInstalled(Registry& registry, std::string_view marker) {
  for (RegistryView view : {RegistryView::k32Bit, RegistryView::k64Bit}) {
    RegistryKeyPtr key;
    if (registry.OpenKey(RootKey::kLocalMachine, marker, kKeyQueryValue, &key, view) != kOk) {
      continue;
    }
    key.reset();
    RegistryKeyPtr keys_subkey;
    std::string keys_path = std::string(marker) + "\\Keys";
    return registry.OpenKey(RootKey::kLocalMachine, keys_path, kKeyQueryValue, &keys_subkey,
                            view) != kOk;
  }
  return false;
}

template <typename MarkerOf>
EditionCode Detect(Registry& registry, MarkerOf marker_of) {
  EditionCode code = 0;
  for (Edition edition : kAllEditions) {
    if (EditionInstalled(registry, marker_of(edition))) code += EditionWeight(edition);
  }
  return code;
}

}  // namespace

std::string_view OldMarkerKey(Edition edition) { return Traits(edition).old_marker; }

std::string_view NewMarkerKey(Edition edition) { return Traits(edition).new_marker; }

EditionCode DetectOldEditions(Registry& registry) { return Detect(registry, OldMarkerKey); }

EditionCode DetectNewEditions(Registry& registry) { return Detect(registry, NewMarkerKey); }

EditionCode DetectCollectedEditions(FileSystem& files, const WorkPaths& paths) {
  EditionCode code = 0;
  for (Edition edition : kAllEditions) {
    // One that cannot be looked at counts: the store check then says why it cannot be read.
    if (!paths.Folder(edition).empty() &&
        files.Lookup(paths.Folder(edition)) != std::optional(EntryKind::kNone)) {
      code += EditionWeight(edition);
    }
  }
  return code;
}

}  // namespace kdr
