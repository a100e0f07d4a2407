#include "app/win32/migrate_dlg_window.h"

#include <commctrl.h>

#include <vector>

#include "app/messages.h"
#include "app/win32/about_dlg.h"
#include "platform/win32/wide_text.h"
#include "res/resource.h"

// The dialog logic names the buttons by the ids the resource script gives them.
static_assert(kdr::kCollectButton == IDC_COLLECT);
static_assert(kdr::kMigrateButton == IDC_MIGRATE);
static_assert(kdr::kExitButton == IDOK);

namespace kdr::win {

namespace {

constexpr std::string_view kCollectTip = "Kodrel4で設定した情報を収集します";
constexpr std::string_view kMigrateTip = "Kodrel4で設定した情報をKodrelSEに移行します";
constexpr std::string_view kExitTip = "終了します";

constexpr UINT kRefreshPeriodMs = 1000;

// The run's thread asks the window's thread to carry out a call (lparam: the function).
constexpr UINT kCallOnWindowThread = WM_APP + 1;
// The run's thread has ended its command.
constexpr UINT kRunEnded = WM_APP + 2;

// Calls `get(buffer, size)` (a GetModuleFileName of either width) with a buffer that grows
// until the whole path fits. Empty on failure.
template <typename Char, typename Get>
std::basic_string<Char> WholeModulePath(Get get) {
  std::vector<Char> buffer(MAX_PATH);
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD length = get(buffer.data(), size);
    if (length == 0) return {};
    // A cut path fills the buffer exactly; anything shorter is whole.
    if (length < size) return std::basic_string<Char>(buffer.data(), length);
    if (buffer.size() >= 32768 * 4) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string ModulePathAnsi() {
  return WholeModulePath<char>(
      [](char* buffer, DWORD size) { return GetModuleFileNameA(nullptr, buffer, size); });
}

std::wstring ModuleTitle() {
  std::wstring path = WholeModulePath<wchar_t>(
      [](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); });
  size_t slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) name.resize(dot);
  return name;
}

CMigrateDlgWindow::CMigrateDlgWindow(const Services& services)
    : logic_(services, *this), caption_(ModuleTitle()) {
  logic_.set_progress(&progress_);
}

CMigrateDlgWindow::~CMigrateDlgWindow() {
  // The window ends only once a run has; this holds should it end otherwise.
  progress_.RequestStop();
  if (worker_.joinable()) worker_.join();
}

INT_PTR CMigrateDlgWindow::DoModal(HINSTANCE instance) {
  return CDialog::DoModal(instance, IDD_KDR4TOSE_DIALOG, nullptr);
}

void CMigrateDlgWindow::OnWindowThread(const std::function<void()>& call) {
  if (GetCurrentThreadId() == window_thread_ || !window()) {
    call();
    return;
  }
  // Posted, not sent: a sent message would be carried out inside any modal loop the window's
  // thread is in, the stop question's too.
  PendingCall pending{&call};
  if (!PostMessageW(window(), kCallOnWindowThread, 0, reinterpret_cast<LPARAM>(&pending))) {
    SendMessageW(window(), kCallOnWindowThread, 0, reinterpret_cast<LPARAM>(&pending));
  }
  std::unique_lock<std::mutex> lock(calls_mutex_);
  call_done_.wait(lock, [&] { return pending.done; });
}

void CMigrateDlgWindow::Carry(PendingCall* pending) {
  (*pending->call)();
  {
    std::lock_guard<std::mutex> lock(calls_mutex_);
    pending->done = true;
  }
  call_done_.notify_all();
}

void CMigrateDlgWindow::EnableControl(int control_id, bool enable) {
  // Exit stays usable during a run that has a thread of its own: it asks to stop it.
  if (control_id == kExitButton && !enable && running_) return;
  OnWindowThread([&] { EnableItem(control_id, enable); });
}

void CMigrateDlgWindow::ShowMessage(std::string_view text) {
  OnWindowThread([&] { TellUser(text, MB_OK, nullptr); });
}

void CMigrateDlgWindow::TellUser(std::string_view text, UINT type, int* answer) {
  std::wstring wide = Utf8ToWide(text);
  int got = MessageBoxW(window(), wide.c_str(), caption_.c_str(), type);
  if (answer) *answer = got;
}

bool CMigrateDlgWindow::OnAppMessage(UINT message, WPARAM /*wparam*/, LPARAM lparam) {
  switch (message) {
    case kCallOnWindowThread: {
      auto* pending = reinterpret_cast<PendingCall*>(lparam);
      if (asking_) {
        held_calls_.push_back(pending);
      } else {
        Carry(pending);
      }
      return true;
    }
    case kRunEnded:
      RunEnded();
      return true;
    default:
      return false;
  }
}

void CMigrateDlgWindow::StartRun(bool migrate) {
  if (running_) return;
  running_ = true;
  // Off at once, before the run's thread gets to it, so that a second click finds them so.
  EnableItem(IDC_COLLECT, false);
  EnableItem(IDC_MIGRATE, false);
  progress_window_.Open(instance(), window());
  worker_ = std::thread([this, migrate] {
    if (migrate) {
      logic_.OnMigrate();
    } else {
      logic_.OnCollect();
    }
    PostMessageW(window(), kRunEnded, 0, 0);
  });
}

void CMigrateDlgWindow::RunEnded() {
  if (worker_.joinable()) worker_.join();
  running_ = false;
  progress_window_.Close();
  EnableItem(IDOK, true);
  // The cursor over the window is the arrow again, without waiting for the mouse to move.
  POINT at = {};
  if (GetCursorPos(&at) && WindowFromPoint(at) == window()) {
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  }
  if (exit_after_run_) {
    EndDialog(IDOK);
    return;
  }
  logic_.RefreshButtons();
}

void CMigrateDlgWindow::AskToStop() {
  // Asked once at a time: Exit pressed again while the question is open (its click may already
  // be queued) or while the run stops changes nothing.
  if (progress_.StopRequested() || asking_) return;
  asking_ = true;
  int answer = IDNO;
  TellUser(kStopRunQuestion, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, &answer);
  asking_ = false;
  if (answer == IDYES && running_) {
    exit_after_run_ = true;
    progress_.RequestStop();
  }
  std::vector<PendingCall*> held;
  held.swap(held_calls_);
  for (PendingCall* pending : held) Carry(pending);
  if (answer != IDYES) return;
  // The run ended while the question was open.
  if (!running_ && !exit_after_run_) EndDialog(IDOK);
}

bool CMigrateDlgWindow::OnSetCursor(HWND over, int hit_test) {
  // The wait cursor over the window during a run, except over Exit, which still answers.
  if (!running_ || hit_test != HTCLIENT || over == Item(IDOK)) return false;
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  return true;
}

bool CMigrateDlgWindow::OnInit() {
  window_thread_ = GetCurrentThreadId();
  AddAboutMenuItem();
  SetIcons();
  CreateToolTips();
  if (logic_.InitWorkPaths(ModulePathAnsi())) logic_.TellUnfinishedMigrate();
  logic_.RefreshButtons();
  refresh_timer_.Start(window(), IDT_REFRESH, kRefreshPeriodMs);
  return true;
}

void CMigrateDlgWindow::AddAboutMenuItem() {
  HMENU menu = GetSystemMenu(window(), FALSE);
  if (!menu) return;
  // LoadStringW with a zero length hands back a pointer to the resource's own text.
  const wchar_t* text = nullptr;
  int length = LoadStringW(instance(), IDS_ABOUTBOX, reinterpret_cast<wchar_t*>(&text), 0);
  if (length <= 0 || !text) return;
  std::wstring item(text, static_cast<size_t>(length));
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, item.c_str());
}

