// One move-only owner for every kind of Win32 handle. A handle kind is a
// traits struct naming the raw type, the "no handle" value and how to close
// it; the owner closes what it holds when it goes out of scope or is reset.
// There is no implicit conversion to the raw handle: call get() and make the
// borrowing visible at the call.
//
//   UniqueHkey key;
//   if (RegOpenKeyExA(root, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS) { ... }
//   UniqueHandle file(CreateFileA(...));
//   if (!file) return;
#pragma once

#include <windows.h>

#include <utility>

namespace platform {

template <class Traits>
class UniqueAny {
 public:
  using Handle = typename Traits::Handle;

  UniqueAny() noexcept = default;
  explicit UniqueAny(Handle handle) noexcept : handle_(handle) {}
  UniqueAny(UniqueAny&& other) noexcept : handle_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  ~UniqueAny() { reset(); }

  [[nodiscard]] Handle get() const noexcept { return handle_; }
  [[nodiscard]] bool is_valid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return is_valid(); }

  // Gives up ownership without closing.
  [[nodiscard]] Handle release() noexcept {
    return std::exchange(handle_, Traits::Invalid());
  }
  // Closes what is held (if anything) and takes ownership of handle.
  void reset(Handle handle = Traits::Invalid()) noexcept {
    Handle old = std::exchange(handle_, handle);
    if (old != Traits::Invalid()) Traits::Close(old);
  }
  // For out-parameters: closes what is held and returns the slot to fill.
  [[nodiscard]] Handle* put() noexcept {
    reset();
    return &handle_;
  }

  void swap(UniqueAny& other) noexcept { std::swap(handle_, other.handle_); }

 private:
  Handle handle_ = Traits::Invalid();
};

struct HkeyTraits {
  using Handle = HKEY;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle key) noexcept {
    RegCloseKey(key);  // nothing useful to do on failure
  }
};

struct HwndTraits {
  using Handle = HWND;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle window) noexcept { DestroyWindow(window); }
};

struct HiconTraits {
  using Handle = HICON;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle icon) noexcept { DestroyIcon(icon); }
};

// Kernel handles from CreateFile and friends: INVALID_HANDLE_VALUE means none.
// (Handles whose "none" is null, such as events and threads, use
// UniqueKernelHandle.)
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) noexcept { CloseHandle(handle); }
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle handle) noexcept { CloseHandle(handle); }
};

struct HcursorTraits {
  using Handle = HCURSOR;
  static Handle Invalid() noexcept { return nullptr; }
  // Only for cursors the program created or loaded from a file.
  static void Close(Handle cursor) noexcept { DestroyCursor(cursor); }
};

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle object) noexcept { DeleteObject(object); }
};

struct HmenuTraits {
  using Handle = HMENU;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle menu) noexcept { DestroyMenu(menu); }
};

struct HmoduleTraits {
  using Handle = HMODULE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle module) noexcept { FreeLibrary(module); }
};

using UniqueHkey = UniqueAny<HkeyTraits>;
using UniqueHwnd = UniqueAny<HwndTraits>;
using UniqueHicon = UniqueAny<HiconTraits>;
using UniqueHandle = UniqueAny<FileHandleTraits>;
using UniqueKernelHandle = UniqueAny<KernelHandleTraits>;
using UniqueHcursor = UniqueAny<HcursorTraits>;
using UniqueGdiObject = UniqueAny<GdiObjectTraits>;  // fonts, brushes, pens, bitmaps
using UniqueHmenu = UniqueAny<HmenuTraits>;
using UniqueHmodule = UniqueAny<HmoduleTraits>;

}  // namespace platform
