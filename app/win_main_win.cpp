// The program: one Form1 over the real services, and the message loop.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/command_line_win.h"
#include "platform/win32/clipboard_win.h"
#include "platform/win32/event_loop_win.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/message_box_win.h"
#include "platform/win32/notify_area_win.h"
#include "platform/win32/preference_storage_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/save_dialog_win.h"
#include "platform/win32/shell_win.h"
#include "platform/win32/single_instance_win.h"
#include "resources/resource_ids.h"
#include "tray/c_sys_tray_win.h"
#include "ui/form1_texts.h"
#include "ui/form1_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Arguments make a scripted run: no window, no tray icon, no instance lock.
  if (const std::vector<std::string> arguments = cli::CommandLineArguments(); !arguments.empty()) {
    return cli::RunCommandLine(arguments);
  }
  platform::Win32Registry registry;
  platform::Win32FileSystem files;
  platform::Win32PreferenceStorage preferences;
  platform::Win32MessageBoxes message_boxes;
  platform::Win32Clipboard clipboard;
  platform::Win32SaveDialog save_dialog;
  platform::Win32Shell shell;
  platform::Win32EventLoop event_loop;
  platform::Win32NotifyArea notify_area;
  // Held for the whole run: a second start sees it.
  platform::SingleInstance instance_lock;
  // Asked before the window exists as well: creating it puts the tray
  // control's icon in the notification area, and a second start must show
  // nothing at all, not even for a moment.
  if (instance_lock.AnotherInstanceRunning()) return 0;

  ui::Form1 form({
      .registry = registry,
      .files = files,
      .preferences = preferences,
      .message_boxes = message_boxes,
      .clipboard = clipboard,
      .save_dialog = save_dialog,
      .shell = shell,
      .event_loop = event_loop,
      .make_tray =
          [&](HWND window, tray::TrayEvents& events) -> std::unique_ptr<tray::TrayControl> {
        auto control = std::make_unique<tray::cSysTray>(window, events, notify_area, event_loop);
        // The control's stored design: in the tray, with the program's icon.
        tray::PropertyBag stored;
        stored.in_tray = true;
        stored.tray_tip = ui::kTrayTip;
        stored.tray_icon = tray::LoadIconPicture(instance, IDI_KESTRELMARK,
                                                 GetSystemMetrics(SM_CXSMICON));
        control->ReadProperties(stored);
        return control;
      },
      .another_instance_running = [&] { return instance_lock.AnotherInstanceRunning(); },
      .end_process = {},
      .seconds_since_midnight = {},
  });
  if (!form.Create(instance)) return 1;
  message_boxes.set_owner(form.hwnd());
  clipboard.set_owner(form.hwnd());
  save_dialog.set_owner(form.hwnd());
  if (!form.Form_Load()) return 0;
  message_boxes.set_application_title(form.AppTitle());
  form.Show();

  // The same loop object as every nested pump: the window's key filter,
  // registered by Form1 itself, runs in all of them.
  return event_loop.Run();
}
