// The console's whole command line: the bytes are the arguments (split at NUL bytes), read and
// parsed as the program does. Every outcome must be one of the parse results with a filled job
// inside its ranges or an argument error with its text; the passphrase must be exactly the text
// between the first and the last asterisk after the program name (which holds one); no accepted
// path comes from inside it; a tab or a double quote outside it is refused; a refused IV or key
// leaves the job's bytes alone; parsing allocates nothing (nothing holding the passphrase is
// left on the heap) and touches no file. IV and key lookups stay inside a scratch folder: a '/'
// in an argument becomes '_', so no argument names a path outside it.
#include <dirent.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sanitizer/allocator_interface.h>

#include <string>
#include <vector>

#include "console/command_line.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Counts the allocations made while gCounting is set (the fuzz build runs under
// AddressSanitizer, whose allocator calls the hook for malloc and new alike).
bool gCounting = false;
size_t gAllocations = 0;

void CountAllocation(const volatile void*, size_t) {
  if (gCounting) ++gAllocations;
}

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
  FUZZ_CHECK((status >= 4 && status <= 14) || result.status == JobStatus::UnsafeName ||
             result.status == JobStatus::HelpShown);
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
  __sanitizer_install_malloc_and_free_hooks(CountAllocation, nullptr);
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

namespace {

// The line as the program reads it: the program name, then each argument after one space, one
// that is empty or holds a space or a tab in double quotes; with where each argument's own text
// starts.
struct Line {
  std::string text;
  std::vector<size_t> starts;
};

Line Rebuild(const std::vector<std::string>& arguments) {
  Line line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool quote = argument.empty() || argument.find_first_of(" \t") != std::string::npos;
    if (i > 0) line.text += ' ';
    if (quote) line.text += '"';
    line.starts.push_back(line.text.size());
    line.text += argument;
    if (quote) line.text += '"';
  }
  return line;
}

// Some occurrence of `path` in the line lies wholly outside [first, last].
bool OccursOutside(const std::string& text, const char* path, size_t first, size_t last) {
  const size_t length = strlen(path);
  for (size_t at = text.find(path); at != std::string::npos; at = text.find(path, at + 1))
    if (first == std::string::npos || at + length <= first || at > last) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments{"aes*tarnex"};  // an asterisk the capture must pass over
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
  const Line rebuilt = Rebuild(arguments);

  InScratch scratch;
  engine::CipherJob job;
  console::CommandLine line;
  gAllocations = 0;
  gCounting = true;
  console::RebuildCommandLine(static_cast<int>(argv.size()), argv.data(), line);
  console::ReadCommandLine(line, job);
  const console::ParseResult result = console::ParseArguments(line, job);
  gCounting = false;
  FUZZ_CHECK(gAllocations == 0);
  FUZZ_CHECK(line.length == rebuilt.text.size());
  FUZZ_CHECK(line.cursor <= line.length);

  // The passphrase: strictly between the first and the last asterisk after the program name,
  // tabs and quotes kept; copied only when 1 to 512 bytes long, its length kept in any case.
  const size_t from = rebuilt.starts.size() > 1 ? rebuilt.starts[1] - 1 : rebuilt.text.size();
  size_t first = rebuilt.text.find('*', from), last = rebuilt.text.rfind('*');
  if (last < from || last == first) first = last = std::string::npos;
  const size_t length = first != std::string::npos ? last - first - 1 : 0;
  FUZZ_CHECK(job.passphraseLength == length);
  if (length >= 1 && length <= engine::kMaxPassphrase) {
    FUZZ_CHECK(memcmp(job.passphrase, rebuilt.text.data() + first + 1, length) == 0);
  } else {
    FUZZ_CHECK(IsZero(job.passphrase, sizeof job.passphrase));
  }

  // A tab or a double quote of an argument outside the passphrase ends parsing.
  bool unsafe = false;
  for (size_t i = 1; i < arguments.size(); ++i)
    for (size_t k = 0; k < arguments[i].size(); ++k) {
      const size_t at = rebuilt.starts[i] + k;
      const bool inside = first != std::string::npos && at >= first && at <= last;
      unsafe = unsafe || ((arguments[i][k] == '\t' || arguments[i][k] == '"') && !inside);
    }
  if (unsafe) FUZZ_CHECK(!result.ok);
  if (result.status == JobStatus::UnsafeName) FUZZ_CHECK(unsafe);

  if (result.ok) {
    CheckAccepted(result, job);
    FUZZ_CHECK(OccursOutside(rebuilt.text, job.outputPath, first, last));
    if (result.function != ConsoleFunction::Prng)
      FUZZ_CHECK(OccursOutside(rebuilt.text, job.inputPath, first, last));
  } else {
    CheckRefusal(result, job);
  }
  FUZZ_CHECK(Look() == gFolder);
  return 0;
}
