#pragma once

#include <string>
#include <string_view>

#include "platform/cp932.h"

namespace kdr {

// Files that systems put into folders on their own (Thumbs.db, desktop.ini, .DS_Store, "._x"
// beside "x", anything in System Volume Information). A stick opened in Explorer or on a Mac
// gains them; they are harmless, so the store neither lists nor checks them.
// `path` is relative (code page 932, backslashes); `present` holds every file of the same
// tree, so that "._x" counts only beside an "x".
bool IsSystemClutter(std::string_view path, const Cp932NameViews& present);

}  // namespace kdr
