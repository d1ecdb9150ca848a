#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  MessageBoxA(nullptr, "Kestrelmark", "Kestrelmark", MB_OK);
  return 0;
}
