#pragma once

#include <functional>
#include <string_view>

namespace kdr {

// Takes the bytes of something being written, one piece after another; false once a piece
// could not be taken (the writer may then stop).
using PutBytes = std::function<bool(std::string_view)>;

}  // namespace kdr
