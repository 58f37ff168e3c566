// The console's command line: passphrase capture, tokens, keywords and the argument grammar.
#include "console/command_line.h"

#include <string.h>

#include "engine/wipe.h"
#include "keys/key_messages.h"
#include "keys/keytext.h"
#include "keys/keyword_hash.h"

namespace console {

namespace {

using engine::JobStatus;
using keys::Keyword;
using keys::KeywordHash;
using keys::LookUpKeyword;

constexpr Keyword<ConsoleFunction> kFunctions[] = {
    {KeywordHash("HELP"), ConsoleFunction::Help},
    {KeywordHash("PRAXEL"), ConsoleFunction::Praxel},
    {KeywordHash("MOLTRA"), ConsoleFunction::Moltra},
    {KeywordHash("PRNG"), ConsoleFunction::Prng},
};

constexpr Keyword<engine::Direction> kCommands[] = {
    {KeywordHash("E"), engine::Direction::Encrypt},
    {KeywordHash("ENCRYPT"), engine::Direction::Encrypt},
    {KeywordHash("D"), engine::Direction::Decrypt},
    {KeywordHash("DECRYPT"), engine::Direction::Decrypt},
};

constexpr Keyword<engine::KeySize> kKeySizes[] = {
    {KeywordHash("128"), engine::KeySize::Bits128},
    {KeywordHash("192"), engine::KeySize::Bits192},
    {KeywordHash("256"), engine::KeySize::Bits256},
};

constexpr auto kModes = keys::ModeKeywords("");
static_assert(kModes[6].hash == KeywordHash("PCBC"));

constexpr Keyword<uint8_t> kPrngSizes[] = {
    {KeywordHash("64MB"), 0},  {KeywordHash("128MB"), 1}, {KeywordHash("256MB"), 2},
    {KeywordHash("512MB"), 3}, {KeywordHash("1GB"), 4},   {KeywordHash("2GB"), 5},
    {KeywordHash("4GB"), 6},   {KeywordHash("8GB"), 7},   {KeywordHash("16GB"), 8},
};

constexpr uint32_t kOverwrite = KeywordHash("OVERWRITE");

// One argument as the line shows it: a separating space before every argument but the program
// name, and double quotes around one that is empty or holds a space or a tab.
struct Piece {
  size_t textStart;  // after the space and the opening quote
  size_t textLength;
  size_t length;
};

Piece PieceOf(const CommandLine& line, int index) {
  const char* text = line.arguments[index];
  const bool quoted = *text == '\0' || strpbrk(text, " \t") != nullptr;
  const size_t textStart = (index > 0 ? 1u : 0u) + (quoted ? 1u : 0u);
  const size_t textLength = strlen(text);
  return {textStart, textLength, textStart + textLength + (quoted ? 1u : 0u)};
}

void LoadPiece(CommandLine& line) {
  const Piece piece = PieceOf(line, line.argument);
  line.textStart = piece.textStart;
  line.textLength = piece.textLength;
  line.pieceLength = piece.length;
}

// Puts the cursor on the first character of argument `index` (its separating space).
void MoveToArgument(CommandLine& line, int index) {
  line.cursor = 0;
  line.offset = 0;
  for (line.argument = 0; line.argument < index; ++line.argument)
    line.cursor += PieceOf(line, line.argument).length;
  LoadPiece(line);
}

bool AtEnd(const CommandLine& line) {
  return line.cursor >= line.length;
}

// The character under the cursor as the line holds it; 0 at the end.
char Current(const CommandLine& line) {
  if (AtEnd(line)) return '\0';
  if (line.text != nullptr) return line.text[line.cursor];
  if (line.offset >= line.textStart && line.offset < line.textStart + line.textLength)
    return line.arguments[line.argument][line.offset - line.textStart];
  return line.offset == 0 && line.argument > 0 ? ' ' : '"';
}

// Tabs separate tokens as spaces do.
char CurrentSeparated(const CommandLine& line) {
  const char c = Current(line);
  return c == '\t' ? ' ' : c;
}

void Advance(CommandLine& line) {
  if (AtEnd(line)) return;
  ++line.cursor;
  if (line.text != nullptr) return;
  if (++line.offset == line.pieceLength && line.argument + 1 < line.count) {
    ++line.argument;
    line.offset = 0;
    LoadPiece(line);
  }
}

bool InSpan(const CommandLine& line, size_t position) {
  return line.spanFirst != kNoPosition && position >= line.spanFirst && position <= line.spanLast;
}

// A token matches a keyword when the hashes are equal, whatever the text: any case is accepted,
// and so is any other text that happens to hash alike.
template <typename Table, typename Value>
bool Match(const Token& token, const Table& table, Value& value) {
  return token.length != 0 && LookUpKeyword(token.hash, table, value);
}

constexpr char kSameFile[] = "Error - Input and output file names can not be the same";

ParseResult Fail(JobStatus status, const char* text, ConsoleFunction function) {
  return {false, status, text, function};
}

ParseResult FailOnFile(JobStatus status, const char* text, ConsoleFunction function,
                       const char* path, const char* reason) {
  return {false, status, text, function, path, reason};
}

void CopyPath(const Token& token, char (&path)[engine::kPathCapacity]) {
  memcpy(path, token.text, token.length);
  path[token.length] = '\0';
}

void ClearPathBuffers(engine::CipherJob& job) {
  memset(job.inputPath, 0, sizeof job.inputPath);
  memset(job.outputPath, 0, sizeof job.outputPath);
}

// The identity of an IV or key file read; none when the item was text.
struct KeyItemFile {
  engine::FileIdentity identity;
  bool read = false;
};

// The output names a file the job read its IV or key from (under any name, through any link).
bool OutputIsKeyItemFile(const char* outputPath, const KeyItemFile (&read)[2]) {
  engine::FileIdentity output;
  if (!engine::IdentifyFile(outputPath, output)) return false;
  for (const KeyItemFile& file : read)
    if (file.read && file.identity == output) return true;
  return false;
}

// The IV or the key: a name that opens is always read as a file; anything else is hexadecimal
// text. Nothing is written to the job unless the whole item is good.
bool ReadKeyItem(CommandLine& line, Token& token, keys::KeyItem item, engine::CipherJob& job,
                 const char*& error, KeyItemFile& read) {
  const size_t bytes = keys::ItemBytes(item, job.mode, job.keySize);
  uint8_t* destination = item == keys::KeyItem::Iv ? job.iv : job.key;
  NextToken(line, token);
  keys::KeyArgumentError failure = keys::KeyArgumentError::Empty;
  bool good = false;
  if (token.length != 0) {
    switch (keys::LoadKeyFile(token.text, destination, bytes)) {
      case keys::KeyFileResult::Ok: {
        good = true;
        read.read = engine::IdentifyFile(token.text, read.identity);
        break;
      }
      case keys::KeyFileResult::OpenError:
        good =
            keys::ParseHexText(token.text, token.length, destination, bytes) == keys::HexResult::Ok;
        failure = keys::KeyArgumentError::BadText;
        break;
      default:
        failure = keys::KeyArgumentError::TooFewBytes;
        break;
    }
  }
  engine::WipeBytes(&token, sizeof token);
  if (!good) error = keys::ConsoleKeyArgumentText(item, failure, job.mode, job.keySize);
  return good;
}

// Input, output, their comparison and the optional Overwrite right after the output.
ParseResult ReadPaths(CommandLine& line, Token& token, engine::CipherJob& job,
                      ConsoleFunction function, bool withInput) {
  ClearPathBuffers(job);
  if (withInput) {
    NextToken(line, token);
    if (token.length == 0) return Fail(JobStatus::NoInput, "Error - No Input", function);
    CopyPath(token, job.inputPath);
  }
  NextToken(line, token);
  if (token.length == 0) return Fail(JobStatus::NoOutput, "Error - No Output", function);
  CopyPath(token, job.outputPath);
  // The texts are compared byte by byte; the file job also refuses the same file under another
  // name once both can be looked at.
  if (withInput && strcmp(job.inputPath, job.outputPath) == 0)
    return FailOnFile(JobStatus::SameFile, kSameFile, function, job.outputPath,
                      "same name as the input");
  NextToken(line, token);
  job.disposition = token.length != 0 && token.hash == kOverwrite
                        ? engine::Disposition::CreateAlways
                        : engine::Disposition::CreateNew;
  return {true, JobStatus::EncryptionComplete, "", function};
}

bool ReadCommand(CommandLine& line, Token& token, engine::CipherJob& job) {
  NextToken(line, token);
  return Match(token, kCommands, job.direction);
}

constexpr char kNoCommand[] = "Error - No Command. [E | Encrypt | D | Decrypt]";

// Wipes the token on every way out of the parse: it may have held passphrase bytes.
struct WipedToken {
  Token token;
  ~WipedToken() { engine::WipeBytes(&token, sizeof token); }
};

}  // namespace

void RebuildCommandLine(int argc, const char* const* argv, CommandLine& line) {
  line = CommandLine{};
  line.count = argc > 0 ? argc : 0;
  line.arguments = argv;
  size_t first = kNoPosition, last = kNoPosition;
  for (int i = 0; i < line.count; ++i) {
    const Piece piece = PieceOf(line, i);
    const char* text = argv[i];
    for (size_t k = 0; i > 0 && k < piece.textLength; ++k) {
      if (text[k] != '*') continue;
      last = line.length + piece.textStart + k;
      if (first == kNoPosition) first = last;
    }
    line.length += piece.length;
  }
  if (first != last) {
    line.spanFirst = first;
    line.spanLast = last;
  }
  // The names that the line would carry as other names: a tab reads as a space, a double quote
  // splits or joins tokens. Inside the passphrase both are the user's characters.
  size_t start = 0;
  for (int i = 0; i < line.count; ++i) {
    const Piece piece = PieceOf(line, i);
    for (size_t k = 0; i > 0 && k < piece.textLength; ++k) {
      const char c = argv[i][k];
      if ((c == '\t' || c == '"') && !InSpan(line, start + piece.textStart + k))
        line.unsafeName = true;
    }
    start += piece.length;
  }
}

void TakeRawCommandLine(const char* text, CommandLine& line) {
  line = CommandLine{};
  line.text = text;
  line.length = strlen(text);
  // A program's path cannot hold an asterisk there: the whole line is scanned.
  const char* first = strchr(text, '*');
  const char* last = strrchr(text, '*');
  if (first != last) {
    line.spanFirst = static_cast<size_t>(first - text);
    line.spanLast = static_cast<size_t>(last - text);
  }
}

void ReadCommandLine(CommandLine& line, engine::CipherJob& job) {
  size_t length = 0;
  if (line.spanFirst != kNoPosition) length = line.spanLast - line.spanFirst - 1;
  job.passphraseLength = length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
  if (length >= 1 && length <= engine::kMaxPassphrase && line.text != nullptr) {
    memcpy(job.passphrase, line.text + line.spanFirst + 1, length);
  } else if (length >= 1 && length <= engine::kMaxPassphrase) {
    // The span lies after the program name; its characters are copied straight from argv.
    MoveToArgument(line, 1);
    while (line.cursor <= line.spanFirst)
      Advance(line);
    for (size_t i = 0; i < length; ++i) {
      job.passphrase[i] = static_cast<uint8_t>(Current(line));
      Advance(line);
    }
  }
  if (line.text != nullptr) {
    line.cursor = 0;
    WipedToken programName;  // the first token, read and dropped
    NextToken(line, programName.token);
  } else if (line.count > 1) {
    MoveToArgument(line, 1);
  } else {
    line.cursor = line.length;  // nothing after the program name
  }
}

void NextToken(CommandLine& line, Token& token) {
  token.length = 0;
  token.hash = 0;
  for (;;) {
    while (CurrentSeparated(line) == ' ')
      Advance(line);
    if (AtEnd(line)) return;
    const size_t start = line.cursor;
    const bool quoted = Current(line) == '"';
    if (quoted) Advance(line);
    uint32_t length = 0;
    while (!AtEnd(line) && Current(line) != '"' && (quoted || CurrentSeparated(line) != ' ')) {
      if (length == kMaxTokenLength) {
        // Abandoned: the rest of the long text is read as the next token.
        engine::WipeBytes(token.text, length);
        token.length = 0;
        return;
      }
      token.text[length++] = Current(line);
      Advance(line);
    }
    // A quoted token consumes its closing quote; an unquoted one its ending space, but not a
    // double quote, which opens the next token.
    if (!AtEnd(line) && (quoted ? Current(line) == '"' : CurrentSeparated(line) == ' '))
      Advance(line);
    if (line.spanFirst != kNoPosition && start <= line.spanLast && line.cursor > line.spanFirst) {
      engine::WipeBytes(token.text, length);  // the passphrase is no argument
      return;
    }
    if (quoted && length == 0) continue;  // "" is no argument
    token.text[length] = '\0';
    token.length = length;
    token.hash = KeywordHash(token.text, length);
    return;
  }
}

ShellOption LeadingShellOption(int argc, const char* const* argv) {
  if (argc < 2) return ShellOption::None;
  const char* first = argv[1];
  if (strcmp(first, "--help") == 0 || strcmp(first, "-h") == 0) return ShellOption::Help;
  if (strcmp(first, "--version") == 0) return ShellOption::Version;
  return ShellOption::None;
}

ParseResult CheckPassphrase(const engine::CipherJob& job) {
  const ConsoleFunction function = ConsoleFunction::Praxel;
  if (job.passphraseLength == 0)
    return Fail(JobStatus::BadPassphrase, "Error - No Passphrase", function);
  if (job.passphraseLength > engine::kMaxPassphrase)
    return Fail(JobStatus::BadPassphrase, "Error - Passphrase > 512 Characters", function);
  return {true, JobStatus::EncryptionComplete, "", function};
}

ParseResult ParseArguments(CommandLine& line, engine::CipherJob& job) {
  WipedToken wiped;
  Token& token = wiped.token;
  NextToken(line, token);
  ConsoleFunction function = ConsoleFunction::Help;
  if (!Match(token, kFunctions, function))
    return Fail(JobStatus::NoFunction, "Error - No 1st argument. [Help | Praxel | Moltra | PRNG]",
                function);

  if (function == ConsoleFunction::Help) return Fail(JobStatus::HelpShown, UsageText(), function);
  // Before any IV or key file is read: the line would name another file than the user did.
  if (line.unsafeName)
    return Fail(JobStatus::UnsafeName, "Error - A file name holds a tab or a double quote",
                function);

  switch (function) {
    case ConsoleFunction::Help:
      break;

    case ConsoleFunction::Praxel: {
      job.kind = engine::JobKind::Sealed;
      if (!ReadCommand(line, token, job)) return Fail(JobStatus::NoCommand, kNoCommand, function);
      const ParseResult paths = ReadPaths(line, token, job, function, true);
      return paths.ok ? CheckPassphrase(job) : paths;
    }

    case ConsoleFunction::Moltra: {
      job.kind = engine::JobKind::KeyIv;
      if (!ReadCommand(line, token, job)) return Fail(JobStatus::NoCommand, kNoCommand, function);
      NextToken(line, token);
      if (!Match(token, kKeySizes, job.keySize))
        return Fail(JobStatus::NoKeySize, "Error - No Key Size. [128 | 192 | 256]", function);
      NextToken(line, token);
      if (!Match(token, kModes, job.mode))
        return Fail(JobStatus::NoMode,
                    "Error - No Mode of Operation. [CTR | GCM | OFB | CFB | CBC | ECB | PCBC]",
                    function);
      const char* error = "";
      KeyItemFile read[2];
      if (job.mode != engine::CipherMode::Ecb &&
          !ReadKeyItem(line, token, keys::KeyItem::Iv, job, error, read[0]))
        return Fail(JobStatus::BadIv, error, function);
      if (!ReadKeyItem(line, token, keys::KeyItem::Key, job, error, read[1]))
        return Fail(JobStatus::BadKey, error, function);
      const ParseResult paths = ReadPaths(line, token, job, function, true);
      if (paths.ok && OutputIsKeyItemFile(job.outputPath, read))
        return FailOnFile(JobStatus::SameFile, kSameFile, function, job.outputPath,
                          "same file as the IV or the key");
      return paths;
    }

    case ConsoleFunction::Prng:
      job.kind = engine::JobKind::Prng;
      NextToken(line, token);
      if (!Match(token, kPrngSizes, job.prngSizeIndex))
        return Fail(JobStatus::NoPrngSize,
                    "Error - No Size. [64MB | 128MB | 256MB | 512MB | 1GB | 2GB | 4GB | 8GB | "
                    "16GB]",
                    function);
      return ReadPaths(line, token, job, function, false);
  }
  return Fail(JobStatus::NoFunction, "", function);
}

}  // namespace console
