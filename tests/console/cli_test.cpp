// Black-box tests of the console program: the built binary runs with argument vectors and files
// the tests control, and its standard output bytes, exit code and files on disk are checked. What
// a mode computes is proven in the engine's tests; here each path has one thin row. The final
// lines are the ones the manual page lists under each exit code, which keeps the page true too.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/support/openssl_oracle.h"

namespace {

using engine::CipherMode;
using testing_support::Bytes;
using testing_support::RandomBytes;
using Args = std::vector<std::string>;

constexpr uint64_t k64MiB = 67108864;
constexpr uint64_t kGcmLimit = 68719476704;  // the largest input a GCM counter can cover

// The final line, CR LF included, that the manual page lists `nth` under exit code `code`.
std::string Final(int code, size_t nth = 0) {
  static const std::map<int, std::vector<std::string>> kLines = [] {
    std::map<int, std::vector<std::string>> lines;
    std::ifstream page(AESTARNEX_MAN);
    int listed = -1;  // the code whose lines follow
    for (std::string line; std::getline(page, line);) {
      if (line.rfind(".B ", 0) == 0 && line.find_first_not_of("0123456789", 3) == line.npos) {
        listed = std::stoi(line.substr(3));
      } else if (line.rfind(".br", 0) != 0 && line.rfind(".", 0) == 0) {
        listed = -1;
      } else if (listed >= 0 && line[0] != '.') {
        for (size_t at; (at = line.find("\\-")) != std::string::npos;)
          line.erase(at, 1);
        lines[listed].push_back(line);
      }
    }
    return lines;
  }();
  return kLines.at(code).at(nth) + "\r\n";
}

// The program under test: the Linux build, or the Windows build that AESTARNEX_EXE names, run
// through the Wine loader (AESTARNEX_WINE, else Debian's). Both open each other's files.
const char* WindowsBuild() {
  return getenv("AESTARNEX_EXE");
}
bool UnderWine() {
  return WindowsBuild() != nullptr;
}
Args ProgramUnderTest() {
  if (!UnderWine()) return {AESTARNEX_PATH};
  const char* wine = getenv("AESTARNEX_WINE");
  return {wine != nullptr ? wine : "/usr/lib/wine/wine64", WindowsBuild()};
}

struct Outcome {
  std::string out;    // every byte the program wrote to its standard output
  std::string err;    // and to its standard error (Pipe only)
  int code = -1;      // exit code; 128 + the signal that ended it, as a shell shows it
  bool echo = false;  // Typed: the terminal echoes once the program has ended
};

// Closed: standard output and error. Typed: a line-editing terminal on all three that answers
// each prompt (a text ending in ": ") with the next of `typed`. Standard input is /dev/null but
// for the terminals.
enum class Stdout { Pipe, Terminal, Closed, Typed };

// Runs the program (the one under test when `program` is empty) in `cwd` with exactly these
// arguments. `fileSizeLimit` (RLIMIT_FSIZE, with
// SIGXFSZ ignored) makes any file larger than that many bytes impossible to reserve or write.
Outcome RunProgram(const std::string& cwd, Args args, Stdout where, long fileSizeLimit,
                   const std::string& program, const Args& typed = {}) {
  const Args command = program.empty() ? ProgramUnderTest() : Args{program};
  args.insert(args.begin(), command.begin(), command.end());
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  int fd = -1, ends[2], errors[2] = {-1, -1};
  pid_t pid;
  const bool terminal = where == Stdout::Terminal || where == Stdout::Typed;
  if (terminal) {
    pid = forkpty(&fd, nullptr, nullptr, nullptr);
  } else {
    if (pipe2(ends, O_CLOEXEC) != 0 || pipe2(errors, O_CLOEXEC) != 0 || (pid = fork()) < 0)
      return {};
    if (pid == 0) dup2(ends[1], 1), dup2(errors[1], 2), dup2(open("/dev/null", O_RDONLY), 0);
    if (pid == 0 && where == Stdout::Closed) close(1), close(2);
    close(ends[1]), close(errors[1]);
    fd = ends[0];
  }
  if (pid == 0) {
    termios mode;  // raw, or line editing without output processing: every byte as written
    if (terminal && tcgetattr(1, &mode) == 0) {
      if (where == Stdout::Terminal) cfmakeraw(&mode);
      mode.c_oflag &= ~OPOST;
      tcsetattr(1, TCSANOW, &mode);
    }
    if (where == Stdout::Typed) alarm(60);  // a prompt left unanswered must not hang the suite
    if (fileSizeLimit >= 0) {
      const rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
      signal(SIGXFSZ, SIG_IGN);
    }
    if (chdir(cwd.c_str()) == 0) execv(argv[0], argv.data());
    _exit(127);
  }
  Outcome outcome;
  char buffer[4096];
  // A terminal reports EIO once the program has closed its side.
  size_t answered = 0;
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);) {
    outcome.out.append(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    size_t prompts = 0;
    for (size_t at = 0; (at = outcome.out.find(": ", at)) != outcome.out.npos; ++at)
      ++prompts;
    for (; answered < std::min(prompts, typed.size()); ++answered)
      EXPECT_EQ(write(fd, typed[answered].data(), typed[answered].size()),
                static_cast<ssize_t>(typed[answered].size()));
  }
  for (ssize_t n; errors[0] >= 0 && (n = read(errors[0], buffer, sizeof buffer)) > 0;)
    outcome.err.append(buffer, static_cast<size_t>(n));
  if (errors[0] >= 0) close(errors[0]);
  termios mode;
  outcome.echo = tcgetattr(fd, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
  // Wine's console draws what the program writes to a terminal: it hides and shows the cursor
  // around each write, and moves over a trailing blank rather than writing it.
  for (const auto& [drawn, written] :
       {std::pair{"\x1b[?25l", ""}, {"\x1b[?25h", ""}, {"\x1b[K", ""}, {"\x1b[1C", " "}})
    for (size_t at;
         where == Stdout::Terminal && (at = outcome.out.find(drawn)) != outcome.out.npos;)
      outcome.out.replace(at, strlen(drawn), written);
  close(fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) outcome.code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.code = 128 + WTERMSIG(status);
  return outcome;
}

// Hexadecimal digits, upper case, with `separator` between pairs when it is not 0.
std::string Hex(const Bytes& bytes, char separator = 0) {
  std::string text;
  for (uint8_t b : bytes) {
    if (separator != 0 && !text.empty()) text += separator;
    text += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  }
  return text;
}

Bytes Prefix(const Bytes& bytes, size_t count) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(count));
}

