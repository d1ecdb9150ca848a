#include "cli/command_line_win.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <optional>
#include <string_view>

#include "cli/command.h"
#include "cli/request.h"
#include "cli/watch_stop_win.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/preference_storage_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/unique_handle_win.h"

namespace cli {
namespace {

std::string Utf8(const wchar_t* text) {
  const int length = static_cast<int>(wcslen(text));
  if (length == 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

bool Usable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// One standard stream. A console gets UTF-16 (its code page may be anything);
// a file or pipe gets the UTF-8 bytes as they are.
class HandleStream : public OutputStream {
 public:
  explicit HandleStream(HANDLE handle) : handle_(handle) {
    DWORD mode = 0;
    console_ = Usable(handle) && GetConsoleMode(handle, &mode);
  }

  bool Write(std::string_view bytes) override {
    if (!Usable(handle_)) return true;  // nowhere to write: dropped, as for a window program
    return console_ ? WriteConsole(bytes) : WriteBytes(bytes);
  }

 private:
  bool WriteBytes(std::string_view bytes) {
    while (!bytes.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
      DWORD written = 0;
      if (!WriteFile(handle_, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
      bytes.remove_prefix(written);
    }
    return true;
  }

  bool WriteConsole(std::string_view bytes) {
    if (bytes.empty()) return true;
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                        length);
    std::wstring_view rest = text;
    while (!rest.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 8192));
      DWORD written = 0;
      if (!WriteConsoleW(handle_, rest.data(), chunk, &written, nullptr) || written == 0)
        return false;
      rest.remove_prefix(written);
    }
    return true;
  }

  HANDLE handle_;
  bool console_ = false;
};

}  // namespace

std::vector<std::string> CommandLineArguments() {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (words == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8(words[i]));
  LocalFree(words);
  return arguments;
}

int RunCommandLine(const std::vector<std::string>& arguments) {
  // The handles given come first: a redirection to a file or pipe, or a
  // console already. Only what is missing goes to the starter's console.
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  const ParseOutcome parsed = ParseArguments(arguments);
  const bool watch = parsed.request && parsed.request->command == Command::kWatch;
  // A watch also takes its starter's console when its output goes elsewhere:
  // Ctrl+C and the console's closing reach it only through one.
  if (watch && Usable(out) && Usable(err)) AttachConsole(ATTACH_PARENT_PROCESS);
  platform::UniqueHandle console_out;
  if ((!Usable(out) || !Usable(err)) && AttachConsole(ATTACH_PARENT_PROCESS)) {
    console_out.reset(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!Usable(out)) out = console_out.get();
    if (!Usable(err)) err = console_out.get();
  }

  platform::Win32Registry registry;
  platform::Win32FileSystem files;
  platform::Win32PreferenceStorage preferences;
  HandleStream out_stream(out), err_stream(err);
  std::optional<WatchStop> stop;
  std::optional<WatchControl> control;
  if (watch) control = stop.emplace().Control();
  const int code = RunArguments(arguments, {registry, files, preferences, out_stream, err_stream,
                                            control ? &*control : nullptr});
  if (stop) stop->Finished();
  return code;
}

}  // namespace cli
