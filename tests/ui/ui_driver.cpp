// Drives kdr4tose.exe through its windows, as a user would, and checks what it shows and what
// it leaves in the registry and on disk. One scenario per run:
//
//   ui_driver <scenario> <path of kdr4tose.exe>
//
// The calling script seeds the registry and the files each scenario expects (see run-ui-tests).
// press-* and run-* click a command in a kdr4tose.exe that the script started itself, for the
// kill test (wine_kill_window_test.sh), which ends it by its process id.
// Prints one line per check and returns 0 when every check passed.
// clang-format off
#include <windows.h>
#include <commctrl.h>  // after windows.h, whose types it uses
// clang-format on

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kExit = 1;
constexpr int kCollect = 1000;
constexpr int kMigrate = 1001;
constexpr int kAboutCommand = 16;
constexpr int kAboutVersionText = 1002;
constexpr int kMessageText = 0xFFFF;

const wchar_t kTitle[] = L"Kodrel4→SE移行ツール";
const wchar_t kAboutTitle[] = L"kdr4toseのﾊﾞｰｼﾞｮﾝ情報";
const wchar_t kProgressTitle[] = L"処理の進行状況";
constexpr int kProgressStep = 1010;
constexpr int kProgressCounts = 1012;
const wchar_t kStopQuestion[] = L"コピー中のファイルが終わったところで処理を中断して終了しますか？";

int failures = 0;

std::string Utf8(std::wstring_view text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size,
                        nullptr, nullptr);
  }
  return utf8;
}

void Print(std::wstring_view text) {
  std::string utf8 = Utf8(text) + '\n';
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

bool Check(bool ok, std::wstring_view what) {
  Print(std::wstring(ok ? L"ok   " : L"FAIL ") + std::wstring(what));
  if (!ok) ++failures;
  return ok;
}

bool CheckEqual(std::wstring_view actual, std::wstring_view expected, std::wstring_view what) {
  bool ok = actual == expected;
  std::wstring line(what);
  line += L": \"";
  line += actual;
  line += L"\"";
  if (!ok) {
    line += L", expected \"";
    line += expected;
    line += L"\"";
  }
  return Check(ok, line);
}

// Polls `done` every 50 ms until it holds or `timeout_ms` have passed.
bool WaitFor(const std::function<bool()>& done, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start > timeout_ms) return false;
    Sleep(50);
  }
}

std::wstring WindowText(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
  int got = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return name;
}

