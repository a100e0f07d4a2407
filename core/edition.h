#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

// The three editions of both products, and the codes that say which of them are present.
namespace kdr {

enum class Edition : int { kPersonal = 1, kClient = 2, kServer = 3 };

// Editions are always processed in this order.
inline constexpr std::array<Edition, 3> kAllEditions = {Edition::kPersonal, Edition::kClient,
                                                        Edition::kServer};
inline constexpr size_t kEditionCount = kAllEditions.size();

// The position of an edition in kAllEditions and in every per-edition table.
constexpr size_t EditionIndex(Edition edition) { return static_cast<size_t>(edition) - 1; }
static_assert(EditionIndex(kAllEditions[0]) == 0 && EditionIndex(kAllEditions[1]) == 1 &&
              EditionIndex(kAllEditions[2]) == 2);

// A sum of edition weights (Personal 100, Client 10, Server 1), so 0 to 111.
using EditionCode = int;

// What belongs to each edition.
struct EditionTraits {
  EditionCode weight;
  std::string_view folder_name;  // in the work tree
  std::string_view name;         // for logs and the console
  std::string_view old_marker;   // installation marker of the old product, under HKLM
  std::string_view new_marker;   // the same for the new product
  std::span<const std::string_view> data_subfolders;  // of its work folder, in creation order
};

namespace edition_data {
inline constexpr std::string_view kPersonalFolders[] = {"DDBVID", "DDBDAT", "plog", "slog"};
inline constexpr std::string_view kClientFolders[] = {"DDBVID", "plog"};
inline constexpr std::string_view kServerFolders[] = {"DDBDAT", "slog"};
}  // namespace edition_data

inline constexpr std::array<EditionTraits, kEditionCount> kEditionTraits = {{
    {100, "personal", "Personal", "Software\\VTQ\\Kodrel Personal",
     "Software\\VTQ\\Kodrel SE Personal", edition_data::kPersonalFolders},
    {10, "client", "Client", "Software\\VTQ\\Kodrel Client", "Software\\VTQ\\Kodrel SE Client",
     edition_data::kClientFolders},
    {1, "server", "Server", "Software\\VTQ\\Kodrel Server", "Software\\VTQ\\Kodrel SE Server",
     edition_data::kServerFolders},
}};

constexpr const EditionTraits& Traits(Edition edition) {
  return kEditionTraits[EditionIndex(edition)];
}

constexpr EditionCode EditionWeight(Edition edition) { return Traits(edition).weight; }

// True when the edition's digit in `code` is 1.
constexpr bool HasEdition(EditionCode code, Edition edition) {
  return (code / EditionWeight(edition)) % 10 == 1;
}

// True when some edition is present in both codes (Migrate needs one installed in the new
// product and collected).
constexpr bool SharesAnEdition(EditionCode a, EditionCode b) {
  for (Edition edition : kAllEditions) {
    if (HasEdition(a, edition) && HasEdition(b, edition)) return true;
  }
  return false;
}

constexpr std::string_view EditionFolderName(Edition edition) {
  return Traits(edition).folder_name;
}

constexpr std::string_view EditionName(Edition edition) { return Traits(edition).name; }

}  // namespace kdr
