#include "app/win32/migrate_app.h"

#include <commctrl.h>

#include "app/migrate_dlg.h"
#include "app/win32/migrate_dlg_window.h"
#include "platform/portable_profile_file.h"
#include "platform/run_identity.h"
#include "platform/user_state_folder.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_work_folder_locks.h"

namespace kdr::win {

int CMigrateApp::Run(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);

  Win32Registry registry;
  Win32FileSystem files;
  PortableProfileFile profiles(files);
  Services services{registry, files, profiles};
  services.max_path = MAX_PATH;
  services.user_state_folder = UserStateFolder();
  services.machine_name = MachineName();
  services.user_name = UserName();
  services.windows_text_files = true;
  // Collect and Migrate exclude a console run and another window on the same work folder.
  Win32WorkFolderLocks work_locks;
  services.work_locks = &work_locks;

  CMigrateDlgWindow dialog(services);
  // Exit and the close box both simply end the program.
  dialog.DoModal(instance);
  return 0;
}

}  // namespace kdr::win