// The visible top-level dialogs (class #32770) owned by `owner`: its message boxes, or with
// `progress` its progress window.
std::vector<HWND> OwnedDialogs(HWND owner, bool progress = false) {
  struct Search {
    HWND owner;
    bool progress;
    std::vector<HWND> found;
  } search{owner, progress, {}};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        if (GetWindow(window, GW_OWNER) == s->owner && IsWindowVisible(window) &&
            ClassName(window) == L"#32770" &&
            (WindowText(window) == kProgressTitle) == s->progress) {
          s->found.push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForOwnedDialog(HWND owner, DWORD timeout_ms) {
  HWND found = nullptr;
  WaitFor(
      [&] {
        std::vector<HWND> dialogs = OwnedDialogs(owner);
        found = dialogs.empty() ? nullptr : dialogs.front();
        return found != nullptr;
      },
      timeout_ms);
  return found;
}

void Click(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

// Waits for the next message box of `dialog`, checks its caption and text, checks that the
// dialog is disabled meanwhile, and presses OK. False when none came.
bool ExpectMessage(HWND dialog, std::wstring_view text, DWORD timeout_ms = 20000) {
  HWND box = WaitForOwnedDialog(dialog, timeout_ms);
  if (!Check(box != nullptr, L"message box appears: " + std::wstring(text))) return false;
  CheckEqual(WindowText(GetDlgItem(box, kMessageText)), text, L"message text");
  CheckEqual(WindowText(box), L"kdr4tose", L"message caption");
  Check(!IsWindowEnabled(dialog), L"the dialog is disabled while the message box is open");
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  Check(WaitFor([&] { return !IsWindow(box); }, 5000), L"the message box closes on OK");
  return true;
}

// After the last expected message: none more within `quiet_ms`.
void ExpectNoMoreMessages(HWND dialog, DWORD quiet_ms = 1500) {
  HWND box = WaitForOwnedDialog(dialog, quiet_ms);
  std::wstring text = box ? WindowText(GetDlgItem(box, kMessageText)) : L"";
  Check(box == nullptr, L"no further message box" + (box ? L" (got \"" + text + L"\")" : L""));
}

struct Program {
  PROCESS_INFORMATION process = {};
  HWND dialog = nullptr;
  ~Program() {
    if (process.hProcess) {
      if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
      }
      CloseHandle(process.hProcess);
    }
    if (process.hThread) CloseHandle(process.hThread);
  }
};

bool Start(const std::wstring& exe, Program* program) {
  std::wstring folder = std::filesystem::path(exe).parent_path().wstring();
  std::wstring command = L"\"" + exe + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (!Check(CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            folder.c_str(), &startup, &program->process) != FALSE,
             L"kdr4tose.exe starts: " + exe)) {
    return false;
  }
  // The window exists before its controls do; it becomes visible once it is initialised,
  // unless initialisation stopped at a message box.
  WaitFor(
      [&] {
        program->dialog = FindWindowW(L"#32770", kTitle);
        return program->dialog != nullptr &&
               (IsWindowVisible(program->dialog) || !OwnedDialogs(program->dialog).empty());
      },
      20000);
  return Check(program->dialog != nullptr, L"the main dialog is found by its title");
}

// The progress window of a run of `dialog`, or null when none is open.
HWND ProgressWindow(HWND dialog) {
  std::vector<HWND> found = OwnedDialogs(dialog, true);
  return found.empty() ? nullptr : found.front();
}

// Waits for the run of `dialog` to end: its progress window gone.
bool RunEnds(HWND dialog, DWORD timeout_ms = 20000) {
  return Check(WaitFor([&] { return ProgressWindow(dialog) == nullptr; }, timeout_ms),
               L"the run ends: its progress window closes");
}

// Ends the program with Exit and checks that it goes away.
void ExitProgram(Program& program) {
  RunEnds(program.dialog);
  Check(Enabled(program.dialog, kExit), L"Exit is enabled");
  Click(program.dialog, kExit);
  Check(WaitForSingleObject(program.process.hProcess, 10000) == WAIT_OBJECT_0,
        L"the program ends after Exit");
  DWORD code = 1234;
  GetExitCodeProcess(program.process.hProcess, &code);
  Check(code == 0, L"exit code 0");
}

// Ends the program with a key (Enter or Escape) sent to the focused Exit button, or with the
// close box (`key` 0), and checks that it goes away.
void EndProgramBy(Program& program, WPARAM key) {
  HWND exit_button = GetDlgItem(program.dialog, kExit);
  if (key == 0) {
    PostMessageW(program.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else {
    PostMessageW(exit_button, WM_KEYDOWN, key, 0);
    PostMessageW(exit_button, WM_KEYUP, key, 0);
  }
  std::wstring how = key == VK_RETURN ? L"Enter" : key == VK_ESCAPE ? L"Escape" : L"the close box";
  Check(WaitForSingleObject(program.process.hProcess, 10000) == WAIT_OBJECT_0,
        L"the program ends after " + how);
}

void ExpectButtons(HWND dialog, bool collect, bool migrate, std::wstring_view when) {
  std::wstring suffix = L" (" + std::wstring(when) + L")";
  Check(Enabled(dialog, kCollect) == collect,
        std::wstring(collect ? L"Collect enabled" : L"Collect disabled") + suffix);
  Check(Enabled(dialog, kMigrate) == migrate,
        std::wstring(migrate ? L"Migrate enabled" : L"Migrate disabled") + suffix);
}

std::wstring Folder(const std::wstring& exe) {
  return std::filesystem::path(exe).parent_path().wstring();
}

bool FileHolds(const std::wstring& path, std::string_view bytes) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) return false;
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return content.find(bytes) != std::string::npos;
}

void ExpectFile(const std::wstring& path, std::string_view bytes) {
  Check(FileHolds(path, bytes), L"file " + path + L" holds what was expected");
}

std::wstring ReadString(HKEY root, const wchar_t* path, const wchar_t* name, bool* found) {
  *found = false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return L"";
  DWORD type = 0, size = 0;
  std::wstring value;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      type == REG_SZ) {
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
        ERROR_SUCCESS) {
      value.assign(data.data());
      *found = true;
    }
  }
  RegCloseKey(key);
  return value;
}

bool ReadDword(HKEY root, const wchar_t* path, const wchar_t* name, DWORD* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = sizeof(*value);
  bool ok = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD;
  RegCloseKey(key);
  return ok;
}

