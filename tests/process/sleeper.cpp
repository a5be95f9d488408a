// A program that only waits: "sleeper <milliseconds> <exit code> [...]".
// The tests copy it under the names a case needs (notepad.exe,
// orvane-ovx.exe, ...); words after the exit code only stand on its
// command line for the tests that read it.
#include <windows.h>

#include <cstdlib>

int main(int argc, char **argv)
{
   Sleep(argc > 1 ? static_cast<DWORD>(strtoul(argv[1], nullptr, 10)) : 0);
   return argc > 2 ? atoi(argv[2]) : 0;
}
