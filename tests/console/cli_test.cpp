// Black-box tests of the console program: the built binary is run with argument vectors and files
// the tests control, and its standard output bytes, exit code and files on disk are checked.
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/openssl_oracle.h"
#include "tests/support/test_files.h"

namespace {

using engine::CipherMode;
using testing_support::Bytes;
using testing_support::RandomBytes;
using testing_support::TempDir;
using Args = std::vector<std::string>;

// Final lines of argument errors (exit codes 4 to 14 and 24).
const std::string kNoFunction = "Error - No 1st argument. [Help | Praxel | Moltra | PRNG]";
const std::string kNoCommand = "Error - No Command. [E | Encrypt | D | Decrypt]";
const std::string kNoKeySize = "Error - No Key Size. [128 | 192 | 256]";
const std::string kNoMode =
    "Error - No Mode of Operation. [CTR | GCM | OFB | CFB | CBC | ECB | PCBC]";
const std::string kNoIv = "Error - No Initialization Vector";
const std::string kIv96 = "Error - 96 bit IV can only be 24 or 35 [0-9 A-F] characters";
const std::string kIv128 = "Error - 128 bit IV can only be 32 or 47 [0-9 A-F] characters";
const std::string kIvShort = "Error - IV: There are too few bytes in the file";
const std::string kNoKey = "Error - No Key";
const std::string kKeyShort = "Error - Key: There are too few bytes in the file";
const std::string kKey128 = "Error - 128 bit key can only be 32 or 47 [0-9 A-F] characters";
const std::string kKey192 = "Error - 192 bit key can only be 48 or 71 [0-9 A-F] characters";
const std::string kKey256 = "Error - 256 bit key can only be 64 or 95 [0-9 A-F] characters";
const std::string kNoInput = "Error - No Input";
const std::string kNoOutput = "Error - No Output";
const std::string kSameFile = "Error - Input and output file names can not be the same";
const std::string kNoPassphrase = "Error - No Passphrase";
const std::string kLongPassphrase = "Error - Passphrase > 512 Characters";
const std::string kNoSize =
    "Error - No Size. [64MB | 128MB | 256MB | 512MB | 1GB | 2GB | 4GB | 8GB | 16GB]";
const std::string kTabOrQuote = "Error - A file name holds a tab or a double quote";
// Final lines of the runs.
const std::string kEncrypted = "Encryption Complete";
const std::string kDecrypted = "Decryption Complete";
const std::string kTagCorrect = "Decryption Complete. Authentication Tag Correct";
const std::string kGcmTagFailure =
    "Error - GCM Authentication Tag failure. Incorrect IV, Key or damaged file";
const std::string kSealedFailure =
    "Error - Decryption Failure. Incorrect passphrase or damaged file";
const std::string kCannotOpen = "Error - Could not open the input file";
const std::string kZeroBytes = "Error - Input file contains zero bytes";
const std::string kNotMultiple = "Error - Input file is not a multiple of 16 bytes";
const std::string kNoRoomForTag =
    "Error - Input file is too small to contain a GCM Authentication Tag";
const std::string kNoRoomForHeader =
    "Error - Input file is too small to contain an encryption header";
const std::string kNotV1 = "Error - Only a file with a V1 header can be decrypted";
const std::string kCannotSave = "Error - Could not save the output file";
const std::string kNoSpace = "Error - Destination does not have enough space";
const std::string kTooLarge = "Error - Input file is too large for GCM encryption";

constexpr uint64_t k64MiB = 67108864;
constexpr uint64_t kGcmLimit = 68719476704;  // largest input a GCM counter can cover
constexpr uint32_t kChunk = 262144;

std::string Line(const std::string& text) {
  return text + "\r\n";
}

struct Outcome {
  std::string out;  // every byte the program wrote to its standard output
  int code = -1;    // exit code; -1 when it did not exit normally
};

enum class Stdout { Pipe, Terminal, Closed };  // Closed: standard output and error

// Runs the program in `cwd` with exactly these arguments. `fileSizeLimit` (RLIMIT_FSIZE, with
// SIGXFSZ ignored) makes any file larger than that many bytes impossible to reserve or write.
Outcome RunProgram(const std::string& cwd, const Args& args, Stdout where, long fileSizeLimit,
                   const std::string& program) {
  Args all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all)
    argv.push_back(arg.data());
  argv.push_back(nullptr);

  int fd = -1;
  pid_t pid;
  if (where == Stdout::Terminal) {
    pid = forkpty(&fd, nullptr, nullptr, nullptr);
  } else {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
    pid = fork();
    if (pid == 0) {
      dup2(ends[1], 1);
      if (where == Stdout::Closed) close(1), close(2);
    }
    close(ends[1]);
    fd = ends[0];
  }
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    if (where == Stdout::Terminal) {  // raw: the terminal passes every byte on unchanged
      termios mode;
      tcgetattr(1, &mode);
      cfmakeraw(&mode);
      tcsetattr(1, TCSANOW, &mode);
    }
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
  for (;;) {  // a terminal reports EIO once the program has closed its side
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) outcome.out.append(buffer, static_cast<size_t>(n));
    if (n == 0 || (n < 0 && errno != EINTR)) break;
  }
  close(fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) outcome.code = WEXITSTATUS(status);
  return outcome;
}

// The program's hash of a token, by which it recognises keywords.
uint32_t KeywordHash(const std::string& text) {
  uint32_t h = 0;
  for (unsigned char byte : text) {
    const uint32_t c = byte >= 0x61 ? byte - 0x20u : byte;
    h = (h >> 1 | h << 31) + c;
    h *= c;
  }
  return h;
}

