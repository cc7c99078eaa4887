// A stand-in for the surrogate program that never registers its class: it
// waits a few seconds and ends. The manager must give up after its tries.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  Sleep(15000);
  return 0;
}
