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

constexpr EditionCode EditionWeight(Edition edition) {
  switch (edition) {
    case Edition::kPersonal:
      return 100;
    case Edition::kClient:
      return 10;
    case Edition::kServer:
      return 1;
  }
  return 0;
}

// True when the edition's digit in `code` is 1.
constexpr bool HasEdition(EditionCode code, Edition edition) {
  switch (edition) {
    case Edition::kPersonal:
      return code / 100 == 1;
    case Edition::kClient:
      return (code / 10) % 10 == 1;
    case Edition::kServer:
      return code % 10 == 1;
  }
  return false;
}

// The edition's folder name in the work tree.
constexpr std::string_view EditionFolderName(Edition edition) {
  switch (edition) {
    case Edition::kPersonal:
      return "personal";
    case Edition::kClient:
      return "client";
    case Edition::kServer:
      return "server";
  }
  return "";
}

// "Personal", "Client", "Server": for logs and the console.
constexpr std::string_view EditionName(Edition edition) {
  switch (edition) {
    case Edition::kPersonal:
      return "Personal";
    case Edition::kClient:
      return "Client";
    case Edition::kServer:
      return "Server";
  }
  return "";
}

}  // namespace kdr