// Three bytes (no quote, no asterisk) that are not the upper-case `keyword` in any case but
// have its hash; empty when there are none.
std::string HashTwin(const std::string& keyword) {
  const uint32_t target = KeywordHash(keyword);
  for (int a = 0x21; a < 0x100; ++a)
    for (int b = 0x21; b < 0x100; ++b)
      for (int c = 0x21; c < 0x100; ++c) {
        const std::string candidate = {static_cast<char>(a), static_cast<char>(b),
                                       static_cast<char>(c)};
        if (KeywordHash(candidate) != target) continue;
        if (candidate.find_first_of("\"*") != std::string::npos) continue;
        std::string folded = candidate;
        for (char& ch : folded)
          ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
        if (folded != keyword) return candidate;
      }
  return "";
}

// Hexadecimal digits, upper case, with `separator` between pairs when it is not 0.
std::string Hex(const Bytes& bytes, char separator = 0) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (separator != 0 && i > 0) text += separator;
    text += "0123456789ABCDEF"[bytes[i] >> 4];
    text += "0123456789ABCDEF"[bytes[i] & 15];
  }
  return text;
}

// "@" stands for any run of characters, "#" for one hexadecimal digit; the rest is literal.
bool Matches(std::string_view pattern, std::string_view text) {
  if (pattern.empty()) return text.empty();
  if (pattern[0] == '@') {
    for (size_t skip = 0; skip <= text.size(); ++skip)
      if (Matches(pattern.substr(1), text.substr(skip))) return true;
    return false;
  }
  if (text.empty()) return false;
  const bool same = pattern[0] == '#' ? isxdigit(static_cast<unsigned char>(text[0])) != 0
                                      : pattern[0] == text[0];
  return same && Matches(pattern.substr(1), text.substr(1));
}

// A line of `count` example bytes in the colon form, with its leading space.
std::string ColonPattern(size_t count) {
  std::string pattern = "~ ##";
  for (size_t i = 1; i < count; ++i)
    pattern += ":##";
  return pattern;
}

Bytes Prefix(const Bytes& bytes, size_t count) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(count));
}

// The sealed format with OpenSSL alone: PBKDF2-HMAC-SHA-256 with 524,288 iterations over the
// salt at 13, AES-256-GCM with the nonce at 1, the tag at 29 and the body from 45.
Bytes SealedKey(const std::string& passphrase, const uint8_t* salt) {
  Bytes key(32);
  PKCS5_PBKDF2_HMAC(passphrase.data(), static_cast<int>(passphrase.size()), salt, 16, 524288,
                    EVP_sha256(), 32, key.data());
  return key;
}

Bytes SealWithOpenSsl(const std::string& passphrase, const Bytes& plain) {
  Bytes file = RandomBytes(45 + plain.size(), 77);
  file[0] = 1;
  const Bytes key = SealedKey(passphrase, &file[13]);
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  int length = 0;
  EVP_EncryptInit_ex(context, EVP_aes_256_gcm(), nullptr, key.data(), &file[1]);
  EVP_EncryptUpdate(context, &file[45], &length, plain.data(), static_cast<int>(plain.size()));
  EVP_EncryptFinal_ex(context, &file[45] + length, &length);
  EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_GET_TAG, 16, &file[29]);
  EVP_CIPHER_CTX_free(context);
  return file;
}