// One line on standard error that names the file first ("name: reason" as `expected` begins),
// or none at all.
void ExpectFaultLine(const std::string& err, const std::string& expected) {
  if (expected.empty()) {
    EXPECT_EQ(err, "");
    return;
  }
  EXPECT_EQ(err.rfind("aestarnex: " + expected, 0), 0u) << err;
  EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
}

// A file name and the system's text for `error`, as the standard-error line gives them.
std::string Sys(const std::string& name, int error) {
  return name + ": " + strerror(error) + "\n";
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    Write("in", plain_);
    Write("key40", key40_);
    Write("iv16", iv16_);
    Write("short10", Bytes(10, 0x5a));
  }

  std::string Path(const std::string& name) const { return dir_.File(name); }
  void Write(const std::string& name, const Bytes& bytes) const {
    testing_support::WriteFileBytes(Path(name), bytes);
  }
  Bytes Read(const std::string& name) const { return testing_support::ReadFileBytes(Path(name)); }
  bool Holds(const std::string& name, const Bytes& bytes) const {
    return testing_support::FileExists(Path(name)) && Read(name) == bytes;
  }
  // `size` bytes without data blocks, but for a first byte of 1 (a sealed file's version).
  void Sparse(const std::string& name, uint64_t size) const {
    Write(name, {1});
    ASSERT_EQ(truncate(Path(name).c_str(), static_cast<off_t>(size)), 0);
  }
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  Outcome Run(const Args& args, Stdout where = Stdout::Pipe, long fileSizeLimit = -1,
              const std::string& program = "", const Args& typed = {}) const {
    return RunProgram(dir_.path(), args, where, fileSizeLimit, program, typed);
  }
  // Runs each row and checks its final line and code, and that the folder stays as it was.
  template <typename Rows>
  void ExpectRefusals(const Rows& rows, long fileSizeLimit = -1) {
    const std::vector<std::string> before = Listing();
    for (const auto& row : rows) {
      // Wine's server process, not the program, sets a file's length: the limit reaches only
      // the writes there, never the space test.
      if (UnderWine() && fileSizeLimit >= 0 && row.code == 22) continue;
      const Outcome outcome = Run(row.args, Stdout::Pipe, fileSizeLimit);
      EXPECT_EQ(outcome.out, Final(row.code, row.nth)) << ::testing::PrintToString(row.args);
      EXPECT_EQ(outcome.code, row.code) << ::testing::PrintToString(row.args);
      ExpectFaultLine(outcome.err, row.err);
      EXPECT_EQ(Listing(), before) << ::testing::PrintToString(row.args);
    }
    EXPECT_TRUE(Read("in") == plain_ && Read("key40") == key40_ && Read("iv16") == iv16_);
  }

  testing_support::TempDir dir_;
  const Bytes plain_ = RandomBytes(1000, 1), key40_ = RandomBytes(40, 2),
              iv16_ = RandomBytes(16, 3);
};

struct Refusal {
  Args args;
  int code;
  size_t nth = 0;        // which of the code's final lines
  std::string err = "";  // the start of the standard-error line after "aestarnex: "; "": none
};

