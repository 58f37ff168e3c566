// The console's command line: the system's own line or one rebuilt from argv, the passphrase
// captured between asterisks, tokens and keywords, and the argument grammar of each function with
// its checks in order.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "engine/job.h"
#include "engine/status.h"

namespace console {

enum class ConsoleFunction : uint8_t { Help, Praxel, Moltra, Prng };

constexpr size_t kMaxTokenLength = 259;
constexpr size_t kNoPosition = SIZE_MAX;

// The whole command line as the tokenizer and the passphrase capture see it: the program name,
// then each argument after one space, an argument that is empty or holds a space or a tab in
// double quotes. The line is never copied out of argv (it holds the passphrase): it is read in
// place, one character at a time, through the cursor.
struct CommandLine {
  const char* text = nullptr;  // the system's own line, when it gives one; else argv below
  int count = 0;
  const char* const* arguments = nullptr;
  size_t length = 0;  // characters of the whole line
  // The captured passphrase's span, asterisks included; kNoPosition without two asterisks. Only
  // the arguments count: an asterisk in the program's own path starts nothing.
  size_t spanFirst = kNoPosition;
  size_t spanLast = kNoPosition;
  // Some argument holds a tab or a double quote outside the span.
  bool unsafeName = false;
  // The cursor: its position in the line, the argument it stands in, its offset in that
  // argument's piece (space, quotes and text), and the piece's layout.
  size_t cursor = 0;
  int argument = 0;
  size_t offset = 0;
  size_t textStart = 0;
  size_t textLength = 0;
  size_t pieceLength = 0;
};

struct Token {
  char text[kMaxTokenLength + 1];
  uint32_t length;  // 0: no token
  uint32_t hash;    // KeywordHash of the text as stored
};

// Measures the line over argv (which must outlive it) and finds the passphrase's span.
void RebuildCommandLine(int argc, const char* const* argv, CommandLine& line);

// Takes a whole line as the system gives it (the program name first) and finds the passphrase's
// span. Nothing is rebuilt: a tab or a double quote is the user's own. `text` must outlive it.
void TakeRawCommandLine(const char* text, CommandLine& line);

// Captures the passphrase (the text strictly between the span's asterisks; copied when 1 to 512
// bytes, its length kept in any case) and puts the cursor after the program name.
void ReadCommandLine(CommandLine& line, engine::CipherJob& job);

// The next token: spaces and tabs skipped; a double quote starts a quoted token running to the
// next double quote; an unquoted token ends at a space or tab (consumed) or a double quote (not
// consumed); an empty quoted token is skipped; a token that would exceed 259 characters comes
// back empty, with the cursor left inside it. A token that touches the passphrase's span comes
// back empty too: the passphrase is never an argument, let alone a file name.
void NextToken(CommandLine& line, Token& token);

// What a shell user types first: "--help" or "-h", "--version". No keyword starts with '-', so
// these change nothing the grammar accepts.
enum class ShellOption : uint8_t { None, Help, Version };
ShellOption LeadingShellOption(int argc, const char* const* argv);

struct ParseResult {
  bool ok;  // false: print `text` and exit with `status` (Help included)
  engine::JobStatus status;
  const char* text;
  ConsoleFunction function;
  // The file a refusal concerns and why, for the line on standard error; null for none.
  const char* faultPath = nullptr;
  const char* faultReason = nullptr;
};

// Fills the job from the tokens, each check in its order; the first failure ends parsing. A name
// the line cannot carry (a tab or a double quote outside the passphrase) is refused before any
// file is read. IV and key files are read here, before any output is touched, and an output
// that is one of them is refused.
ParseResult ParseArguments(CommandLine& line, engine::CipherJob& job);

// The last checks of a Praxel line: a passphrase of 1 to 512 bytes.
ParseResult CheckPassphrase(const engine::CipherJob& job);

// The usage text, lines ending in CR LF, beginning with an empty line; PrintLine adds the last
// CR LF.
const char* UsageText();
// "aestarnex 2.00".
const char* VersionText();

}  // namespace console
