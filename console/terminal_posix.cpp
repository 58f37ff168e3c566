// The console's terminal, standard error and error texts over POSIX.
#include "console/terminal.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "console/command_line.h"
#include "engine/wipe.h"

namespace console {

namespace {

constexpr int kStandardInput = 0;
constexpr int kStandardOutput = 1;
constexpr int kStandardError = 2;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

// The terminal's settings before echo went off, for the guard and its signal handler.
termios gSaved;
volatile sig_atomic_t gEchoOff = 0;
struct sigaction gPrevious[sizeof kSignals / sizeof kSignals[0]];

// The saved settings without echo; Enter still moves to the next line.
termios QuietMode() {
  termios quiet = gSaved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK);
  quiet.c_lflag |= ECHONL;
  return quiet;
}

// Restores echo, then lets the signal do what it would have done (tcsetattr, sigaction and raise
// are async-signal-safe). Ctrl+Z stops the program with echo back on, and echo goes off again
// when it is continued.
void RestoreAndRaise(int signal) {
  const int saved = errno;
  const bool wasOff = gEchoOff;
  if (gEchoOff) tcsetattr(kStandardInput, TCSANOW, &gSaved);
  gEchoOff = 0;
  struct sigaction fallback = {}, own;
  fallback.sa_handler = SIG_DFL;
  sigaction(signal, &fallback, &own);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);  // a stop returns here once continued; the others never return
  sigaction(signal, &own, nullptr);
  const termios quiet = QuietMode();
  if (wasOff && tcsetattr(kStandardInput, TCSAFLUSH, &quiet) == 0) gEchoOff = 1;
  errno = saved;
}

void WriteAll(int descriptor, const char* text, size_t count) {
  while (count > 0) {
    const ssize_t written = write(descriptor, text, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // nothing else can report it
    text += written;
    count -= static_cast<size_t>(written);
  }
}

// The prompt goes to the terminal it is read from, so that redirected output and error stay
// clean; to standard error where that terminal was opened for reading only.
void WritePrompt(const char* text, size_t count) {
  if (write(kStandardInput, text, count) != static_cast<ssize_t>(count))
    WriteAll(kStandardError, text, count);
}

}  // namespace

void TakeCommandLine(int argc, const char* const* argv, CommandLine& line) {
  RebuildCommandLine(argc, argv, line);
}

bool StandardInputIsTerminal() {
  return isatty(kStandardInput) == 1;
}

bool StandardOutputIsTerminal() {
  return isatty(kStandardOutput) == 1;
}

NoEchoGuard::NoEchoGuard() {
  if (tcgetattr(kStandardInput, &gSaved) != 0) return;
  struct sigaction handler = {};
  handler.sa_handler = RestoreAndRaise;
  sigemptyset(&handler.sa_mask);
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
    sigaction(kSignals[i], &handler, &gPrevious[i]);
  const termios quiet = QuietMode();
  gEchoOff = 1;
  // Type-ahead was echoed when it arrived: it is dropped rather than taken as the passphrase.
  if (tcsetattr(kStandardInput, TCSAFLUSH, &quiet) != 0) gEchoOff = 0;
}

NoEchoGuard::~NoEchoGuard() {
  if (gEchoOff) tcsetattr(kStandardInput, TCSANOW, &gSaved);
  gEchoOff = 0;
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
    sigaction(kSignals[i], &gPrevious[i], nullptr);
}

bool ReadSecretLine(const char* prompt, uint8_t* secret, size_t capacity, size_t& length) {
  length = 0;
  if (!gEchoOff) return false;  // never read a passphrase the terminal would show
  WritePrompt(prompt, strlen(prompt));
  uint8_t c = 0;
  for (;;) {
    const ssize_t got = read(kStandardInput, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0 || c == '\n' || c == '\r') break;  // a raw terminal sends CR for Enter
    if (length < capacity) secret[length] = c;
    if (length <= capacity) ++length;  // one past the capacity is enough to show "too long"
  }
  engine::WipeBytes(&c, sizeof c);
  termios mode;
  // A terminal without ECHONL (a raw one) gets its line break here.
  if (tcgetattr(kStandardInput, &mode) == 0 && (mode.c_lflag & ICANON) == 0) WritePrompt("\r\n", 2);
  return true;
}

void WriteOutput(const char* text, size_t count) {
  WriteAll(kStandardOutput, text, count);
}

void WriteError(const char* text, size_t count) {
  WriteAll(kStandardError, text, count);
}

const char* SystemErrorText(int code) {
  return strerror(code);
}

}  // namespace console