// The lines a user reads the grammar from, and the text's frame: an empty first line, CR LF after
// every line, in any case and whatever follows.
TEST_F(Cli, HelpPrintsTheUsageTextWithCode99) {
  const std::string kLines[] = {
      "Usage:",
      " aestarnex.exe Praxel Command Input Output [Overwrite] *Passphrase*",
      " aestarnex.exe Moltra Command Key-Size Mode IV Key Input Output [Overwrite]",
      " aestarnex.exe PRNG Size Output [Overwrite]",
      " Help | Moltra | Praxel | PRNG",
      " E | Encrypt | D | Decrypt",
      " 128 | 192 | 256",
      " CTR | GCM | OFB | CFB | CBC | ECB | PCBC",
      " 64MB | 128MB | 256MB | 512MB | 1GB | 2GB | 4GB | 8GB | 16GB",
      "Make sure you have a backup of your files before using this software"};
  const Outcome help = Run({"help"});
  EXPECT_EQ(help.code, 99);
  EXPECT_EQ(help.out.rfind("\r\nAES Tarnex - V2.00 - ", 0), 0u);
  size_t at = 0;
  for (const std::string& line : kLines)
    EXPECT_NE(at = help.out.find("\r\n" + line + "\r\n", at), std::string::npos) << line;
  EXPECT_EQ(at + kLines[std::size(kLines) - 1].size() + 4, help.out.size()) << "the last line";
  EXPECT_EQ(std::count(help.out.begin(), help.out.end(), '\r'),
            std::count(help.out.begin(), help.out.end(), '\n'))
      << "bare CR or LF";
  for (const Args& args : {Args{"HELP", "Moltra", "junk"}, Args{"hElP"}})
    EXPECT_EQ(Run(args).out, help.out);
  // What a shell user tries first: the same text as a success, and the version.
  for (const char* option : {"--help", "-h"}) {
    const Outcome shown = Run({option, "Moltra"});
    EXPECT_EQ(shown.out, help.out) << option;
    EXPECT_EQ(shown.code, 0) << option;
  }
  const Outcome version = Run({"--version"});
  EXPECT_EQ(version.out, "aestarnex 2.00\r\n");
  EXPECT_EQ(version.code, 0);
}

// Each check in its order, with its line and code, before any file is created or changed.
TEST_F(Cli, ArgumentErrorsComeInOrderWithTheirTextAndCode) {
  const std::string hex16 = Hex(Prefix(key40_, 16)), hex32 = Hex(Prefix(key40_, 32));
  const std::string badDigit = hex16.substr(0, 31) + "G", path260(260, 'p');
  const std::string passphrase513 = "*" + std::string(513, 'x') + "*";
  const std::vector<Refusal> kRows = {
      {{}, 4},
      {{"Encrypt", "E"}, 4},
      {{"Moltra", "Encrypted"}, 5},
      {{"moltra", "d", "512"}, 6},
      {{"Moltra", "D", "192", "XTS"}, 7},
      {{"Moltra", "D", "192", "CFB"}, 8, 0},
      {{"Moltra", "D", "192", "CTR", "short10"}, 8, 1},
      {{"Moltra", "D", "192", "gcm", hex16}, 8, 2},
      {{"Moltra", "D", "192", "CBC", badDigit}, 8, 3},
      {{"Moltra", "D", "192", "ofb", hex16}, 9, 0},
      {{"Moltra", "D", "192", "ECB", "short10"}, 9, 1},  // ECB: the token is the key
      {{"Moltra", "D", "128", "ECB", hex32}, 9, 2},
      {{"Moltra", "D", "192", "ECB", hex16}, 9, 3},
      {{"Moltra", "D", "256", "PCBC", hex16, hex16}, 9, 4},
      {{"Moltra", "D", "128", "ECB", hex16, path260, "out"}, 10},
      {{"Moltra", "D", "128", "ECB", hex16, "in"}, 11},
      {{"Moltra", "D", "128", "ECB", hex16, "in", "in", "Overwrite"}, 12, 0, "in: "},
      {{"Praxel"}, 5},
      {{"Praxel", "E", "", "in"}, 11},  // an empty argument does not count
      {{"Praxel", "E", "in", path260, "*pw*"}, 11},
      {{"Praxel", "E", "in", "in", "*pw*"}, 12, 0, "in: "},
      {{"Praxel", "E", "in", "out", "*pw"}, 13, 0},
      {{"Praxel", "E", "in", "out", "**"}, 13, 0},
      {{"Praxel", "E", "in", "out", passphrase513}, 13, 1},
      {{"PRNG", "32MB", "out"}, 14},
      {{"prng", "16gb"}, 11},
  };
  ExpectRefusals(kRows);
  // Names the rebuilt line would carry as other names, wherever they stand but in the
  // passphrase; refused before any IV or key file is read. (Windows hands over its own line.)
  if (UnderWine()) return;
  const std::vector<Refusal> kRebuilt = {
      {{"Praxel", "E\tin", "out", "*pw*"}, 24},
      {{"Praxel", "E", "in\"x", "out", "*pw*"}, 24},
      {{"Moltra", "D", "128", "CTR", "short10", "key40", "in", "o\tut"}, 24},
      {{"PRNG", "64MB", "out", "Overwrite\""}, 24},
  };
  ExpectRefusals(kRebuilt);
}