// The body of a sealed file when its tag checks out with `passphrase`, else an empty result.
Bytes OpenWithOpenSsl(const std::string& passphrase, Bytes file) {
  if (file.size() < 46 || file[0] != 1) return {};
  const Bytes key = SealedKey(passphrase, &file[13]);
  Bytes plain(file.size() - 45);
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  int length = 0;
  EVP_DecryptInit_ex(context, EVP_aes_256_gcm(), nullptr, key.data(), &file[1]);
  EVP_DecryptUpdate(context, plain.data(), &length, &file[45], static_cast<int>(plain.size()));
  EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_SET_TAG, 16, &file[29]);
  const bool good = EVP_DecryptFinal_ex(context, plain.data() + length, &length) == 1;
  EVP_CIPHER_CTX_free(context);
  return good ? plain : Bytes{};
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
  bool Exists(const std::string& name) const { return testing_support::FileExists(Path(name)); }
  // `size` bytes without data blocks, but for a first byte of 1 (a sealed file's version).
  void Sparse(const std::string& name, uint64_t size) const {
    const int fd = open(Path(name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    ASSERT_EQ(pwrite(fd, "\1", 1, 0), 1);
    close(fd);
  }
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  Outcome Run(const Args& args, Stdout where = Stdout::Pipe, long fileSizeLimit = -1,
              const std::string& program = AESTARNEX_PATH) const {
    return RunProgram(dir_.path(), args, where, fileSizeLimit, program);
  }

  TempDir dir_;
  const Bytes plain_ = RandomBytes(1000, 1);
  const Bytes key40_ = RandomBytes(40, 2);
  const Bytes iv16_ = RandomBytes(16, 3);
};

TEST_F(Cli, HelpPrintsTheUsageTextWithCode99) {
  // "~" marks a line with parts of the maker's choosing (a pattern for Matches); "=" a line that
  // repeats the bytes of the line before it in plain form.
  const std::string kColon16 = ColonPattern(16);
  const std::vector<std::string> kLines = {
      "",
      "~AES Tarnex - V2.00 - @",
      "~@",
      "A Windows command line utility to encrypt single files",
      "",
      "Usage:",
      " aestarnex.exe Help",
      " aestarnex.exe Praxel Command Input Output [Overwrite] *Passphrase*",
      " aestarnex.exe Moltra Command Key-Size Mode IV Key Input Output [Overwrite]",
      " aestarnex.exe PRNG Size Output [Overwrite]",
      "",
      " + All arguments should be in the order given above.",
      " + Filenames containing spaces should be enclosed in \"quotes\".",
      " + Arguments are not case sensitive.",
      "",
      "1st argument (Function as AES...)",
      " Help | Moltra | Praxel | PRNG",
      "",
      "",
      "Command: (Praxel / Moltra)",
      " E | Encrypt | D | Decrypt",
      "",
      "",
      "Key-Size: (Moltra)",
      " 128 | 192 | 256",
      "",
      "",
      "Mode: (Moltra)",
      " CTR | GCM | OFB | CFB | CBC | ECB | PCBC",
      "",
      "",
      "IV / Initialization Vector: (Moltra)",
      "Three formats are available.",
      "",
      "CBC, OFB, CFB, CTR and PCBC use 16 bytes:",
      " \"d:\\IV File\" (File should contain 16 bytes or more of binary data)",
      kColon16,
      "=",
      "",
      "GCM uses 12 bytes:",
      " \"d:\\IV File\" (File should contain 12 bytes or more of binary data)",
      ColonPattern(12),
      "=",
      "",
      "ECB does not use an IV",
      "",
      "",
      "Key: (Moltra)",
      "Three formats are available.",
      "",
      "128 Bit Key:",
      " \"d:\\Key File\" (File should contain 16 bytes or more of binary data)",
      kColon16,
      "=",
      "",
      "192 Bit Key:",
      " \"d:\\Key File\" (File should contain 24 bytes or more of binary data)",
      ColonPattern(24),
      "=",
      "",
      "256 Bit Key:",
      " \"d:\\Key File\" (File should contain 32 bytes or more of binary data)",
      ColonPattern(32),
      "=",
      "",
      "",
      "Size: (PRNG)",
      " 64MB | 128MB | 256MB | 512MB | 1GB | 2GB | 4GB | 8GB | 16GB",
      "",
      "",
      "Input: (Praxel / Moltra)",
      " \"d:\\example filename.txt\"",
      "",
      "",
      "Output: (Praxel / Moltra / PRNG)",
      " \"d:\\backup\\example filename.txt.aes\"",
      "",
      "",
      "[Optional] Overwrite: (Praxel / Moltra / PRNG)",
      " Overwrite explicitly allows an existing output file to be overwritten.",
      " This should be given immediately after the output file.",
      "",
      "",
      "*Passphrase*: (Praxel)",
      " The passphrase is BETWEEN the FIRST and LAST asterisks. Max 512 characters.",
      "~@*@*@*@",
      "",
      "",
      "Examples:",
      "~@",
      "~ aestarnex.exe Praxel E d:\\File d:\\File.aes Overwrite *@*",
      "~ aestarnex.exe Praxel D d:\\File.aes d:\\File Overwrite *@*",
      "",
      "Encrypt / Decrypt using a 128 bit key in ECB mode. ECB does not use an IV.",
      " aestarnex.exe Moltra Encrypt 128 ECB d:\\Key d:\\File d:\\File.aes Overwrite",
      " aestarnex.exe Moltra Decrypt 128 ECB d:\\Key d:\\File.aes d:\\File Overwrite",
      "",
      "Encrypt / Decrypt using a 256 bit key in GCM mode.",
      " aestarnex.exe Moltra E 256 GCM d:\\IV d:\\Key d:\\File d:\\File.aes Overwrite",
      " aestarnex.exe Moltra D 256 GCM d:\\IV d:\\Key d:\\File.aes d:\\File",
      "",
      "Encrypt / Decrypt using a 192 bit key in CTR mode, with a command line IV.",
      "~ aestarnex.exe Moltra E 192 CTR" + kColon16.substr(1) +
          " d:\\Key d:\\File d:\\File.aes Overwrite",
      "~ aestarnex.exe Moltra D 192 CTR" + kColon16.substr(1) + " d:\\Key d:\\File.aes d:\\File",
      "",
      "Generate 8GB of Pseudo Random.",
      " aestarnex.exe PRNG 8GB d:\\File Overwrite",
      "",
      "Make sure you have a backup of your files before using this software",
  };
  const Outcome help = Run({"help"});
  EXPECT_EQ(help.code, 99);
  ASSERT_GE(help.out.size(), 2u);
  ASSERT_EQ(help.out.substr(help.out.size() - 2), "\r\n");
  std::vector<std::string> lines;
  for (size_t start = 0; start < help.out.size();) {
    const size_t end = help.out.find("\r\n", start);
    lines.push_back(help.out.substr(start, end - start));
    EXPECT_EQ(lines.back().find_first_of("\r\n"), std::string::npos) << "line " << lines.size();
    start = end + 2;
  }
  ASSERT_EQ(lines.size(), kLines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& want = kLines[i];
    if (want == "=") {
      std::string plain = lines[i - 1];
      plain.erase(std::remove_if(plain.begin(), plain.end(), [](char c) { return c == ':'; }),
                  plain.end());
      std::string line = lines[i];
      line.erase(0, line.find_first_not_of(' '));
      EXPECT_EQ(line, plain.erase(0, 1)) << "line " << i;
    } else if (!want.empty() && want[0] == '~') {
      EXPECT_TRUE(Matches(want.substr(1), lines[i])) << "line " << i << ": " << lines[i];
    } else {
      EXPECT_EQ(lines[i], want) << "line " << i;
    }
  }
  // Any case, and whatever follows.
  for (const Args& args : {Args{"HELP", "Moltra", "junk"}, Args{"hElP"}}) {
    const Outcome again = Run(args);
    EXPECT_EQ(again.code, 99);
    EXPECT_EQ(again.out, help.out);
  }
}

TEST_F(Cli, ArgumentErrorsComeInOrderWithTheirTextAndCode) {
  const std::string hex16 = Hex(Prefix(key40_, 16));
  const std::string hex32 = Hex(Prefix(key40_, 32));
  std::string badDigit = hex16;
  badDigit.back() = 'G';
  const std::string path260(260, 'p');
  std::string passphrase513(515, 'x');  // 513 between the asterisks
  passphrase513.front() = passphrase513.back() = '*';
  const struct {
    Args args;
    int code;
    std::string line;
  } kCases[] = {
      {{}, 4, kNoFunction},
      {{"Encrypt", "E"}, 4, kNoFunction},
      {{"Moltra"}, 5, kNoCommand},
      {{"Moltra", "Encrypted"}, 5, kNoCommand},
      {{"moltra", "d", "512"}, 6, kNoKeySize},
      {{"Moltra", "D", "192", "XTS"}, 7, kNoMode},
      {{"Moltra", "D", "192", "CFB"}, 8, kNoIv},
      {{"Moltra", "D", "192", "gcm", hex16}, 8, kIv96},
      {{"Moltra", "D", "192", "CBC", badDigit}, 8, kIv128},
      {{"Moltra", "D", "192", "CTR", "short10"}, 8, kIvShort},
      {{"Moltra", "D", "192", "ofb", hex16}, 9, kNoKey},
      {{"Moltra", "D", "192", "ECB", "short10"}, 9, kKeyShort},  // ECB: the token is the key
      {{"Moltra", "D", "128", "ECB", hex32}, 9, kKey128},
      {{"Moltra", "D", "192", "ECB", hex16}, 9, kKey192},
      {{"Moltra", "D", "256", "PCBC", hex16, hex16}, 9, kKey256},
      {{"Moltra", "D", "128", "ECB", hex16}, 10, kNoInput},
      {{"Moltra", "D", "128", "ECB", hex16, path260, "out"}, 10, kNoInput},
      {{"Moltra", "D", "128", "ECB", hex16, "in"}, 11, kNoOutput},
      {{"Moltra", "D", "128", "ECB", hex16, "in", "in", "Overwrite"}, 12, kSameFile},
      {{"Praxel"}, 5, kNoCommand},
      {{"Praxel", "E", "", "in"}, 11, kNoOutput},  // an empty argument does not count
      {{"Praxel", "E", "in"}, 11, kNoOutput},
      {{"Praxel", "E", "in", path260, "*pw*"}, 11, kNoOutput},
      {{"Praxel", "E", "in", "in", "*pw*"}, 12, kSameFile},
      {{"Praxel", "E", "in", "out"}, 13, kNoPassphrase},
      {{"Praxel", "E", "in", "out", "*pw"}, 13, kNoPassphrase},
      {{"Praxel", "E", "in", "out", "**"}, 13, kNoPassphrase},
      {{"Praxel", "E", "in", "out", passphrase513}, 13, kLongPassphrase},
      {{"PRNG"}, 14, kNoSize},
      {{"PRNG", "32MB", "out"}, 14, kNoSize},
      {{"prng", "16gb"}, 11, kNoOutput},
      // Names the rebuilt line would carry as other names, wherever they stand but in the
      // passphrase; before any IV or key file is read.
      {{"Praxel", "E\tin", "out", "*pw*"}, 24, kTabOrQuote},
      {{"Praxel", "E", "in\"x", "out", "*pw*"}, 24, kTabOrQuote},
      {{"Moltra", "D", "128", "CTR", "iv16", "key40", "in", "o\tut"}, 24, kTabOrQuote},
      {{"PRNG", "64MB", "out", "Overwrite\""}, 24, kTabOrQuote},
  };
  const std::vector<std::string> before = Listing();
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Outcome outcome = Run(c.args);
    EXPECT_EQ(outcome.out, Line(c.line));
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_EQ(Listing(), before);
  }
  EXPECT_TRUE(Read("in") == plain_);
}

