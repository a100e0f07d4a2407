#pragma once

#include <array>
#include <string_view>

// The three editions of both products, and the codes that say which of them are present.
namespace kdr {

enum class Edition : int { kPersonal = 1, kClient = 2, kServer = 3 };

// Editions are always processed in this order.
inline constexpr std::array<Edition, 3> kAllEditions = {Edition::kPersonal, Edition::kClient,
                                                        Edition::kServer};

// A sum of edition weights (Personal 100, Client 10, Server 1), so 0 to 111.
using EditionCode = int;

// What belongs to each edition.
struct EditionTraits {
  EditionCode weight;
  std::string_view folder_name;  // in the work tree
  std::string_view name;         // for logs and the console
  std::string_view old_marker;   // installation marker of the old product, under HKLM
  std::string_view new_marker;   // the same for the new product
};

inline constexpr std::array<EditionTraits, 3> kEditionTraits = {{
    {100, "personal", "Personal", "Software\\VTQ\\Kodrel Personal",
     "Software\\VTQ\\Kodrel SE Personal"},
    {10, "client", "Client", "Software\\VTQ\\Kodrel Client", "Software\\VTQ\\Kodrel SE Client"},
    {1, "server", "Server", "Software\\VTQ\\Kodrel Server", "Software\\VTQ\\Kodrel SE Server"},
}};

constexpr const EditionTraits& Traits(Edition edition) {
  return kEditionTraits[static_cast<int>(edition) - 1];
}

constexpr EditionCode EditionWeight(Edition edition) { return Traits(edition).weight; }

// True when the edition's digit in `code` is 1.
constexpr bool HasEdition(EditionCode code, Edition edition) {
  return (code / EditionWeight(edition)) % 10 == 1;
}

constexpr std::string_view EditionFolderName(Edition edition) {
  return Traits(edition).folder_name;
}

constexpr std::string_view EditionName(Edition edition) { return Traits(edition).name; }

}  // namespace kdr
