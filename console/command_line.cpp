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

// A token matches a keyword when the hashes are equal, whatever the text: any case is accepted,
// and so is any other text that happens to hash alike.
template <typename Table, typename Value>
bool Match(const Token& token, const Table& table, Value& value) {
  return token.length != 0 && LookUpKeyword(token.hash, table, value);
}

ParseResult Fail(JobStatus status, const char* text, ConsoleFunction function) {
  return {false, status, text, function};
}

void CopyPath(const Token& token, char (&path)[engine::kPathCapacity]) {
  memcpy(path, token.text, token.length);
  path[token.length] = '\0';
}

void ClearPathBuffers(engine::CipherJob& job) {
  memset(job.inputPath, 0, sizeof job.inputPath);
  memset(job.outputPath, 0, sizeof job.outputPath);
}

// The IV or the key: a name that opens is always read as a file; anything else is hexadecimal
// text. Nothing is written to the job unless the whole item is good.
bool ReadKeyItem(CommandLine& line, Token& token, keys::KeyItem item, engine::CipherJob& job,
                 const char*& error) {
  const size_t bytes = keys::ItemBytes(item, job.mode, job.keySize);
  uint8_t* destination = item == keys::KeyItem::Iv ? job.iv : job.key;
  NextToken(line, token);
  keys::KeyArgumentError failure = keys::KeyArgumentError::Empty;
  bool good = false;
  if (token.length != 0) {
    switch (keys::LoadKeyFile(token.text, destination, bytes)) {
      case keys::KeyFileResult::Ok:
        good = true;
        break;
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
    return Fail(JobStatus::SameFile, "Error - Input and output file names can not be the same",
                function);
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

}  // namespace

CommandLine::~CommandLine() {
  if (!text.empty()) engine::WipeBytes(text.data(), text.size());
}

void RebuildCommandLine(int argc, const char* const* argv, CommandLine& line) {
  line.text.clear();
  line.cursor = 0;
  for (int i = 0; i < argc; ++i) {
    const char* argument = argv[i];
    const bool quote = *argument == '\0' || strpbrk(argument, " \t") != nullptr;
    if (i > 0) line.text += ' ';
    if (quote) line.text += '"';
    line.text += argument;
    if (quote) line.text += '"';
  }
}

void ReadCommandLine(CommandLine& line, engine::CipherJob& job) {
  std::string& text = line.text;
  const size_t first = text.find('*');
  const size_t last = text.rfind('*');
  size_t length = 0;
  if (first != std::string::npos && last != first) length = last - first - 1;
  job.passphraseLength = length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
  if (length >= 1 && length <= engine::kMaxPassphrase)
    memcpy(job.passphrase, text.data() + first + 1, length);
  for (char& c : text) {
    if (c == '\t') c = ' ';  // tabs separate tokens; the passphrase keeps its tabs
  }
  line.cursor = 0;
  Token programName;
  NextToken(line, programName);
}

void NextToken(CommandLine& line, Token& token) {
  token.length = 0;
  token.hash = 0;
  const std::string& text = line.text;
  size_t& i = line.cursor;
  for (;;) {
    while (i < text.size() && text[i] == ' ')
      ++i;
    if (i >= text.size()) return;
    const bool quoted = text[i] == '"';
    if (quoted) ++i;
    uint32_t length = 0;
    while (i < text.size() && text[i] != '"' && (quoted || text[i] != ' ')) {
      if (length == kMaxTokenLength) {
        // Abandoned: the rest of the long text is read as the next token.
        token.length = 0;
        return;
      }
      token.text[length++] = text[i++];
    }
    // A quoted token consumes its closing quote; an unquoted one its ending space, but not a
    // double quote, which opens the next token.
    if (i < text.size() && (quoted ? text[i] == '"' : text[i] == ' ')) ++i;
    if (quoted && length == 0) continue;  // "" is no argument
    token.text[length] = '\0';
    token.length = length;
    token.hash = KeywordHash(token.text, length);
    return;
  }
}

ParseResult ParseArguments(CommandLine& line, engine::CipherJob& job) {
  Token token;
  NextToken(line, token);
  ConsoleFunction function = ConsoleFunction::Help;
  if (!Match(token, kFunctions, function))
    return Fail(JobStatus::NoFunction, "Error - No 1st argument. [Help | Praxel | Moltra | PRNG]",
                function);

  switch (function) {
    case ConsoleFunction::Help:
      return Fail(JobStatus::HelpShown, UsageText(), function);

    case ConsoleFunction::Praxel: {
      job.kind = engine::JobKind::Sealed;
      if (!ReadCommand(line, token, job)) return Fail(JobStatus::NoCommand, kNoCommand, function);
      ParseResult paths = ReadPaths(line, token, job, function, true);
      if (!paths.ok) return paths;
      if (job.passphraseLength == 0)
        return Fail(JobStatus::BadPassphrase, "Error - No Passphrase", function);
      if (job.passphraseLength > engine::kMaxPassphrase)
        return Fail(JobStatus::BadPassphrase, "Error - Passphrase > 512 Characters", function);
      return paths;
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
      if (job.mode != engine::CipherMode::Ecb &&
          !ReadKeyItem(line, token, keys::KeyItem::Iv, job, error))
        return Fail(JobStatus::BadIv, error, function);
      if (!ReadKeyItem(line, token, keys::KeyItem::Key, job, error))
        return Fail(JobStatus::BadKey, error, function);
      return ReadPaths(line, token, job, function, true);
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