TEST_F(Cli, KeywordsMatchByHashInAnyCaseAndQuotingShapesTokens) {
  const std::string ecbTwin = HashTwin("ECB");
  ASSERT_FALSE(ecbTwin.empty());
  // A 259-character relative path: a folder of 100 characters and a name of 158.
  const std::string folder(100, 'f');
  const std::string path259 = folder + "/" + std::string(158, 'n');
  ASSERT_TRUE(std::filesystem::create_directory(Path(folder)));
  Write(path259, plain_);
  const struct {
    Args args;
    size_t keyBytes;
  } kCases[] = {
      {{"moltra", "encrypt", "128", ecbTwin, Hex(Prefix(key40_, 16)), "in", "out"}, 16},
      {{"MOLTRA", "", "E", "256", "eCb", "key40", "in", "out"}, 32},  // "" is skipped
      {{"Moltra", "Encrypt", "192", "ECB", "key40", path259, "out"}, 24},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Outcome outcome = Run(c.args);
    EXPECT_EQ(outcome.out, Line(kEncrypted));
    EXPECT_EQ(outcome.code, 0);
    if (Exists("out")) {
      const Bytes expected = testing_support::OracleEncrypt(
          CipherMode::Ecb, Prefix(key40_, c.keyBytes), iv16_, plain_);
      EXPECT_TRUE(Read("out") == expected);
      std::filesystem::remove(Path("out"));
    }
  }
}

