#include "platform/registry.h"

namespace kdr {

std::string DwordData(uint32_t value) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) data[i] = static_cast<char>((value >> (8 * i)) & 0xff);
  return data;
}

}  // namespace kdr
