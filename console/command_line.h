// The console's command line: rebuilt from argv, the passphrase captured between asterisks,
// tokens and keywords, and the argument grammar of each function with its checks in order.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "engine/job.h"
#include "engine/status.h"

namespace console {

enum class ConsoleFunction : uint8_t { Help, Praxel, Moltra, Prng };

constexpr size_t kMaxTokenLength = 259;

// The whole command line as one text, as the tokenizer and the passphrase capture see it, with
// the cursor of the next token.
struct CommandLine {
  std::string text;
  size_t cursor = 0;
  ~CommandLine();  // the text holds the passphrase: wiped before it goes
};

struct Token {
  char text[kMaxTokenLength + 1];
  uint32_t length;  // 0: no token
  uint32_t hash;    // KeywordHash of the text as stored
};

// Program name, then each argument joined by one space; an argument that is empty or holds a
// space or a tab goes in double quotes.
void RebuildCommandLine(int argc, const char* const* argv, CommandLine& line);

// Captures the passphrase (the text strictly between the first and the last asterisk of the whole
// line; copied when 1 to 512 bytes, its length kept in any case), turns tabs into spaces and
// skips the program name.
void ReadCommandLine(CommandLine& line, engine::CipherJob& job);

// The next token: spaces skipped; a double quote starts a quoted token running to the next
// double quote; an unquoted token ends at a space (consumed) or a double quote (not consumed);
// an empty quoted token is skipped; a token that would exceed 259 characters comes back empty,
// with the cursor left inside it.
void NextToken(CommandLine& line, Token& token);

struct ParseResult {
  bool ok;  // false: print `text` and exit with `status` (Help included)
  engine::JobStatus status;
  const char* text;
  ConsoleFunction function;
};

// Fills the job from the tokens, each check in its order; the first failure ends parsing. IV and
// key files are read here, before any output is touched.
ParseResult ParseArguments(CommandLine& line, engine::CipherJob& job);

// The usage text, lines ending in CR LF, beginning with an empty line; PrintLine adds the last
// CR LF.
const char* UsageText();

}  // namespace console