// One thin row per family of modes, each IV and key form once; several chunks and a partial
// block; an input path of 259 characters, the longest. A damaged GCM tag still writes the whole
// output, then fails.
TEST_F(Cli, EachModeFamilyRoundTripsAndMatchesOpenSsl) {
  const Bytes large = RandomBytes(2 * engine::kChunkSize + 17, 4);
  Write("large", large);
  const std::string path259 = std::string(100, 'f') + "/" + std::string(158, 'n');
  ASSERT_TRUE(std::filesystem::create_directory(Path(path259.substr(0, 100))));
  Write(path259, plain_);
  std::filesystem::create_directory(Path(Hex(iv16_)));  // hex text that names a folder is text
  const struct {
    CipherMode mode;
    const char* size;
    std::string iv, key;
    std::string input;
  } kRows[] = {
      {CipherMode::Ctr, "128", Hex(iv16_), Hex(Prefix(key40_, 16), ':'), "in"},
      {CipherMode::Gcm, "256", Hex(Prefix(iv16_, 12), '-'), "key40", "large"},
      {CipherMode::Cbc, "192", "iv16", Hex(Prefix(key40_, 24), 'z'), "large"},
      {CipherMode::Ecb, "256", "", "key40", path259},
  };
  for (const auto& row : kRows) {
    for (const char* name : {"enc", "dec"})
      std::filesystem::remove(Path(name));
    const Bytes key = Prefix(key40_, static_cast<size_t>(std::stoi(row.size) / 8));
    const Bytes plain = Read(row.input),
                expected = testing_support::OracleEncrypt(row.mode, key, iv16_, plain);
    Args args = {"Moltra", "E",     row.size,  engine::Traits(row.mode).name,
                 row.iv,   row.key, row.input, "enc"};
    if (row.iv.empty()) args.erase(args.begin() + 4);
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(Run(args).out, Final(0));
    EXPECT_TRUE(Holds("enc", expected));
    args[1] = "D", args.end()[-2] = "enc", args.end()[-1] = "dec";
    const bool gcm = row.mode == CipherMode::Gcm;
    EXPECT_EQ(Run(args).out, Final(1, gcm));
    EXPECT_TRUE(Holds("dec", plain));
    if (!gcm) continue;
    Bytes damaged = expected;
    damaged[0] ^= 1;  // the tag
    Write("enc", damaged);
    args.end()[-1] = "bad";
    EXPECT_EQ(Run(args).out, Final(3, 0));
    EXPECT_TRUE(Holds("bad", plain));
  }
}

// Bytes above 127, a space, an inner asterisk, a double quote, across two arguments joined by one
// space; the same bytes in one argument open the file; one byte off still writes the whole output.
// Wine hands a Windows program its arguments in the ANSI code page: é and ÿ in UTF-8 arrive as
// the bytes E9 and FF.
TEST_F(Cli, PassphraseLiesBetweenTheFirstAndLastAsterisk) {
  const std::string e = UnderWine() ? "\xc3\xa9" : "\xe9";
  const std::string passphrase = "p" + e + " w*r\"d" + (UnderWine() ? "\xc3\xbf" : "\xff");
  EXPECT_EQ(
      Run({"Praxel", "E", "in", "sealed", "*p" + e, passphrase.substr(e.size() + 2) + "*"}).out,
      Final(0));
  EXPECT_EQ(testing_support::FileSize(Path("sealed")), plain_.size() + 45);
  const Outcome opened = Run({"praxel", "decrypt", "sealed", "opened", "*" + passphrase + "*"});
  EXPECT_EQ(opened.out, Final(1, 1));
  EXPECT_EQ(opened.code, 1);
  EXPECT_TRUE(Holds("opened", plain_));
  const Outcome wrong = Run({"Praxel", "D", "sealed", "wrong",
                             "*p" + e + " w*r\"d" + (UnderWine() ? "\xc3\xbe*" : "\xfe*")});
  EXPECT_EQ(wrong.out, Final(3, 1));
  EXPECT_EQ(wrong.code, 3);
  EXPECT_EQ(testing_support::FileSize(Path("wrong")), plain_.size());
}