// Nothing installed: both commands disabled; the texts, the tooltips and the About box.
void NothingInstalled(const std::wstring& exe) {
  Program program;
  if (!Start(exe, &program)) return;
  HWND dialog = program.dialog;
  ExpectNoMoreMessages(dialog, 1000);
  CheckEqual(WindowText(GetDlgItem(dialog, kExit)), L"終了", L"button 1");
  CheckEqual(WindowText(GetDlgItem(dialog, kCollect)), L"情報収集開始", L"button 1000");
  CheckEqual(WindowText(GetDlgItem(dialog, kMigrate)), L"情報移行開始", L"button 1001");
  ExpectButtons(dialog, false, false, L"nothing installed");
  Check(Enabled(dialog, kExit), L"Exit enabled");
  Check(GetWindow(GetDlgItem(dialog, kExit), GW_HWNDNEXT) == GetDlgItem(dialog, kCollect) &&
            GetWindow(GetDlgItem(dialog, kCollect), GW_HWNDNEXT) == GetDlgItem(dialog, kMigrate),
        L"control order Exit, Collect, Migrate");
  Check((GetWindowLongPtrW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW) != 0,
        L"the dialog is shown in the taskbar");

  // The tooltip control: a top-level window of the tooltip class owned by the dialog.
  HWND tooltip = nullptr;
  {
    std::pair<HWND, HWND> found(dialog, nullptr);
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
          auto* f = reinterpret_cast<std::pair<HWND, HWND>*>(param);
          if (GetWindow(window, GW_OWNER) == f->first && ClassName(window) == TOOLTIPS_CLASSW) {
            f->second = window;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    tooltip = found.second;
  }
  if (Check(tooltip != nullptr, L"a tooltip control belongs to the dialog")) {
    Check(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0) == 3, L"the tooltip has three tools");
  }

  // About box through the system menu.
  PostMessageW(dialog, WM_SYSCOMMAND, kAboutCommand, 0);
  HWND about = WaitForOwnedDialog(dialog, 10000);
  if (Check(about != nullptr, L"system command 16 opens the About box")) {
    CheckEqual(WindowText(about), kAboutTitle, L"About title");
    CheckEqual(WindowText(GetDlgItem(about, kAboutVersionText)),
               L"Kodrel4→SE移行ツール Version 1.0", L"About text");
    PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(about, IDOK)));
    Check(WaitFor([&] { return !IsWindow(about); }, 5000), L"the About box closes on OK");
    Check(IsWindow(dialog) && IsWindowEnabled(dialog), L"the main dialog stays open");
  }
  // 16 to 31 all mean the About command; the low four bits are the system's.
  PostMessageW(dialog, WM_SYSCOMMAND, kAboutCommand + 5, 0);
  about = WaitForOwnedDialog(dialog, 10000);
  if (Check(about != nullptr && WindowText(about) == kAboutTitle,
            L"system command 21 opens the About box too")) {
    PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    Check(WaitFor([&] { return !IsWindow(about); }, 5000), L"the About box closes on Cancel");
  }
  ExitProgram(program);
}

// Old Personal and Client installed: both collected, messages in edition order.
void CollectTwo(const std::wstring& exe) {
  Program program;
  if (!Start(exe, &program)) return;
  HWND dialog = program.dialog;
  ExpectButtons(dialog, true, false, L"old Personal and Client installed, nothing collected");
  Click(dialog, kCollect);
  ExpectMessage(dialog, L"Kodrel4 Personalの情報を収集しました。");
  ExpectMessage(dialog, L"Kodrel4 Clientの情報を収集しました。");
  ExpectNoMoreMessages(dialog);
  ExpectButtons(dialog, true, false, L"after Collect, new product not installed");
  std::wstring root = Folder(exe) + L"\\kdr4env";
  ExpectFile(root + L"\\personal\\kdr4reg.fil", "[Software\\VTQ\\Kodrel\\Personal\\AppInfo\\App1]");
  ExpectFile(root + L"\\client\\kdr4reg.fil", "[Software\\VTQ\\Kodrel\\Client\\Common]");
  ExpectFile(root + L"\\client\\kdr4reg.fil", "SRVPORT=4:901f0000");
  Check(!FileHolds(root + L"\\client\\kdr4reg.fil", "secret"),
        L"the password is not written in plain text");
  ExpectFile(root + L"\\client\\DDBVID\\a.dat", "client video data");
  ExpectFile(root + L"\\client\\plog\\x.log", "client log");
  ExpectFile(root + L"\\personal\\DDBVID\\p.dat", "personal video data");
  ExpectFile(root + L"\\personal\\DDBDAT\\sub\\q.dat", "personal public data");
  Check(!std::filesystem::exists(root + L"\\server"), L"no Server folder");
  ExitProgram(program);
}

