// A windowed sample host: a Run button that calls ExecuteHDW.dll (linked
// through its import library), a counter that a 50 ms timer advances, and a
// field that shows the answer. The counter goes on advancing while the call
// waits for the child, because the call dispatches this thread's window
// messages meanwhile.
//
//   hdwdemo [--child COMMAND-LINE] [--auto] [--report PATH] [--linger-ms N]
//
//   --child      the command line that Run passes to the call (default: none,
//                so the call runs "<InstallDir>\KVT.exe d"; with --auto the
//                default is the sample companion answering after 1.5 s)
//   --auto       press Run once the window is up; when the answer is shown,
//                write the report, wait --linger-ms (default 1000) and exit
//   --report     where --auto writes its result line, in UTF-8:
//                "counter_before=N counter_after=N started=N answer=TEXT"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>

#include "ExecuteHDW.h"

namespace {

constexpr wchar_t kWindowClass[] = L"HdwDemoWindow";
constexpr UINT_PTR kCounterTimer = 1;
constexpr UINT_PTR kExitTimer = 2;
constexpr UINT kCounterPeriodMs = 50;
constexpr UINT kAutoRunMessage = WM_APP + 1;
constexpr int kRunButtonId = 100;
constexpr unsigned kCodePage936 = 936;
constexpr int kStartedUnset = -1;
// An answer is at most 20 bytes; a launch failure text fills at most the
// whole 40-byte area, zero byte included.
constexpr std::size_t kAnswerLimit = 20;
constexpr std::size_t kLaunchFailureLimit = 40;
constexpr char kSlowCompanion[] =
    "\"C:\\Program Files\\tavrel\\KVT\\KVT.exe\" d 1500";

struct Options {
  std::optional<std::string> child;
  bool auto_run = false;
  std::wstring report_path;
  UINT linger_ms = 1000;
};

struct Controls {
  HWND counter = nullptr;
  HWND run = nullptr;
  HWND command = nullptr;
  HWND answer = nullptr;
  HWND status = nullptr;
};

struct State {
  Options options;
  Controls controls;
  HFONT ui_font = nullptr;
  HFONT answer_font = nullptr;
  unsigned counter = 0;
  bool running = false;
  bool close_pending = false;
};

State state;

std::wstring wide_from(const char* text, std::size_t length, unsigned code) {
  if (length == 0) return std::wstring();
  const int size = ::MultiByteToWideChar(code, 0, text,
                                         static_cast<int>(length), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(code, 0, text, static_cast<int>(length), wide.data(),
                        size);
  return wide;
}

std::string narrow_from(const std::wstring& wide, unsigned code) {
  if (wide.empty()) return std::string();
  const int size = ::WideCharToMultiByte(code, 0, wide.c_str(),
                                         static_cast<int>(wide.size()), nullptr,
                                         0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(code, 0, wide.c_str(), static_cast<int>(wide.size()),
                        narrow.data(), size, nullptr, nullptr);
  return narrow;
}

bool parse_options(Options& options) {
  int count = 0;
  LPWSTR* args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!args) return false;
  bool ok = true;
  for (int i = 1; i < count && ok; ++i) {
    const std::wstring arg = args[i];
    const bool has_value = i + 1 < count;
    if (arg == L"--auto") {
      options.auto_run = true;
    } else if (arg == L"--child" && has_value) {
      // The call takes a command line in the ANSI code page.
      options.child = narrow_from(args[++i], CP_ACP);
    } else if (arg == L"--report" && has_value) {
      options.report_path = args[++i];
    } else if (arg == L"--linger-ms" && has_value) {
      options.linger_ms =
          static_cast<UINT>(std::wcstoul(args[++i], nullptr, 10));
    } else {
      ok = false;
    }
  }
  ::LocalFree(args);
  if (ok && options.auto_run && !options.child) options.child = kSlowCompanion;
  return ok;
}

// What the call returned, as text to show. The area holds code page 936
// text: the fixed messages are Chinese, answers and launch failure texts are
// plain ASCII as a rule.
std::wstring describe_result(const char* result, int started) {
  if (!result) return L"(null: no pipe, or the answer begins with a space)";
  const std::size_t limit = started == 0 ? kLaunchFailureLimit : kAnswerLimit;
  std::size_t length = 0;
  while (length < limit && result[length] != '\0') ++length;
  return wide_from(result, length, kCodePage936);
}

void show_counter() {
  wchar_t text[32];
  std::swprintf(text, sizeof text / sizeof text[0], L"%u", state.counter);
  ::SetWindowTextW(state.controls.counter, text);
}

void write_report(unsigned before, unsigned after, int started,
                  const std::wstring& answer) {
  if (state.options.report_path.empty()) return;
  char head[96];
  std::snprintf(head, sizeof head,
                "counter_before=%u counter_after=%u started=%d answer=", before,
                after, started);
  const std::string line = head + narrow_from(answer, CP_UTF8) + "\n";
  // Written whole under another name first, so that a reader never sees
  // half a line.
  const std::wstring partial = state.options.report_path + L".partial";
  FILE* file = ::_wfopen(partial.c_str(), L"wb");
  if (!file) return;
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
  ::MoveFileExW(partial.c_str(), state.options.report_path.c_str(),
                MOVEFILE_REPLACE_EXISTING);
}

void run(HWND window) {
  if (state.running) return;
  state.running = true;
  ::EnableWindow(state.controls.run, FALSE);
  ::SetWindowTextW(state.controls.answer, L"(waiting for the child...)");
  ::SetWindowTextW(state.controls.status, L"");

  const char* command_line =
      state.options.child ? state.options.child->c_str() : nullptr;
  const unsigned before = state.counter;
  int started = kStartedUnset;
  // Blocks until the child ends; the timer keeps firing meanwhile.
  const char* result = ExecuteHDW(&started, command_line);
  const unsigned after = state.counter;
  const std::wstring answer = describe_result(result, started);

  ::SetWindowTextW(state.controls.answer, answer.c_str());
  wchar_t status[128];
  std::swprintf(status, sizeof status / sizeof status[0],
                L"started: %ls; the counter went from %u to %u during the call",
                started == kStartedUnset ? L"not attempted"
                : started                ? L"yes"
                                         : L"no",
                before, after);
  ::SetWindowTextW(state.controls.status, status);
  ::EnableWindow(state.controls.run, TRUE);
  state.running = false;

  if (state.options.auto_run) {
    // On screen before the report says it is there.
    ::RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    write_report(before, after, started, answer);
    ::SetTimer(window, kExitTimer, state.options.linger_ms, nullptr);
  }
  // A close asked for during the call is carried out now that it is over.
  if (state.close_pending) ::DestroyWindow(window);
}

HWND add_control(HWND parent, const wchar_t* kind, const wchar_t* text,
                 DWORD style, int x, int y, int width, int height, int id = 0) {
  const DWORD ex_style = std::wcscmp(kind, L"EDIT") == 0 ? WS_EX_CLIENTEDGE : 0;
  HWND control = ::CreateWindowExW(
      ex_style, kind, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
      parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr,
      nullptr);
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(state.ui_font),
                 FALSE);
  return control;
}

void make_fonts() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  state.ui_font = ::CreateFontIndirectW(&metrics.lfMessageFont);
  // The answer may be Chinese: ask for a font with the GB2312 characters.
  LOGFONTW answer_font = metrics.lfMessageFont;
  answer_font.lfHeight = -18;
  answer_font.lfCharSet = GB2312_CHARSET;
  std::wcscpy(answer_font.lfFaceName, L"Microsoft YaHei");
  state.answer_font = ::CreateFontIndirectW(&answer_font);
}

