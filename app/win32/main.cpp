#include <windows.h>

#include "app/win32/migrate_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  kdr::win::CMigrateApp app;
  return app.Run(instance);
}