TEST_F(Cli, EveryModeAndKeySizeRoundTripsAndMatchesOpenSsl) {
  const char* kModes[] = {"CTR", "GCM", "OFB", "CFB", "CBC", "ECB", "PCBC"};  // by CipherMode
  const char* kSizes[] = {"128", "192", "256"};
  const char kSeparators[] = {':', ' ', 'z'};  // any character separates the digit pairs
  // IVs given as hexadecimal text that names a folder are read as text.
  std::filesystem::create_directory(Path(Hex(Prefix(iv16_, 12))));
  std::filesystem::create_directory(Path(Hex(iv16_)));
  auto roundTrip = [&](int mode, int size, const std::string& ivArg, const std::string& keyArg,
                       const Bytes& plain) {
    const Bytes key = Prefix(key40_, 16u + 8u * static_cast<unsigned>(size));
    const Bytes expected =
        testing_support::OracleEncrypt(static_cast<CipherMode>(mode), key, iv16_, plain);
    Write("my input", plain);
    Write("reference", expected);
    auto args = [&](const char* command, const char* in, const char* out) {
      Args list = {"Moltra", command, kSizes[size], kModes[mode]};
      if (mode != 5) list.push_back(ivArg);
      list.insert(list.end(), {keyArg, in, out});
      return list;
    };
    SCOPED_TRACE(::testing::PrintToString(args("E", "my input", "encrypted")));
    const Outcome encrypted = Run(args("E", "my input", "encrypted"));
    EXPECT_EQ(encrypted.out, Line(kEncrypted));
    EXPECT_EQ(encrypted.code, 0);
    EXPECT_TRUE(Exists("encrypted") && Read("encrypted") == expected);
    const Outcome decrypted = Run(args("D", "reference", "decrypted"));
    EXPECT_EQ(decrypted.out, Line(mode == 1 ? kTagCorrect : kDecrypted));
    EXPECT_EQ(decrypted.code, 1);
    EXPECT_TRUE(Exists("decrypted") && Read("decrypted") == plain);
    std::filesystem::remove(Path("encrypted"));
    std::filesystem::remove(Path("decrypted"));
  };
  for (int mode = 0; mode < 7; ++mode) {
    for (int size = 0; size < 3; ++size) {
      const int i = mode * 3 + size;
      const size_t keyBytes = 16u + 8u * static_cast<unsigned>(size);
      const Bytes iv = Prefix(iv16_, mode == 1 ? 12 : 16);
      const std::string ivForms[] = {"iv16", Hex(iv), Hex(iv, '-')};
      const std::string keyForms[] = {"key40", "exact",
                                      testing_support::BytesToHex(Prefix(key40_, keyBytes)),
                                      Hex(Prefix(key40_, keyBytes), kSeparators[i / 4 % 3])};
      Write("exact", Prefix(key40_, keyBytes));
      roundTrip(mode, size, ivForms[i % 3], keyForms[i % 4], plain_);
    }
  }
  // Several chunks and a partial block.
  const Bytes large = RandomBytes(2 * kChunk + 17, 4);
  roundTrip(1, 2, "iv16", "key40", large);
  roundTrip(4, 0, "iv16", "key40", large);
}

TEST_F(Cli, WrongGcmKeyOrTagWritesTheWholeOutputAndFails) {
  Bytes file = testing_support::OracleEncrypt(CipherMode::Gcm, Prefix(key40_, 32), iv16_, plain_);
  Write("sealed", file);
  file[0] ^= 1;
  Write("bad tag", file);
  Bytes otherKey = Prefix(key40_, 32);
  otherKey[31] ^= 1;
  const struct {
    std::string input;
    std::string key;
    bool plainIntact;
  } kCases[] = {{"sealed", Hex(otherKey), false}, {"bad tag", "key40", true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.input);
    const Outcome outcome = Run({"Moltra", "D", "256", "GCM", "iv16", c.key, c.input, "out"});
    EXPECT_EQ(outcome.out, Line(kGcmTagFailure));
    EXPECT_EQ(outcome.code, 3);
    ASSERT_TRUE(Exists("out"));
    EXPECT_EQ(Read("out").size(), plain_.size());
    EXPECT_EQ(Read("out") == plain_, c.plainIntact);
    std::filesystem::remove(Path("out"));
  }
}