void CMigrateDlgWindow::SetIcons() {
  big_icon_.reset(
      static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0)));
  small_icon_.reset(static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                  IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                  GetSystemMetrics(SM_CYSMICON), 0)));
  SendMessageW(window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_.get()));
  SendMessageW(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_.get()));
}

void CMigrateDlgWindow::CreateToolTips() {
  tooltip_.reset(CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                 window(), nullptr, instance(), nullptr));
  if (!tooltip_.get()) return;
  AddToolTip(IDC_COLLECT, kCollectTip);
  AddToolTip(IDC_MIGRATE, kMigrateTip);
  AddToolTip(IDOK, kExitTip);
  SendMessageW(tooltip_.get(), TTM_ACTIVATE, TRUE, 0);
}

void CMigrateDlgWindow::AddToolTip(int control_id, std::string_view text) {
  std::wstring wide = Utf8ToWide(text);
  TOOLINFOW tool = {};
  tool.cbSize = sizeof(tool);
  // TTF_SUBCLASS: the tooltip watches the button's own mouse messages, which is what relaying
  // them from a message loop would do; the modal dialog's loop is the system's.
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window();
  tool.uId = reinterpret_cast<UINT_PTR>(Item(control_id));
  tool.lpszText = wide.data();
  SendMessageW(tooltip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

bool CMigrateDlgWindow::OnCommand(int id, int notify_code) {
  switch (id) {
    case IDC_COLLECT:
      if (notify_code == BN_CLICKED) StartRun(false);
      return true;
    case IDC_MIGRATE:
      if (notify_code == BN_CLICKED) StartRun(true);
      return true;
    case IDOK:
    case IDCANCEL:
      if (!running_) return CDialog::OnCommand(id, notify_code);
      AskToStop();
      return true;
    default:
      return CDialog::OnCommand(id, notify_code);
  }
}

void CMigrateDlgWindow::OnTimer(UINT_PTR id) {
  // The run's thread owns the buttons until it ends.
  if (id == IDT_REFRESH && !running_) logic_.RefreshButtons();
}

bool CMigrateDlgWindow::OnSysCommand(WPARAM command) {
  if ((command & 0xFFF0) != IDM_ABOUTBOX) return false;
  CAboutDlg about;
  about.DoModal(instance(), window());
  return true;
}

bool CMigrateDlgWindow::OnIconEraseBackground(HDC dc) {
  if (!IsIconic(window())) return false;
  RECT client = {};
  GetClientRect(window(), &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_3DFACE));
  return true;
}

bool CMigrateDlgWindow::OnPaint() {
  if (!IsIconic(window())) return false;
  PAINTSTRUCT paint = {};
  HDC dc = BeginPaint(window(), &paint);
  if (!dc) return true;
  SendMessageW(window(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  int icon_width = GetSystemMetrics(SM_CXICON);
  int icon_height = GetSystemMetrics(SM_CYICON);
  RECT client = {};
  GetClientRect(window(), &client);
  int x = (client.right - client.left - icon_width + 1) / 2;
  int y = (client.bottom - client.top - icon_height + 1) / 2;
  DrawIcon(dc, x, y, big_icon_.get());
  EndPaint(window(), &paint);
  return true;
}

void CMigrateDlgWindow::OnDestroy() {
  refresh_timer_.Stop();
  tooltip_.reset();
}

}  // namespace kdr::win
