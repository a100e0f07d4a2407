#pragma once

// The window that owns any message a platform call shows, carried through the portable layers
// without naming the platform's window type. Never defined: only the platform's own code turns
// it into its window handle and back. A null pointer means no window.
namespace kdr {

struct OwnerWindow;

}  // namespace kdr