TEST_F(Cli, PassphraseLiesBetweenTheFirstAndLastAsteriskAndSealsLikeOpenSsl) {
  // Bytes above 127, a space, an inner asterisk, a double quote.
  const std::string passphrase = "p\xe9 w*r\"d\xff";
  // Across two arguments, joined by one space.
  Outcome outcome = Run({"Praxel", "E", "in", "sealed", "*p\xe9", "w*r\"d\xff*"});
  EXPECT_EQ(outcome.out, Line(kEncrypted));
  EXPECT_EQ(outcome.code, 0);
  ASSERT_TRUE(Exists("sealed"));
  EXPECT_EQ(Read("sealed").size(), plain_.size() + 45);
  EXPECT_TRUE(OpenWithOpenSsl(passphrase, Read("sealed")) == plain_);
  // The same bytes in one argument holding a space open it again.
  outcome = Run({"praxel", "decrypt", "sealed", "opened", "*" + passphrase + "*"});
  EXPECT_EQ(outcome.out, Line(kTagCorrect));
  EXPECT_EQ(outcome.code, 1);
  EXPECT_TRUE(Exists("opened") && Read("opened") == plain_);
  // One byte off: the whole output is still written.
  outcome = Run({"Praxel", "D", "sealed", "wrong", "*p\xe9 w*r\"d\xfe*"});
  EXPECT_EQ(outcome.out, Line(kSealedFailure));
  EXPECT_EQ(outcome.code, 3);
  EXPECT_TRUE(Exists("wrong") && Read("wrong").size() == plain_.size());
  // 512 bytes with tabs and spaces, sealed by OpenSSL.
  const std::string longPassphrase = "\tq " + std::string(507, 'q') + " \t";
  ASSERT_EQ(longPassphrase.size(), 512u);
  Write("openssl", SealWithOpenSsl(longPassphrase, plain_));
  outcome = Run({"Praxel", "D", "openssl", "from openssl", "*" + longPassphrase + "*"});
  EXPECT_EQ(outcome.out, Line(kTagCorrect));
  EXPECT_EQ(outcome.code, 1);
  EXPECT_TRUE(Exists("from openssl") && Read("from openssl") == plain_);
}

TEST_F(Cli, ThePassphraseIsNeverAFileName) {
  // A path to the program that holds an asterisk.
  const std::string program = Path("bin*") + "/aestarnex";
  ASSERT_TRUE(std::filesystem::create_directory(Path("bin*")));
  std::filesystem::copy_file(AESTARNEX_PATH, program);
  const std::vector<std::string> before = Listing();
  const struct {
    Args args;
    int code;
    std::string line;
    std::string program = AESTARNEX_PATH;
  } kCases[] = {
      {{"Praxel", "E", "in", "*correct horse battery staple*"}, 11, kNoOutput},
      {{"Praxel", "E", "in", "out*pw*"}, 11, kNoOutput},
      {{"Praxel", "E", "in", "*", "out", "*"}, 11, kNoOutput},
      {{"Praxel", "E", "*pw*", "out"}, 10, kNoInput},
      {{"Moltra", "E", "128", "CTR", "iv16", "key40", "in", "*out*"}, 11, kNoOutput},
      {{"Praxel", "E", "in", "out", "pw*"}, 13, kNoPassphrase, program},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + " " + c.program);
    const Outcome outcome = Run(c.args, Stdout::Pipe, -1, c.program);
    EXPECT_EQ(outcome.out, Line(c.line));
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_EQ(Listing(), before);
  }
}

TEST_F(Cli, ClosedStandardDescriptorsNeverReceiveTheFinalLine) {
  Outcome outcome = Run({"PRNG", "64MB", "random"}, Stdout::Closed);
  EXPECT_EQ(outcome.code, 2);
  EXPECT_EQ(testing_support::FileSize(Path("random")), k64MiB);
  outcome = Run({"Moltra", "E", "256", "GCM", "iv16", "key40", "in", "sealed"}, Stdout::Closed);
  EXPECT_EQ(outcome.code, 0);
  outcome = Run({"Moltra", "D", "256", "GCM", "iv16", "key40", "sealed", "opened"});
  EXPECT_EQ(outcome.out, Line(kTagCorrect));
  EXPECT_TRUE(Exists("opened") && Read("opened") == plain_);
}

// The limit only the program itself sets, and the owner of its /proc entries, which is root for
// a process that is not dumpable (the program runs as another user when the test is root).
TEST_F(Cli, StartsWithoutCoreDumps) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
  fcntl(ends[1], F_SETPIPE_SZ, 4096);
  while (write(ends[1], "x", 1) == 1) {
  }  // full: the program stops on its final line
  fcntl(ends[1], F_SETFL, 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(ends[1], 1);
    if (geteuid() == 0 && setuid(65534) != 0) _exit(127);
    execl(AESTARNEX_PATH, AESTARNEX_PATH, "junk", nullptr);
    _exit(127);
  }
  close(ends[1]);
  const std::string proc = "/proc/" + std::to_string(pid);
  bool noCore = false;
  for (int tries = 0; tries < 500 && !noCore; ++tries) {
    const Bytes bytes = testing_support::ReadFileBytes(proc + "/limits");
    const std::string limits(bytes.begin(), bytes.end());
    const size_t at = limits.find("Max core file size");
    char soft[32] = "", hard[32] = "";
    noCore = at != std::string::npos &&
             sscanf(limits.c_str() + at + 18, "%31s %31s", soft, hard) == 2 &&
             std::string(soft) + hard == "00";
    if (!noCore) usleep(10000);
  }
  struct stat status;
  EXPECT_TRUE(noCore);
  EXPECT_TRUE(stat((proc + "/status").c_str(), &status) == 0 && status.st_uid == 0);
  char drain[8192];
  while (read(ends[0], drain, sizeof drain) > 0) {
  }
  close(ends[0]);
  waitpid(pid, nullptr, 0);
}

