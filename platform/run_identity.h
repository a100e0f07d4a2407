#pragma once

#include <string>

namespace kdr {

// Who runs the tool where, for the first lines of a log a helpdesk reads: the machine's name
// and the user's logon name, in UTF-8. "?" when the platform does not say.
std::string MachineName();
std::string UserName();

}  // namespace kdr
