// Registry editor files: whatever is read can be saved, the saved file reads back into the same
// store, and saving that store again gives the same bytes, in both formats.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/memory_files.h"
#include "fuzz/registry_dump.h"
#include "platform/memory/registry_file.h"

using namespace kdr;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  MemoryRegistry first;
  RegistryFileLoadResult loaded = LoadRegistryFile(bytes, &first);
  if (!loaded.ok()) {
    // A refused file leaves the store as it was: empty.
    if (!(fuzz::Dump(first) == fuzz::Dump(MemoryRegistry()))) {
      fuzz::Fail("refused file changed the store");
    }
    return 0;
  }
  for (RegistryFileFormat format :
       {loaded.format, RegistryFileFormat::kRegedit4, RegistryFileFormat::kVersion5}) {
    RegistryFileSaveResult saved = SaveRegistryFile(first, format);
    if (!saved.ok()) {
      // REGEDIT4 holds every byte; only version 5 may refuse text it cannot carry.
      if (format == RegistryFileFormat::kRegedit4) fuzz::Fail("REGEDIT4 save refused");
      continue;
    }
    MemoryRegistry second;
    RegistryFileLoadResult reloaded = LoadRegistryFile(saved.bytes, &second);
    if (!reloaded.ok()) fuzz::Fail("saved file refused");
    if (reloaded.format != format) fuzz::Fail("saved file read in another format");
    if (!(fuzz::Dump(first) == fuzz::Dump(second))) fuzz::Fail("store differs after save and load");
    RegistryFileSaveResult again = SaveRegistryFile(second, format);
    if (!again.ok() || again.bytes != saved.bytes) fuzz::Fail("second save differs");
  }
  return 0;
}
