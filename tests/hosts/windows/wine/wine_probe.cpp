// The smallest 32-bit Windows program: the Windows test driver runs it to
// learn which of Wine's loaders can start 32-bit code on this machine.
// Exits 42, so that a loader that fails in its own way is not mistaken for
// one that ran it.
#include <windows.h>

#include <cstdio>

int main() {
  BOOL is_wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &is_wow64);
  std::printf("a 32-bit Windows program runs%s\n", is_wow64 ? " inside a 64-bit process" : "");
  return 42;
}