void create_controls(HWND window) {
  make_fonts();
  Controls& c = state.controls;
  add_control(window, L"STATIC", L"Counter (every 50 ms):", 0, 16, 18, 170, 22);
  c.counter = add_control(window, L"STATIC", L"0", 0, 190, 18, 100, 22);
  c.run = add_control(window, L"BUTTON", L"Run", BS_PUSHBUTTON, 330, 12, 90, 30,
                      kRunButtonId);
  add_control(window, L"STATIC", L"Command line:", 0, 16, 56, 110, 22);
  const std::wstring command =
      state.options.child ? wide_from(state.options.child->c_str(),
                                      state.options.child->size(), CP_ACP)
                          : L"(default) <InstallDir>\\KVT.exe d";
  c.command =
      add_control(window, L"STATIC", command.c_str(), 0, 130, 56, 300, 22);
  add_control(window, L"STATIC", L"Answer:", 0, 16, 92, 110, 22);
  c.answer = add_control(window, L"EDIT", L"", ES_READONLY | ES_AUTOHSCROLL,
                         130, 88, 290, 30);
  ::SendMessageW(c.answer, WM_SETFONT,
                 reinterpret_cast<WPARAM>(state.answer_font), FALSE);
  c.status = add_control(window, L"STATIC", L"", 0, 16, 130, 410, 22);
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam,
                                  LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      create_controls(window);
      ::SetTimer(window, kCounterTimer, kCounterPeriodMs, nullptr);
      return 0;
    case WM_TIMER:
      if (wparam == kCounterTimer) {
        ++state.counter;
        show_counter();
      } else if (wparam == kExitTimer) {
        ::KillTimer(window, kExitTimer);
        ::DestroyWindow(window);
      }
      return 0;
    case WM_COMMAND:
      if (LOWORD(wparam) == kRunButtonId && HIWORD(wparam) == BN_CLICKED) {
        run(window);
      }
      return 0;
    case kAutoRunMessage:
      ::SendMessageW(state.controls.run, BM_CLICK, 0, 0);
      return 0;
    case WM_CLOSE:
      // Not while the call that runs inside this window's Run is waiting.
      if (state.running) {
        state.close_pending = true;
      } else {
        ::DestroyWindow(window);
      }
      return 0;
    case WM_DESTROY:
      ::KillTimer(window, kCounterTimer);
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  if (!parse_options(state.options)) {
    ::MessageBoxW(nullptr,
                  L"usage: hdwdemo [--child COMMAND-LINE] [--auto] "
                  L"[--report PATH] [--linger-ms N]",
                  L"ExecuteHDW demo", MB_OK | MB_ICONINFORMATION);
    return 2;
  }

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kWindowClass;
  if (!::RegisterClassExW(&window_class)) return 1;

  RECT frame{0, 0, 440, 170};
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  ::AdjustWindowRect(&frame, style, FALSE);
  HWND window =
      ::CreateWindowExW(0, kWindowClass, L"ExecuteHDW demo", style, 40, 40,
                        frame.right - frame.left, frame.bottom - frame.top,
                        nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ::ShowWindow(window, show);
  ::UpdateWindow(window);
  if (state.options.auto_run) ::PostMessageW(window, kAutoRunMessage, 0, 0);

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  ::DeleteObject(state.ui_font);
  ::DeleteObject(state.answer_font);
  return static_cast<int>(message.wParam);
}