TEST_F(Cli, SizeRulesRefuseBeforeAnyOutputExists) {
  Write("empty", {});
  Write("b16", Bytes(16, 7));
  Write("b33", Bytes(33, 7));
  Bytes header45(45, 0);
  header45[0] = 1;
  Write("h45", header45);
  Bytes version2(46, 0);
  version2[0] = 2;
  Write("v2", version2);
  Sparse("limit", kGcmLimit);
  Sparse("huge", kGcmLimit + 1);
  std::filesystem::create_directory(Path("sub"));
  auto moltra = [&](const char* command, const char* mode, const char* in, const char* out) {
    return Args{"Moltra", command, "128", mode, "iv16", "key40", in, out};
  };
  const struct {
    Args args;
    int code;
    std::string line;
  } kCases[] = {
      {moltra("E", "CTR", "missing", "out"), 15, kCannotOpen},
      {moltra("E", "CTR", "sub", "out"), 15, kCannotOpen},
      {moltra("E", "CTR", "empty", "out"), 16, kZeroBytes},
      {moltra("D", "OFB", "empty", "out"), 16, kZeroBytes},
      {moltra("D", "CFB", "b33", "out"), 17, kNotMultiple},
      {moltra("D", "GCM", "b16", "out"), 18, kNoRoomForTag},
      {{"Praxel", "E", "empty", "out", "*pw*"}, 16, kZeroBytes},
      {{"Praxel", "D", "empty", "out", "*pw*"}, 19, kNoRoomForHeader},
      {{"Praxel", "D", "h45", "out", "*pw*"}, 19, kNoRoomForHeader},
      {{"Praxel", "D", "v2", "out", "*pw*"}, 20, kNotV1},
      {moltra("E", "CTR", "in", "no folder/out"), 21, kCannotSave},
      {moltra("E", "CTR", "in", "out"), 22, kNoSpace},
      {{"PRNG", "64MB", "out"}, 22, kNoSpace},
      {moltra("E", "GCM", "limit", "out"), 22, kNoSpace},  // the largest size is allowed
      {{"Praxel", "E", "limit", "out", "*pw*"}, 22, kNoSpace},
      {moltra("E", "GCM", "huge", "out"), 23, kTooLarge},
      {{"Praxel", "E", "huge", "out", "*pw*"}, 23, kTooLarge},
  };
  const std::vector<std::string> before = Listing();
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    // No file may grow past 512 bytes: the space test fails, and a run that ignored a size rule
    // cannot fill the disk.
    const Outcome outcome = Run(c.args, Stdout::Pipe, 512);
    EXPECT_EQ(outcome.out, Line(c.line));
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_EQ(Listing(), before);
  }
}

TEST_F(Cli, TheInputOrAKeyFileUnderAnotherNameIsRefused) {
  ASSERT_EQ(link(Path("in").c_str(), Path("hard link").c_str()), 0);
  ASSERT_EQ(symlink("in", Path("symlink").c_str()), 0);
  ASSERT_EQ(symlink("iv16", Path("iv link").c_str()), 0);
  const Args kCases[] = {
      {"Moltra", "E", "128", "ECB", "key40", "in", "./in", "Overwrite"},
      {"Moltra", "D", "128", "CTR", "iv16", "key40", "in", "hard link", "Overwrite"},
      {"Praxel", "E", "in", "symlink", "Overwrite", "*pw*"},
      {"Moltra", "D", "128", "CTR", "iv16", "key40", "symlink", "in"},
      // The IV or the key read from the file the output names.
      {"Moltra", "D", "256", "GCM", "iv16", "key40", "in", "key40", "Overwrite"},
      {"Moltra", "E", "128", "CTR", "iv16", "key40", "in", "iv link", "Overwrite"},
  };
  for (const Args& args : kCases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const Outcome outcome = Run(args);
    EXPECT_EQ(outcome.out, Line(kSameFile));
    EXPECT_EQ(outcome.code, 12);
    EXPECT_TRUE(Read("in") == plain_ && Read("key40") == key40_ && Read("iv16") == iv16_);
  }
  // Names are compared byte by byte: "in" and "IN" are two files here.
  EXPECT_EQ(Run({"Moltra", "E", "128", "ECB", "key40", "in", "IN"}).code, 0);
}