// Exit clicked at once after Collect: the stop question opens first, and the run's messages wait
// for its answer instead of opening over it. Answered no, the run goes on and tells them.
void QuestionStaysOnTop(const std::wstring& exe) {
  Program program;
  if (!Start(exe, &program)) return;
  HWND dialog = program.dialog;
  Click(dialog, kCollect);
  Click(dialog, kExit);
  HWND question = nullptr;
  WaitFor(
      [&] {
        for (HWND box : OwnedDialogs(dialog)) {
          if (WindowText(GetDlgItem(box, kMessageText)) == kStopQuestion) question = box;
        }
        return question != nullptr;
      },
      20000);
  if (!Check(question != nullptr, L"Exit during the run asks whether to stop")) return;
  // Longer than this small Collect takes to reach its first message.
  Sleep(3000);
  std::vector<HWND> boxes = OwnedDialogs(dialog);
  Check(boxes.size() == 1 && boxes.front() == question,
        L"nothing opens over the question (" + std::to_wstring(boxes.size()) + L" boxes)");
  PostMessageW(question, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(question, IDNO)));
  Check(WaitFor([&] { return !IsWindow(question); }, 5000), L"the question closes on no");
  ExpectMessage(dialog, L"Kodrel4 Personalの情報を収集しました。");
  ExpectMessage(dialog, L"Kodrel4 Clientの情報を収集しました。");
  ExpectNoMoreMessages(dialog);
  ExitProgram(program);
}

// New Client installed and the Client collected: Migrate moves settings and data.
void MigrateClient(const std::wstring& exe) {
  Program program;
  if (!Start(exe, &program)) return;
  HWND dialog = program.dialog;
  ExpectButtons(dialog, true, true, L"new Client installed, Client collected");
  Click(dialog, kMigrate);
  ExpectMessage(dialog, L"Kodrel Clientの情報を移行しました。");
  ExpectNoMoreMessages(dialog);
  DWORD port = 0;
  Check(
      ReadDword(HKEY_CURRENT_USER, L"Software\\VTQ\\KodrelSE\\Client\\Common", L"SRVPORT", &port) &&
          port == 8080,
      L"KodrelSE\\Client\\Common SRVPORT = 8080");
  bool found = false;
  std::wstring title =
      ReadString(HKEY_CURRENT_USER, L"Software\\VTQ\\KodrelSE\\Client\\AppInfo", L"Title", &found);
  Check(found, L"KodrelSE\\Client\\AppInfo Title exists");
  CheckEqual(title, L"販売管理", L"KodrelSE\\Client\\AppInfo Title");
  std::wstring password = ReadString(HKEY_CURRENT_USER, L"Software\\VTQ\\KodrelSE\\Client\\AppInfo",
                                     L"DB_PASS", &found);
  CheckEqual(password, L"secret", L"KodrelSE\\Client\\AppInfo DB_PASS");
  ReadString(HKEY_CURRENT_USER, L"Software\\VTQ\\KodrelSE\\Personal\\AppInfo\\App1", L"Name",
             &found);
  Check(!found, L"Personal is not migrated (new Personal not installed)");
  ExpectFile(L"C:\\new\\cprv\\DDBVID\\a.dat", "client video data");
  ExpectFile(L"C:\\new\\cprv\\log\\x.log", "client log");
  ExpectFile(L"C:\\new\\cprv\\log\\keep.log", "already there");
  ExpectButtons(dialog, true, true, L"after Migrate");
  bool journal = false;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(Folder(exe) + L"\\kdr4env\\backup", error)) {
    journal = journal || std::filesystem::exists(entry.path() / L"kdr4tose.undo");
  }
  Check(journal, L"the Migrate left a backup with its journal");
  EndProgramBy(program, VK_RETURN);
}

