#pragma once

#include <functional>
#include <string_view>

namespace kdr {

// Takes the bytes of something being written, one piece after another; false once a piece
// could not be taken (the writer may then stop).
using PutBytes = std::function<bool(std::string_view)>;

// Hands the content of something being written to `put` in pieces, in order; false gives the
// write up.
using ProduceBytes = std::function<bool(const PutBytes& put)>;

}  // namespace kdr