TEST_F(Cli, OverwriteCountsOnlyRightAfterTheOutputPath) {
  const Bytes old = {'o', 'l', 'd'};
  const Args ecb = {"Moltra", "E", "128", "ECB", "key40", "in", "out"};
  auto with = [](Args args, const Args& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const size_t ecbSize = plain_.size() + 16 - plain_.size() % 16;
  const struct {
    Args args;
    int code;
    std::string line;
    size_t size;  // of "out" afterwards
  } kCases[] = {
      {ecb, 21, kCannotSave, old.size()},
      {with(ecb, {"Overwrite"}), 0, kEncrypted, ecbSize},
      {with(ecb, {"oVERWRITE"}), 0, kEncrypted, ecbSize},
      {with(ecb, {"junk", "Overwrite"}), 21, kCannotSave, old.size()},
      {{"Praxel", "E", "in", "out", "*pw*", "Overwrite"}, 21, kCannotSave, old.size()},
      {{"Praxel", "E", "in", "out", "Overwrite", "*pw*"}, 0, kEncrypted, plain_.size() + 45},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Write("out", old);
    const Outcome outcome = Run(c.args);
    EXPECT_EQ(outcome.out, Line(c.line));
    EXPECT_EQ(outcome.code, c.code);
    const Bytes now = Read("out");
    EXPECT_EQ(now.size(), c.size);
    if (c.size == old.size()) {
      EXPECT_TRUE(now == old);
    }
  }
}

// Overwrite writes a private file beside the existing one and puts it in its place only when the
// job succeeds; a link there is replaced, never followed, and another user's file is refused.
TEST_F(Cli, AnExistingOutputIsReplacedOnlyByAJobThatSucceeded) {
  const Bytes old = RandomBytes(300, 5);
  auto existing = [&](const std::string& name) {
    Write(name, old);
    ASSERT_EQ(chmod(Path(name).c_str(), 0644), 0);
  };
  Write("sealed", SealWithOpenSsl("pw", plain_));
  Write("gcm", testing_support::OracleEncrypt(CipherMode::Gcm, Prefix(key40_, 32), iv16_, plain_));
  const Args ctr = {"Moltra", "E", "128", "CTR", "iv16", "key40", "in", "out", "Overwrite"};
  const struct {
    Args args;
    long fileSizeLimit;
    int code;
    std::string line;
  } kFailures[] = {
      {ctr, 512, 22, kNoSpace},
      {{"Praxel", "D", "sealed", "out", "Overwrite", "*typo*"}, -1, 3, kSealedFailure},
      {{"Moltra", "D", "256", "GCM", "iv16", Hex(Bytes(32, 0)), "gcm", "out", "Overwrite"},
       -1,
       3,
       kGcmTagFailure},
      // The space test passes, the header takes the body past the limit: a write fails mid-job.
      {{"Praxel", "E", "in", "out", "Overwrite", "*pw*"}, 1000, 21, kCannotSave},
  };
  for (const auto& c : kFailures) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    existing("out");
    const Outcome outcome = Run(c.args, Stdout::Pipe, c.fileSizeLimit);
    EXPECT_EQ(outcome.out, Line(c.line));
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_TRUE(Exists("out") && Read("out") == old);
    EXPECT_EQ(testing_support::PartFileCount(dir_.path()), 0);
  }

  // Killed outright while it works: at most the temporary file stays behind.
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir_.path().c_str()) == 0)
      execl(AESTARNEX_PATH, AESTARNEX_PATH, "Praxel", "E", "in", "out", "Overwrite", "*pw*",
            nullptr);
    _exit(127);
  }
  while (testing_support::PartFileCount(dir_.path()) == 0 && waitpid(pid, nullptr, WNOHANG) == 0)
    usleep(100);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_TRUE(Exists("out") && Read("out") == old);
  EXPECT_LE(testing_support::PartFileCount(dir_.path()), 1);

  // Success: the new output takes the name, private; a link there is replaced, not followed.
  existing("victim");
  ASSERT_EQ(symlink("victim", Path("link").c_str()), 0);
  const Bytes expected =
      testing_support::OracleEncrypt(CipherMode::Ctr, Prefix(key40_, 16), iv16_, plain_);
  for (const char* name : {"out", "link"}) {
    Args args = ctr;
    args[7] = name;
    EXPECT_EQ(Run(args).code, 0);
    struct stat info;
    ASSERT_EQ(lstat(Path(name).c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode) && (info.st_mode & 0777) == 0600) << name;
    EXPECT_TRUE(Read(name) == expected) << name;
  }
  EXPECT_TRUE(Read("victim") == old);

  // In a shared folder, another user's file or link is never written into.
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
    EXPECT_EQ(outcome.out, Line(kCannotSave)) << name;
    EXPECT_EQ(outcome.code, 21);
  }
  EXPECT_TRUE(Read("shared/out") == old);
  EXPECT_TRUE(Read("victim") == old);
}

TEST_F(Cli, Prng64MBIsExactAndShowsNoProgressEvenOnATerminal) {
  const Outcome outcome = Run({"PRNG", "64mb", "random"}, Stdout::Terminal);
  EXPECT_EQ(outcome.out, Line("PRNG Complete "));
  EXPECT_EQ(outcome.code, 2);
  ASSERT_TRUE(Exists("random"));
  EXPECT_EQ(testing_support::FileSize(Path("random")), k64MiB);
}

TEST_F(Cli, ProgressAppearsOnlyOnATerminalAndOnlyAbove64MiB) {
  std::string progress;
  for (int percent = 1; percent <= 100; ++percent)
    progress += "Working - " + std::to_string(1000 + percent).substr(1) + "%\r";
  const Args ctr = {"Moltra", "E", "128", "CTR", "iv16", "key40", "big", "out"};
  const struct {
    Args args;
    uint64_t size;
    Stdout where;
    bool progress;
    std::string line;
    uint64_t outputSize;
  } kCases[] = {
      {ctr, k64MiB + 1, Stdout::Terminal, true, kEncrypted, k64MiB + 1},
      {ctr, k64MiB + 1, Stdout::Pipe, false, kEncrypted, k64MiB + 1},
      {ctr, k64MiB, Stdout::Terminal, false, kEncrypted, k64MiB},
      // A sealed file counts without its header: a body of 64 MiB shows none.
      {{"Praxel", "D", "big", "out", "*pw*"},
       k64MiB + 45,
       Stdout::Terminal,
       false,
       kSealedFailure,
       k64MiB},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + " " + std::to_string(c.size));
    Sparse("big", c.size);
    const Outcome outcome = Run(c.args, c.where);
    EXPECT_EQ(outcome.out, (c.progress ? progress : "") + Line(c.line));
    EXPECT_EQ(outcome.code, c.line == kEncrypted ? 0 : 3);
    ASSERT_TRUE(Exists("out"));
    EXPECT_EQ(testing_support::FileSize(Path("out")), c.outputSize);
    std::filesystem::remove(Path("out"));
  }
}

}  // namespace