// A Praxel line without a passphrase asks the terminal on standard input for it, without echo,
// twice when encrypting; with "**" or without a terminal (stdin /dev/null above) the refusal
// stands. An interrupt at the prompt ends the program as it would have, echo back on.
TEST_F(Cli, AMissingPassphraseIsAskedOnTheTerminal) {
  // Wine's console redraws the prompt on the terminal and ends on Ctrl+C with its own status.
  if (UnderWine()) GTEST_SKIP() << "terminal echo and signals are Linux matters here";
  const struct {
    Args args;
    Args typed;
    int code;
    size_t nth;
    bool complaint;  // a line on standard error
  } kRows[] = {
      {{"Praxel", "E", "in", "sealed"}, {"s3cret\n", "s3cret\n"}, 0, 0, false},
      {{"Praxel", "D", "sealed", "opened", "*pw"}, {"s3cret\n"}, 1, 1, false},
      {{"Praxel", "D", "sealed", "wrong"}, {"s3cre\n"}, 3, 1, false},
      {{"Praxel", "E", "in", "other"}, {"s3cret\n", "s3cred\n"}, 13, 0, true},
      {{"Praxel", "E", "in", "other"}, {"\n"}, 13, 0, false},
      {{"Praxel", "E", "in", "other", "**"}, {}, 13, 0, false},
      {{"Praxel", "E", "in", "other"}, {"s3\x03"}, 128 + SIGINT, 0, false},
      {{"Praxel", "D", "missing", "other"}, {}, 15, 0, true},  // refused before asking
      {{"Praxel", "E", "in", "./in"}, {}, 12, 0, true},
      {{"Praxel", "E", "in", "sealed"}, {}, 21, 0, true},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(::testing::PrintToString(row.typed));
    const Outcome outcome = Run(row.args, Stdout::Typed, -1, AESTARNEX_PATH, row.typed);
    EXPECT_EQ(outcome.code, row.code);
    const std::string final = row.code > 128 ? "" : Final(row.code, row.nth);
    EXPECT_EQ(outcome.out.substr(outcome.out.size() - std::min(outcome.out.size(), final.size())),
              final);
    EXPECT_EQ(outcome.out.find("s3"), outcome.out.npos) << "echoed";
    EXPECT_EQ(outcome.out.find("Passphrase: ") != outcome.out.npos, !row.typed.empty());
    EXPECT_TRUE(outcome.echo) << "the terminal was left without echo";
    EXPECT_EQ(outcome.out.find("aestarnex: ") != outcome.out.npos, row.complaint) << outcome.out;
  }
  EXPECT_TRUE(Holds("opened", plain_));
  EXPECT_FALSE(testing_support::FileExists(Path("other")));
}

TEST_F(Cli, ThePassphraseIsNeverAFileName) {
  // A path to the program that holds an asterisk starts no passphrase.
  const std::string program = Path("bin*") + "/aestarnex";
  ASSERT_TRUE(std::filesystem::create_directory(Path("bin*")));
  std::filesystem::copy_file(AESTARNEX_PATH, program);
  const std::vector<Refusal> kRows = {
      {{"Praxel", "E", "in", "*correct horse battery staple*"}, 11},
      {{"Praxel", "E", "in", "out*pw*"}, 11},
      {{"Praxel", "E", "in", "*", "out", "*"}, 11},
      {{"Praxel", "E", "*pw*", "out"}, 10},
      {{"Moltra", "E", "128", "CTR", "iv16", "key40", "in", "*out*"}, 11},
  };
  ExpectRefusals(kRows);
  if (UnderWine()) GTEST_SKIP() << "a Windows path cannot hold an asterisk";
  const std::vector<std::string> before = Listing();
  EXPECT_EQ(Run({"Praxel", "E", "in", "out", "pw*"}, Stdout::Pipe, -1, program).out, Final(13));
  EXPECT_EQ(Listing(), before);
}

// With standard output and error closed the program still works and writes no final line into
// the files it opens.
TEST_F(Cli, ClosedStandardDescriptorsNeverReceiveTheFinalLine) {
  EXPECT_EQ(Run({"PRNG", "64MB", "random"}, Stdout::Closed).code, 2);
  EXPECT_EQ(testing_support::FileSize(Path("random")), k64MiB);
  EXPECT_EQ(
      Run({"Moltra", "E", "256", "GCM", "iv16", "key40", "in", "sealed"}, Stdout::Closed).code, 0);
  EXPECT_EQ(Run({"Moltra", "D", "256", "GCM", "iv16", "key40", "sealed", "opened"}).out,
            Final(1, 1));
  EXPECT_TRUE(Holds("opened", plain_));
}

// No core dumps (a core file could hold the passphrase or a key): the limit only the program
// itself sets, and the owner of its /proc entries, which is root for a process that is not
// dumpable (the program runs as another user when the test is root, from a copy that user can
// reach wherever the build lies). A full pipe holds it on its final line while it is looked at.
TEST_F(Cli, StartsWithoutCoreDumps) {
  if (UnderWine()) GTEST_SKIP() << "core limits and /proc owners are Linux matters";
  const std::string program = Path("aestarnex");
  std::filesystem::copy_file(AESTARNEX_PATH, program);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
  while (write(ends[1], "x", 1) == 1) {
  }
  fcntl(ends[1], F_SETFL, 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(ends[1], 1);
    if (geteuid() != 0 || setuid(65534) == 0)
      execl(program.c_str(), program.c_str(), "junk", nullptr);
    _exit(127);
  }
  close(ends[1]);
  const std::string proc = "/proc/" + std::to_string(pid);
  const std::string noCore = "Max core file size        0                    0 ";
  std::string limits;
  for (int tries = 0; tries < 500 && limits.find(noCore) == limits.npos; ++tries) {
    usleep(10000);
    std::ifstream file(proc + "/limits");
    limits.assign(std::istreambuf_iterator<char>(file), {});
  }
  EXPECT_NE(limits.find(noCore), limits.npos) << limits;
  struct stat status;
  EXPECT_TRUE(stat((proc + "/status").c_str(), &status) == 0 && status.st_uid == 0);
  char drain[65536];
  while (read(ends[0], drain, sizeof drain) > 0) {
  }
  close(ends[0]);
  waitpid(pid, nullptr, 0);
}

