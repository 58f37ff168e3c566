// The console's whole command line: the bytes are the arguments (split at NUL bytes), rebuilt
// into one line, read and parsed as the program does. Every outcome must be one of the parse
// results with a filled job inside its ranges or an argument error with its text; the
// passphrase must be exactly the text between the first and the last asterisk; a refused IV or
// key leaves the job's bytes alone; and parsing touches no file. IV and key lookups stay inside
// a scratch folder: a '/' in an argument becomes '_', so no argument names a path outside it.
#include <dirent.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "console/command_line.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using console::ConsoleFunction;
using engine::JobStatus;

// Files the seeds name: full and short IV and key files, and a folder.
struct ScratchFile {
  const char* name;
  size_t size;
};
constexpr ScratchFile kFiles[] = {{"iv", 16}, {"key", 40}, {"short", 10}, {"gcmiv", 12}};

struct FolderState {
  int entries;
  off_t sizes[sizeof kFiles / sizeof kFiles[0]];
  bool operator==(const FolderState&) const = default;
};

FolderState Look() {
  FolderState state{};
  DIR* folder = opendir(".");
  FUZZ_CHECK(folder != nullptr);
  while (readdir(folder) != nullptr)
    ++state.entries;
  closedir(folder);
  for (size_t i = 0; i < sizeof kFiles / sizeof kFiles[0]; ++i) {
    struct stat info;
    state.sizes[i] = stat(kFiles[i].name, &info) == 0 ? info.st_size : -1;
  }
  return state;
}

FolderState gFolder;
int gHome = -1;  // libFuzzer's own folder, where its corpus paths lead

// Runs the lookups in the scratch folder and comes back, so that libFuzzer's relative corpus
// paths keep working.
struct InScratch {
  InScratch() { FUZZ_CHECK(chdir(fuzzing::Scratch().path().c_str()) == 0); }
  ~InScratch() { FUZZ_CHECK(fchdir(gHome) == 0); }
};

bool IsZero(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

// A path from the parser: 1 to 259 characters and terminated inside its buffer.
bool GoodPath(const char (&path)[engine::kPathCapacity]) {
  const size_t length = strnlen(path, sizeof path);
  return length >= 1 && length <= console::kMaxTokenLength;
}

void CheckRefusal(const console::ParseResult& result, const engine::CipherJob& job) {
  const int status = static_cast<int>(result.status);
  FUZZ_CHECK((status >= 4 && status <= 14) || result.status == JobStatus::HelpShown);
  FUZZ_CHECK(result.text != nullptr);
  if (result.status == JobStatus::HelpShown) {
    FUZZ_CHECK(result.function == ConsoleFunction::Help);
    FUZZ_CHECK(result.text == console::UsageText());
  } else {
    FUZZ_CHECK(strncmp(result.text, "Error - ", 8) == 0);
  }
  // Items are written to the job only when the whole item is good.
  if (result.status == JobStatus::BadIv) FUZZ_CHECK(IsZero(job.iv, sizeof job.iv));
  if (result.status == JobStatus::BadIv || result.status == JobStatus::BadKey)
    FUZZ_CHECK(IsZero(job.key, sizeof job.key));
  if (result.status == JobStatus::BadPassphrase)
    FUZZ_CHECK(result.function == ConsoleFunction::Praxel);
}

void CheckAccepted(const console::ParseResult& result, const engine::CipherJob& job) {
  FUZZ_CHECK(job.disposition == engine::Disposition::CreateNew ||
             job.disposition == engine::Disposition::CreateAlways);
  FUZZ_CHECK(GoodPath(job.outputPath));
  switch (result.function) {
    case ConsoleFunction::Help:
      FUZZ_CHECK(false);  // Help is never a run
      break;
    case ConsoleFunction::Prng:
      FUZZ_CHECK(job.kind == engine::JobKind::Prng);
      FUZZ_CHECK(job.prngSizeIndex <= 8);
      break;
    case ConsoleFunction::Praxel:
    case ConsoleFunction::Moltra:
      FUZZ_CHECK(static_cast<uint8_t>(job.direction) <= 1);
      FUZZ_CHECK(GoodPath(job.inputPath));
      FUZZ_CHECK(strcmp(job.inputPath, job.outputPath) != 0);
      if (result.function == ConsoleFunction::Praxel) {
        FUZZ_CHECK(job.kind == engine::JobKind::Sealed);
        FUZZ_CHECK(job.passphraseLength >= 1 && job.passphraseLength <= engine::kMaxPassphrase);
      } else {
        FUZZ_CHECK(job.kind == engine::JobKind::KeyIv);
        FUZZ_CHECK(static_cast<uint8_t>(job.keySize) <= 2);
        FUZZ_CHECK(static_cast<uint8_t>(job.mode) <= 6);
      }
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gHome = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  FUZZ_CHECK(gHome >= 0);
  InScratch scratch;
  for (const ScratchFile& file : kFiles) {
    const std::vector<uint8_t> bytes = testing_support::RandomBytes(file.size, file.size);
    fuzzing::WriteWhole(file.name, bytes.data(), bytes.size());
  }
  FUZZ_CHECK(mkdir("folder", 0700) == 0);
  gFolder = Look();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments{"aestarnex"};
  arguments.emplace_back();
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\0') {
      arguments.emplace_back();
    } else {
      arguments.back() += data[i] == '/' ? '_' : static_cast<char>(data[i]);
    }
  }
  if (size == 0) arguments.pop_back();
  std::vector<const char*> argv;
  for (const std::string& argument : arguments)
    argv.push_back(argument.c_str());

  console::CommandLine line;
  console::RebuildCommandLine(static_cast<int>(argv.size()), argv.data(), line);
  line.text.shrink_to_fit();  // a read past the line's end leaves its heap block
  const std::string rebuilt = line.text;

  InScratch scratch;
  engine::CipherJob job;
  console::ReadCommandLine(line, job);
  const console::ParseResult result = console::ParseArguments(line, job);
  FUZZ_CHECK(line.cursor <= line.text.size());

  // The passphrase: strictly between the first and the last asterisk, tabs kept; copied only
  // when 1 to 512 bytes long, its length kept in any case.
  const size_t first = rebuilt.find('*'), last = rebuilt.rfind('*');
  const size_t length = first != std::string::npos && last != first ? last - first - 1 : 0;
  FUZZ_CHECK(job.passphraseLength == length);
  if (length >= 1 && length <= engine::kMaxPassphrase) {
    FUZZ_CHECK(memcmp(job.passphrase, rebuilt.data() + first + 1, length) == 0);
  } else {
    FUZZ_CHECK(IsZero(job.passphrase, sizeof job.passphrase));
  }

  if (result.ok) {
    CheckAccepted(result, job);
  } else {
    CheckRefusal(result, job);
  }
  FUZZ_CHECK(Look() == gFolder);
  return 0;
}