// One changed byte in a collected data file: Migrate leaves the Client out, says how many files
// and where the log is, and writes nothing; the byte put back, the store is whole again.
void MigrateDamagedStore(const std::wstring& exe) {
  const std::wstring env = Folder(exe) + L"\\kdr4env";
  const std::filesystem::path data = env + L"\\client\\DDBVID\\a.dat";
  std::string bytes;
  {
    std::ifstream in(data, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (!Check(!bytes.empty(), L"the collected a.dat is there")) return;
  auto write = [&](const std::string& content) {
    std::ofstream out(data, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
  };
  std::string damaged = bytes;
  damaged[0] ^= 0x20;
  if (!Check(write(damaged), L"one byte of a.dat is changed")) return;
  {
    Program program;
    if (!Start(exe, &program)) return;
    HWND dialog = program.dialog;
    Click(dialog, kMigrate);
    // The cause and what to do, and nothing after it that would name another cause.
    ExpectMessage(
        dialog,
        L"収集したKodrel4 Clientの情報に内容が変わったファイルが1個有るため、"
        L"移行せず、その詳細を" +
            env + L"\\kdr4tose.logに記録しましたので、「情報収集開始」で収集し直してください。");
    ExpectNoMoreMessages(dialog);
    bool found = false;
    ReadString(HKEY_CURRENT_USER, L"Software\\VTQ\\KodrelSE\\Client\\AppInfo", L"Title", &found);
    Check(!found, L"nothing of the damaged Client is migrated");
    Check(!std::filesystem::exists(L"C:\\new\\cprv\\DDBVID\\a.dat"), L"no data file is copied");
    ExpectFile(env + L"\\kdr4tose.log", "DDBVID\\a.dat");
    EndProgramBy(program, VK_RETURN);
  }
  Check(write(bytes), L"a.dat is put back");
  // What Explorer drops into a folder is no change; any other file added is, named as added.
  // Thumbs.db stays for the Migrate that follows, which takes the store as whole.
  std::ofstream(std::filesystem::path(env + L"\\client\\Thumbs.db"), std::ios::binary).put('\0');
  std::ofstream(std::filesystem::path(env + L"\\client\\DDBVID\\other.dat"), std::ios::binary)
      << "other";
  {
    Program program;
    if (!Start(exe, &program)) return;
    Click(program.dialog, kMigrate);
    ExpectMessage(
        program.dialog,
        L"収集したKodrel4 Clientの情報に追加されたファイルが1個有るため、"
        L"移行せず、その詳細を" +
            env + L"\\kdr4tose.logに記録しましたので、「情報収集開始」で収集し直してください。");
    ExpectNoMoreMessages(program.dialog);
    EndProgramBy(program, VK_RETURN);
  }
  Check(std::filesystem::remove(env + L"\\client\\DDBVID\\other.dat"), L"other.dat is removed");
}

// The once-a-second refresh: removing the work folder tree disables Migrate.
void RefreshAfterRemoval(const std::wstring& exe) {
  Program program;
  if (!Start(exe, &program)) return;
  HWND dialog = program.dialog;
  ExpectButtons(dialog, true, true, L"before the work folders are removed");
  std::error_code error;
  std::filesystem::remove_all(Folder(exe) + L"\\kdr4env", error);
  Check(!error, L"the work folder tree is removed");
  DWORD start = GetTickCount();
  bool disabled = WaitFor([&] { return !Enabled(dialog, kMigrate); }, 2000);
  Check(disabled, L"Migrate is disabled within two seconds (" +
                      std::to_wstring(GetTickCount() - start) + L" ms)");
  ExpectButtons(dialog, true, false, L"after the removal");
  EndProgramBy(program, 0);
}

// A file that cannot be copied (a folder stands where it goes): the edition's message, then how
// many files were not copied and where to read why; the log names the file.
void CollectNotCopied(const std::wstring& exe) {
  std::wstring root = Folder(exe) + L"\\kdr4env";
  std::error_code error;
  std::filesystem::create_directories(root + L"\\client\\DDBVID\\a.dat", error);
  if (!Check(!error, L"a folder stands where a.dat goes")) return;
  Program program;
  if (!Start(exe, &program)) return;
  HWND dialog = program.dialog;
  Click(dialog, kCollect);
  ExpectMessage(dialog, L"Kodrel4 Personalの情報を収集しました。");
  // Client failed: its message says so, never that it was collected.
  const std::wstring not_copied =
      L"Kodrel4 Clientの情報のうち1個のファイルを収集できなかった"
      L"ため、その詳細を" +
      root + L"\\kdr4tose.logに記録しました。";
  ExpectMessage(dialog, not_copied);
  ExpectNoMoreMessages(dialog);
  ExpectFile(root + L"\\client\\plog\\x.log", "client log");
  // The log is UTF-8: the file's line, with the call and the Win32 error that stopped it.
  ExpectFile(root + L"\\kdr4tose.log", "FAIL\tC:\\old\\cprv\\DDBVID\\a.dat\tCopyFile ");
  // Windows text: CR LF, and the byte order mark that opens the file.
  ExpectFile(root + L"\\kdr4tose.log", "SHOW\t" + Utf8(not_copied) + "\r\n");
  ExpectFile(root + L"\\kdr4tose.log", "\xEF\xBB\xBF#\tcollect, ");
  ExitProgram(program);
}

// A click that reaches Migrate while a message box of a Migrate is up, and the refresh that
// runs meanwhile: the buttons stay disabled and no run starts inside the run.
void NoRunInsideARun(const std::wstring& exe) {
  Program program;
  if (!Start(exe, &program)) return;
  HWND dialog = program.dialog;
  Click(dialog, kMigrate);
  HWND box = WaitForOwnedDialog(dialog, 20000);
  if (!Check(box != nullptr, L"the Migrate's message box appears")) return;
  Sleep(1500);  // more than one refresh
  ExpectButtons(dialog, false, false, L"while the run's message box is up");
  Click(dialog, kMigrate);
  Click(dialog, kCollect);
  Sleep(1500);
  std::vector<HWND> boxes = OwnedDialogs(dialog);
  Check(boxes.size() == 1 && boxes.front() == box,
        L"the clicks start nothing: one message box, the run's (" + std::to_wstring(boxes.size()) +
            L")");
  ExpectMessage(dialog, L"Kodrel Clientの情報を移行しました。");
  ExpectNoMoreMessages(dialog);
  ExpectButtons(dialog, true, true, L"after the run");
  ExitProgram(program);
}

// Collect of Personal and Client, where `folders` folders of Client could not be copied.
void CollectWithFoldersNotCopied(HWND dialog, const std::wstring& exe, int folders) {
  Click(dialog, kCollect);
  ExpectMessage(dialog, L"Kodrel4 Personalの情報を収集しました。");
  ExpectMessage(dialog, L"Kodrel4 Clientの情報のうち" + std::to_wstring(folders) +
                            L"個のフォルダを収集できなかったため、その詳細を" + Folder(exe) +
                            L"\\kdr4env\\kdr4tose.logに記録しました。");
  ExpectNoMoreMessages(dialog);
}

// A data folder on a drive or share that cannot be reached: the folders count as not copied.
void CollectUnreachable(const std::wstring& exe) {
  Program program;
  if (!Start(exe, &program)) return;
  CollectWithFoldersNotCopied(program.dialog, exe, 2);
  ExitProgram(program);
}

// The program inside the Client's DDBVID, whose PRV_PATH names it through a second drive
// letter: the copy into itself is refused, not made nine levels deep.
void CollectThroughAlias(const std::wstring& exe) {
  Program program;
  if (!Start(exe, &program)) return;
  CollectWithFoldersNotCopied(program.dialog, exe, 1);
  std::wstring client = Folder(exe) + L"\\kdr4env\\client";
  Check(!std::filesystem::exists(client + L"\\DDBVID\\tool"),
        L"the store is not copied into itself");
  ExpectFile(client + L"\\plog\\x.log", "client log");
  ExitProgram(program);
}

// A Migrate that stopped while it wrote (its process ended by force): one message on start.
void UnfinishedOnStart(const std::wstring& exe) {
  Program program;
  if (!Start(exe, &program)) return;
  HWND dialog = program.dialog;
  ExpectMessage(dialog,
                L"前回の情報移行が途中で終了しているため、もう一度「情報移行開始」を実行するか、"
                L"kdr4tose-cli undoで移行前の状態に戻してください。");
  ExpectNoMoreMessages(dialog);
  EndProgramBy(program, VK_ESCAPE);
}

// The program in a folder with a Japanese name, its work folder held by another run (as a
// console run holds it: a byte-range lock far past the end of kdr4env\kdr4tose.lock): Collect
// says so and does nothing; once the other run is gone it collects.
void WorkFolderBusy(const std::wstring& exe) {
  std::wstring env = Folder(exe) + L"\\kdr4env";
  CreateDirectoryW(env.c_str(), nullptr);
  HANDLE other = CreateFileW((env + L"\\kdr4tose.lock").c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  OVERLAPPED far_away{};
  far_away.OffsetHigh = 0x7fffffff;
  if (!Check(other != INVALID_HANDLE_VALUE &&
                 LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                            &far_away),
             L"the other run holds the work folder")) {
    return;
  }
  Program program;
  if (!Start(exe, &program)) return;
  HWND dialog = program.dialog;
  Click(dialog, kCollect);
  ExpectMessage(
      dialog,
      L"別のkdr4toseが作業フォルダを使用中のため、そちらが終了してからもう一度実行してください。");
  ExpectNoMoreMessages(dialog);
  Check(!std::filesystem::exists(env + L"\\client"), L"nothing collected while it is held");
  CloseHandle(other);
  Click(dialog, kCollect);
  ExpectMessage(dialog, L"Kodrel4 Personalの情報を収集しました。");
  ExpectMessage(dialog, L"Kodrel4 Clientの情報を収集しました。");
  ExpectNoMoreMessages(dialog);
  ExpectFile(env + L"\\client\\DDBVID\\a.dat", "client video data");
  ExitProgram(program);
}

// An executable folder too long for the work paths: the message, then no command.
void FolderTooLong(const std::wstring& exe) {
  Program program;
  if (!Start(exe, &program)) return;
  HWND dialog = program.dialog;
  ExpectMessage(dialog,
                L"このプログラムを置いたフォルダのパスが長すぎて情報の収集と移行ができないため、"
                L"C:\\kdr4toseのような短いパスのフォルダに移してから実行してください。");
  ExpectNoMoreMessages(dialog, 1000);
  WaitFor([&] { return IsWindowVisible(dialog) != FALSE; }, 5000);
  ExpectButtons(dialog, false, false, L"folder too long, old editions installed");
  Sleep(1500);  // and the refresh keeps them so
  ExpectButtons(dialog, false, false, L"folder too long, after a refresh");
  Check(!std::filesystem::exists(Folder(exe) + L"\\kdr4env"), L"no work folder was made");
  EndProgramBy(program, VK_ESCAPE);
}

// For the kill tests, the window of a kdr4tose.exe that the calling script started (so that it
// can end its process): up, with no message box open and command `id` enabled.
HWND RunningDialog(int id) {
  HWND dialog = nullptr;
  bool ready = WaitFor(
      [&] {
        dialog = FindWindowW(L"#32770", kTitle);
        return dialog != nullptr && IsWindowVisible(dialog) && OwnedDialogs(dialog).empty() &&
               Enabled(dialog, id);
      },
      30000);
  Check(ready, L"the running window is up with its command enabled");
  return ready ? dialog : nullptr;
}

// Clicks command `id` and returns once its run has begun (its progress window open), leaving it
// running.
bool Press(HWND dialog, int id) {
  Click(dialog, id);
  return Check(WaitFor([&] { return ProgressWindow(dialog) != nullptr; }, 20000),
               L"the run begins");
}

// `press`: the click alone. `run`: the click, the time until the run's first message, every
// message answered, then Exit.
void PressInRunningWindow(int id, bool to_the_end) {
  HWND dialog = RunningDialog(id);
  if (dialog == nullptr) return;
  DWORD start = GetTickCount();
  if (!Press(dialog, id) || !to_the_end) return;
  HWND box = WaitForOwnedDialog(dialog, 300000);
  if (!Check(box != nullptr, L"the run shows its message")) return;
  Print(L"first message after " + std::to_wstring(GetTickCount() - start) + L" ms: " +
        WindowText(GetDlgItem(box, kMessageText)));
  while (box != nullptr) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    WaitFor([&] { return !IsWindow(box); }, 5000);
    box = WaitForOwnedDialog(dialog, 1500);
  }
  RunEnds(dialog);
  Check(Enabled(dialog, kExit), L"Exit is enabled after the run");
  Click(dialog, kExit);
}

// Whether `dialog` answers a message within 200 ms; *took_ms says how long it took.
bool Answers(HWND dialog, DWORD* took_ms) {
  DWORD_PTR result = 0;
  DWORD start = GetTickCount();
  LRESULT ok = SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 200, &result);
  *took_ms = GetTickCount() - start;
  return ok != 0;
}

// The cursor shown with the mouse at `at` (screen coordinates), once the window under it has
// had the move and set its cursor on its own thread.
HCURSOR CursorAt(POINT at) {
  SetCursorPos(at.x, at.y);
  Sleep(300);
  CURSORINFO info = {};
  info.cbSize = sizeof(info);
  return GetCursorInfo(&info) ? info.hCursor : nullptr;
}

POINT Middle(HWND window) {
  RECT area = {};
  GetWindowRect(window, &area);
  return {(area.left + area.right) / 2, (area.top + area.bottom) / 2};
}

// During a run: over the dialog the wait cursor, the same as over the progress window, but over
// Exit, which still answers, the arrow. The cursors are the program's own handles, so they are
// told apart by comparing them with each other.
void ExpectWaitCursor(HWND dialog, HWND progress) {
  // A point of the dialog's client area that no control or window covers: a corner of it.
  RECT client = {};
  GetClientRect(dialog, &client);
  POINT corner = {4, client.bottom - 4};
  ClientToScreen(dialog, &corner);
  if (!Check(WindowFromPoint(corner) == dialog, L"a corner of the dialog is uncovered")) return;
  HCURSOR over_dialog = CursorAt(corner);
  HCURSOR over_progress = CursorAt(Middle(progress));
  HCURSOR over_exit = CursorAt(Middle(GetDlgItem(dialog, kExit)));
  Check(over_dialog != nullptr && over_dialog == over_progress,
        L"the dialog shows the progress window's wait cursor during the run");
  Check(over_exit != nullptr && over_exit != over_dialog, L"Exit shows the arrow during the run");
}

// Clicks command `id`, probes the window every 250 ms throughout the run and reads its progress
// window; once the text has moved (for Migrate: once it copies), presses Exit and answers yes:
// the run stops and the program ends.
void StopInRunningWindow(int id) {
  HWND dialog = RunningDialog(id);
  if (dialog == nullptr || !Press(dialog, id)) return;
  std::vector<std::wstring> seen;
  int probes = 0;
  int late = 0;
  DWORD slowest = 0;
  bool asked = false;
  HWND question = nullptr;
  DWORD pressed_at = 0;
  while (IsWindow(dialog) && (!asked || GetTickCount() - pressed_at < 120000)) {
    DWORD took = 0;
    // A probe that found the window ended (the program ending) is no late answer.
    if ((!Answers(dialog, &took) && IsWindow(dialog)) || took > 200) ++late;
    ++probes;
    slowest = std::max(slowest, took);
    if (HWND progress = ProgressWindow(dialog)) {
      std::wstring text = WindowText(GetDlgItem(progress, kProgressStep)) + L" | " +
                          WindowText(GetDlgItem(progress, kProgressCounts));
      if (seen.empty() || seen.back() != text) {
        seen.push_back(text);
        Print(L"progress: " + text);
      }
    }
    // Collect: once files are counted done; Migrate: as soon as it copies, before its copies end.
    bool copying = !seen.empty() && seen.back().find(L"コピー") != std::wstring::npos;
    bool counted = copying && seen.back().find(L"| 0／") == std::wstring::npos;
    if (!asked && seen.size() >= 3 && (id == kCollect ? counted : copying)) {
      if (HWND progress = ProgressWindow(dialog); progress != nullptr && id == kCollect) {
        ExpectWaitCursor(dialog, progress);
      }
      Click(dialog, kExit);
      asked = true;
      pressed_at = GetTickCount();
    }
    if (asked && question == nullptr) {
      for (HWND box : OwnedDialogs(dialog)) {
        if (WindowText(GetDlgItem(box, kMessageText)) != kStopQuestion) continue;
        question = box;
        // Exit once more while the question is open: the dialog is disabled, nothing changes.
        Click(dialog, kExit);
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, IDYES)));
        Print(L"asked to stop after " + std::to_wstring(seen.size()) + L" progress texts");
      }
    }
    Sleep(250);
  }
  Print(L"probes " + std::to_wstring(probes) + L", slowest answer " + std::to_wstring(slowest) +
        L" ms");
  Check(probes >= 8 && late == 0, L"the window answered every probe within 200 ms (" +
                                      std::to_wstring(late) + L" late of " +
                                      std::to_wstring(probes) + L")");
  Check(seen.size() >= 3, L"the progress window's text moved");
  Check(question != nullptr, L"Exit during the run asks whether to stop");
  Check(!IsWindow(dialog), L"the program ends once the run has stopped");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    Print(
        L"usage: ui_driver nothing|collect|hold|busy|damaged|migrate|reenter|refresh|notcopied|"
        L"unreachable|alias|unfinished|longpath|press-collect|press-migrate|run-collect|"
        L"run-migrate|stop-collect|stop-migrate <kdr4tose.exe>");
    return 2;
  }
  std::wstring scenario = argv[1];
  std::wstring exe = argv[2];
  Print(L"== " + scenario);
  if (scenario == L"nothing") {
    NothingInstalled(exe);
  } else if (scenario == L"collect") {
    CollectTwo(exe);
  } else if (scenario == L"hold") {
    QuestionStaysOnTop(exe);
  } else if (scenario == L"damaged") {
    MigrateDamagedStore(exe);
  } else if (scenario == L"migrate") {
    MigrateClient(exe);
  } else if (scenario == L"refresh") {
    RefreshAfterRemoval(exe);
  } else if (scenario == L"notcopied") {
    CollectNotCopied(exe);
  } else if (scenario == L"reenter") {
    NoRunInsideARun(exe);
  } else if (scenario == L"unreachable") {
    CollectUnreachable(exe);
  } else if (scenario == L"alias") {
    CollectThroughAlias(exe);
  } else if (scenario == L"unfinished") {
    UnfinishedOnStart(exe);
  } else if (scenario == L"busy") {
    WorkFolderBusy(exe);
  } else if (scenario == L"longpath") {
    FolderTooLong(exe);
  } else if (scenario.starts_with(L"stop-")) {
    StopInRunningWindow(scenario.ends_with(L"-collect") ? kCollect : kMigrate);
  } else if (scenario.starts_with(L"press-") || scenario.starts_with(L"run-")) {
    // The window the script started; `exe` only names it.
    bool collect = scenario.ends_with(L"-collect");
    PressInRunningWindow(collect ? kCollect : kMigrate, scenario.starts_with(L"run-"));
  } else {
    Print(L"unknown scenario");
    return 2;
  }
  Print(failures == 0 ? L"passed" : L"FAILED: " + std::to_wstring(failures));
  return failures == 0 ? 0 : 1;
}