// No file may grow past 512 bytes: the space test fails, and a run that ignored a size rule
// cannot fill the disk.
TEST_F(Cli, SizeRulesRefuseBeforeAnyOutputExists) {
  Write("empty", {});
  Write("b16", Bytes(16, 7));
  Write("b33", Bytes(33, 7));
  Sparse("h45", 45);
  Write("v2", Bytes(46, 2));
  Sparse("limit", kGcmLimit);
  Sparse("huge", kGcmLimit + 1);
  std::filesystem::create_directory(Path("sub"));
  auto moltra = [](const char* command, const char* mode, const char* in, const char* out) {
    return Args{"Moltra", command, "128", mode, "iv16", "key40", in, out};
  };
  std::vector<Refusal> rows = {
      {moltra("E", "CTR", "missing", "out"), 15, 0, Sys("missing", ENOENT)},
      {moltra("E", "CTR", "a\x1b]0;b\x07\n\x7f", "out"), 15, 0, "a\\x1b]0;b\\x07\\x0a\\x7f: "},
      {moltra("E", "CTR", "sub", "out"), 15, 0, "sub: "},
      {moltra("D", "OFB", "empty", "out"), 16, 0, "empty: "},
      {moltra("D", "CFB", "b33", "out"), 17, 0, "b33: "},
      {moltra("D", "GCM", "b16", "out"), 18, 0, "b16: "},
      {{"Praxel", "E", "empty", "out", "*pw*"}, 16, 0, "empty: "},
      {{"Praxel", "D", "empty", "out", "*pw*"}, 19, 0, "empty: "},
      {{"Praxel", "D", "h45", "out", "*pw*"}, 19, 0, "h45: "},
      {{"Praxel", "D", "v2", "out", "*pw*"}, 20, 0, "v2: "},
      {moltra("E", "CTR", "in", "no folder/out"), 21, 0, Sys("no folder/out", ENOENT)},
      {moltra("E", "CTR", "in", "sub"), 21, 0, "sub: "},
      {moltra("E", "CTR", "in", "out"), 22, 0, Sys("out", EFBIG)},
      {{"PRNG", "64MB", "out"}, 22, 0, Sys("out", EFBIG)},
      {moltra("E", "GCM", "limit", "out"), 22, 0, "out: "},  // the largest size is allowed
      {{"Praxel", "E", "limit", "out", "*pw*"}, 22, 0, "out: "},
      {moltra("E", "GCM", "huge", "out"), 23, 0, "huge: "},
      {{"Praxel", "E", "huge", "out", "*pw*"}, 23, 0, "huge: "},
  };
  if (!UnderWine())  // UTF-8 names: a C1 control (CSI) is escaped, a no-break space is not
    rows.push_back(
        {moltra("E", "CTR", "c1\xc2\x9b\xc2\xa0", "out"), 15, 0, "c1\\xc2\\x9b\xc2\xa0: "});
  ExpectRefusals(rows, 512);
}

// The input, an IV or a key file under another name is refused as the output; names are compared
// byte by byte, so "in" and "IN" are two files on Linux and one under Windows names.
TEST_F(Cli, TheInputOrAKeyFileUnderAnotherNameIsRefused) {
  ASSERT_EQ(link(Path("in").c_str(), Path("hard link").c_str()), 0);
  ASSERT_EQ(symlink("in", Path("symlink").c_str()), 0);
  ASSERT_EQ(symlink("iv16", Path("iv link").c_str()), 0);
  const std::vector<Refusal> kRows = {
      {{"Moltra", "E", "128", "ECB", "key40", "in", "./in", "Overwrite"}, 12, 0, "./in: "},
      {{"Moltra", "D", "128", "CTR", "iv16", "key40", "in", "hard link", "Overwrite"},
       12,
       0,
       "hard link: "},
      {{"Praxel", "E", "in", "symlink", "Overwrite", "*pw*"}, 12, 0, "symlink: "},
      {{"Moltra", "D", "128", "CTR", "iv16", "key40", "symlink", "in"}, 12, 0, "in: "},
      {{"Moltra", "D", "256", "GCM", "iv16", "key40", "in", "key40", "Overwrite"},
       12,
       0,
       "key40: "},
      {{"Moltra", "E", "128", "CTR", "iv16", "key40", "in", "iv link", "Overwrite"},
       12,
       0,
       "iv link: "},
  };
  ExpectRefusals(kRows);
  if (!UnderWine()) {
    EXPECT_EQ(Run({"Moltra", "E", "128", "ECB", "key40", "in", "IN"}).code, 0);
    return;
  }
  const std::vector<Refusal> kWindowsNames = {
      {{"Moltra", "E", "128", "ECB", "key40", "in", ".\\in", "Overwrite"}, 12, 0, ".\\in: "},
      {{"Praxel", "E", "in", "IN", "*pw*"}, 12, 0, "IN: "},
      {{"Moltra", "D", "128", "CTR", "iv16", "KEY40", "in", "key40", "Overwrite"},
       12,
       0,
       "key40: "},
  };
  ExpectRefusals(kWindowsNames);
}

