// The console's terminal, standard error, error texts and command line over the Win32 console.
#include <windows.h>

#include <string.h>

#include "console/command_line.h"
#include "console/terminal.h"
#include "engine/wipe.h"

namespace console {

namespace {

// The input mode before echo went off, for the guard and its Ctrl+C handler.
DWORD gSaved = 0;
volatile LONG gEchoOff = 0;

HANDLE Input() {
  return GetStdHandle(STD_INPUT_HANDLE);
}

bool IsConsole(HANDLE handle) {
  DWORD mode;
  return GetConsoleMode(handle, &mode) != 0;
}

void RestoreEcho() {
  if (InterlockedExchange(&gEchoOff, 0) != 0) SetConsoleMode(Input(), gSaved);
}

// Ctrl+C and Ctrl+Break arrive on a thread of their own: echo comes back, then the default
// handler ends the process as it would have.
BOOL WINAPI RestoreOnInterrupt(DWORD) {
  RestoreEcho();
  return FALSE;
}

void WriteAll(HANDLE handle, const char* text, size_t count) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  while (count > 0) {
    DWORD written = 0;
    // WriteFile, not WriteConsoleA: the final line must survive redirection to a file or a pipe.
    if (!WriteFile(handle, text, static_cast<DWORD>(count), &written, nullptr) || written == 0)
      return;  // nothing else can report it
    text += written;
    count -= written;
  }
}

// The prompt goes to the console window the passphrase is typed in, so that redirected output and
// error stay clean; to standard error where the console cannot be opened for writing.
void WritePrompt(const char* text, size_t count) {
  HANDLE console = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return WriteError(text, count);
  WriteAll(console, text, count);
  CloseHandle(console);
}

}  // namespace

void TakeCommandLine(int, const char* const*, CommandLine& line) {
  TakeRawCommandLine(GetCommandLineA(), line);
}

bool StandardInputIsTerminal() {
  return IsConsole(Input());
}

// Only a console has a console mode; a file or a pipe does not.
bool StandardOutputIsTerminal() {
  return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE));
}

NoEchoGuard::NoEchoGuard() {
  if (!GetConsoleMode(Input(), &gSaved)) return;
  SetConsoleCtrlHandler(RestoreOnInterrupt, TRUE);
  // Line input stays on (Enter ends the line); only the echo goes.
  InterlockedExchange(&gEchoOff, 1);
  if (!SetConsoleMode(Input(), gSaved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)))
    InterlockedExchange(&gEchoOff, 0);
  // Type-ahead was echoed when it arrived: it is dropped rather than taken as the passphrase.
  FlushConsoleInputBuffer(Input());
}

NoEchoGuard::~NoEchoGuard() {
  RestoreEcho();
  SetConsoleCtrlHandler(RestoreOnInterrupt, FALSE);
}

bool ReadSecretLine(const char* prompt, uint8_t* secret, size_t capacity, size_t& length) {
  length = 0;
  if (gEchoOff == 0) return false;  // never read a passphrase the console would show
  WritePrompt(prompt, strlen(prompt));
  char c = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(Input(), &c, 1, &got, nullptr)) return false;
    if (got == 0 || c == '\n') break;  // Enter gives CR LF: the line ends at the LF
    if (c == '\r') continue;
    if (length < capacity) secret[length] = static_cast<uint8_t>(c);
    if (length <= capacity) ++length;  // one past the capacity is enough to show "too long"
  }
  engine::WipeBytes(&c, sizeof c);
  WritePrompt("\r\n", 2);  // the Enter that was not echoed
  return true;
}

void WriteOutput(const char* text, size_t count) {
  WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), text, count);
}

void WriteError(const char* text, size_t count) {
  WriteAll(GetStdHandle(STD_ERROR_HANDLE), text, count);
}

// The file layer leaves C library error numbers (see engine/file_win32.cpp).
const char* SystemErrorText(int code) {
  return strerror(code);
}

}  // namespace console