// Overwrite counts only right after the output path. It writes a private file beside the existing
// one and puts it in its place only when the job succeeds; a link there is replaced, never
// followed, and another user's file is refused.
TEST_F(Cli, AnExistingOutputIsReplacedOnlyByAJobThatSucceeded) {
  const Bytes old = RandomBytes(300, 5);
  auto existing = [&](const std::string& name) {
    Write(name, old);
    ASSERT_EQ(chmod(Path(name).c_str(), 0644), 0);
  };
  ASSERT_EQ(Run({"Praxel", "E", "in", "sealed", "*pw*"}).code, 0);
  Write("gcm", testing_support::OracleEncrypt(CipherMode::Gcm, Prefix(key40_, 32), iv16_, plain_));
  const Args ctr = {"Moltra", "E", "128", "CTR", "iv16", "key40", "in", "out", "Overwrite"};
  const struct {
    Args args;
    long fileSizeLimit;
    int code;
    size_t nth;
    std::string err;
  } kFailures[] = {
      {{"Moltra", "E", "128", "ECB", "key40", "in", "out"}, -1, 21, 0, "out: "},
      {{"Moltra", "E", "128", "ECB", "key40", "in", "out", "junk", "Overwrite"},
       -1,
       21,
       0,
       "out: "},
      {{"Praxel", "E", "in", "out", "*pw*", "Overwrite"}, -1, 21, 0, "out: "},
      {ctr, 512, 22, 0, Sys("out", EFBIG)},
      {{"Praxel", "D", "sealed", "out", "Overwrite", "*typo*"}, -1, 3, 1, ""},
      {{"Moltra", "D", "256", "GCM", "iv16", Hex(Bytes(32, 0)), "gcm", "out", "Overwrite"},
       -1,
       3,
       0,
       ""},
      // The space test passes, the header takes the body past the limit: a write fails mid-job.
      {{"Praxel", "E", "in", "out", "Overwrite", "*pw*"}, 1000, 21, 0, Sys("out", EFBIG)},
  };
  for (const auto& c : kFailures) {
    if (UnderWine() && c.code == 22) continue;  // as in ExpectRefusals
    SCOPED_TRACE(::testing::PrintToString(c.args));
    existing("out");
    const Outcome outcome = Run(c.args, Stdout::Pipe, c.fileSizeLimit);
    EXPECT_EQ(outcome.out, Final(c.code, c.nth));
    EXPECT_EQ(outcome.code, c.code);
    // Wine passes a write past the limit on as a failure without a reason.
    ExpectFaultLine(outcome.err, UnderWine() && c.fileSizeLimit >= 0 ? "out: " : c.err);
    EXPECT_TRUE(Holds("out", old));
    EXPECT_EQ(testing_support::PartFileCount(dir_.path()), 0);
  }

  // Killed outright while it works: at most the temporary file stays behind.
  Args command = ProgramUnderTest();
  for (const char* arg : {"Praxel", "E", "in", "out", "Overwrite", "*pw*"})
    command.push_back(arg);
  std::vector<char*> argv;
  for (std::string& arg : command)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir_.path().c_str()) == 0) execv(argv[0], argv.data());
    _exit(127);
  }
  while (testing_support::PartFileCount(dir_.path()) == 0 && waitpid(pid, nullptr, WNOHANG) == 0)
    usleep(100);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_TRUE(Holds("out", old));
  EXPECT_LE(testing_support::PartFileCount(dir_.path()), 1);

  // Success, with Overwrite in any case: the new output takes the name, private; a link there is
  // replaced, not followed.
  existing("victim");
  ASSERT_EQ(symlink("victim", Path("link").c_str()), 0);
  const Bytes expected =
      testing_support::OracleEncrypt(CipherMode::Ctr, Prefix(key40_, 16), iv16_, plain_);
  for (const char* name : {"out", "link"}) {
    Args args = ctr;
    args[7] = name, args[8] = "oVERWRITE";
    EXPECT_EQ(Run(args).out, Final(0));
    struct stat info;
    ASSERT_EQ(lstat(Path(name).c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode)) << name;
    // Windows: the folder's access list decides.
    EXPECT_TRUE(UnderWine() || (info.st_mode & 0777) == 0600) << name;
    EXPECT_TRUE(Holds(name, expected)) << name;
  }
  EXPECT_TRUE(Holds("victim", old));

  // In a shared folder, another user's file or link is never written into.
  if (UnderWine()) {
    // A read-only file is not replaced; a device name is neither an output nor an input.
    existing("read-only");
    ASSERT_EQ(chmod(Path("read-only").c_str(), 0444), 0);
    Args args = ctr;
    args[7] = "read-only";
    const Refusal kRows[] = {{args, 21, 0, Sys("read-only", EACCES)},
                             {{"PRNG", "64MB", "NUL"}, 21, 0, "NUL: not a regular file"},
                             {{"PRNG", "64MB", "nul", "Overwrite"}, 21, 0, "nul: not a regular"},
                             {{"Praxel", "E", "NUL", "out", "*pw*"}, 15, 0, "NUL: not a regular"}};
    ExpectRefusals(kRows);
    GTEST_SKIP() << "Windows leaves a file's owner to its access list";
  }
  if (geteuid() != 0) GTEST_SKIP() << "giving files to another user needs root";
  ASSERT_EQ(mkdir(Path("shared").c_str(), 01777), 0);
  ASSERT_EQ(chmod(Path("shared").c_str(), 01777), 0);
  existing("shared/out");
  ASSERT_EQ(symlink("../victim", Path("shared/link").c_str()), 0);
  for (const char* name : {"shared/out", "shared/link"}) {
    ASSERT_EQ(lchown(Path(name).c_str(), 54321, 54321), 0);
    Args args = ctr;
    args[7] = name;
    const Outcome outcome = Run(args);
    EXPECT_EQ(outcome.out, Final(21)) << name;
    ExpectFaultLine(outcome.err, std::string(name) + ": ");
  }
  EXPECT_TRUE(Holds("shared/out", old) && Holds("victim", old));
}

// Files made by the Windows build open with the Linux build and the reverse, one row per format;
// the ciphertexts of a key and IV are the same bytes. A passphrase's é reaches the Windows build
// in the ANSI code page (E9), which the Linux build must be given raw.
TEST_F(Cli, FilesCrossBetweenTheWindowsAndLinuxBuilds) {
  if (!UnderWine()) GTEST_SKIP() << "needs the Windows build (AESTARNEX_EXE)";
  const struct {
    Args head;
    std::string windowsPassphrase, linuxPassphrase;
  } kRows[] = {
      {{"Moltra", "", "192", "CBC", "iv16", "key40"}, "", ""},
      {{"Moltra", "", "256", "GCM", "iv16", "key40"}, "", ""},
      {{"Praxel", ""}, "*p\xc3\xa9 w*rd*", "*p\xe9 w*rd*"},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.head[0] + " " + row.head.back());
    auto run = [&](bool windows, const char* command, const char* in, const char* out) {
      Args args = row.head;
      args[1] = command;
      args.insert(args.end(), {in, out, windows ? row.windowsPassphrase : row.linuxPassphrase});
      return Run(args, Stdout::Pipe, -1, windows ? "" : AESTARNEX_PATH).code;
    };
    for (const char* name : {"w.enc", "l.enc", "w.dec", "l.dec"})
      std::filesystem::remove(Path(name));
    EXPECT_EQ(run(true, "E", "in", "w.enc"), 0);
    EXPECT_EQ(run(false, "E", "in", "l.enc"), 0);
    EXPECT_TRUE(row.head[0] == "Praxel" || Read("w.enc") == Read("l.enc"));  // Praxel: salted
    EXPECT_EQ(run(false, "D", "w.enc", "w.dec"), 1);
    EXPECT_EQ(run(true, "D", "l.enc", "l.dec"), 1);
    EXPECT_TRUE(Holds("w.dec", plain_) && Holds("l.dec", plain_));
  }
}

// Progress shows only on a terminal and only above 64 MiB; a sealed file counts without its
// header. PRNG of 64 MiB writes exactly that much and shows none.
TEST_F(Cli, ProgressAppearsOnlyOnATerminalAndOnlyAbove64MiB) {
  std::string progress;
  for (int percent = 1; percent <= 100; ++percent)
    progress += "Working - " + std::to_string(1000 + percent).substr(1) + "%\r";
  const Args ctr = {"Moltra", "E", "128", "CTR", "iv16", "key40", "big", "out"};
  const struct {
    Args args;
    uint64_t size;
    Stdout where;
    std::string out;
    uint64_t outputSize;
  } kRows[] = {
      {ctr, k64MiB + 1, Stdout::Terminal, progress + Final(0), k64MiB + 1},
      {ctr, k64MiB + 1, Stdout::Pipe, Final(0), k64MiB + 1},
      {ctr, k64MiB, Stdout::Terminal, Final(0), k64MiB},
      {{"Praxel", "D", "big", "out", "*pw*"}, k64MiB + 45, Stdout::Terminal, Final(3, 1), k64MiB},
      {{"PRNG", "64mb", "out"}, 0, Stdout::Terminal, "PRNG Complete \r\n", k64MiB},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(::testing::PrintToString(row.args) + " " + std::to_string(row.size));
    Sparse("big", row.size);
    EXPECT_EQ(Run(row.args, row.where).out, row.out);
    EXPECT_EQ(testing_support::FileSize(Path("out")), row.outputSize);
    std::filesystem::remove(Path("out"));
  }
}

}  // namespace
