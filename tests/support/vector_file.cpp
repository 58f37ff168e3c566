// Known-answer vector files: a strict line parser.
#include "tests/support/vector_file.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

namespace {

constexpr char kSourcePrefix[] = "# source:";

std::string Trim(const std::string& text) {
  const char* space = " \t\r";
  size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(space);
  return text.substr(first, last - first + 1);
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Parser {
 public:
  Parser(const std::string& origin, const VectorSchema& schema) : schema_(schema) {
    file_.path = origin;
  }

  void Line(const std::string& raw, int number) {
    where_ = file_.path + ":" + std::to_string(number);
    std::string line = Trim(raw);
    if (line.empty()) {
      EndRecord();
    } else if (line[0] == '#') {
      if (line.rfind(kSourcePrefix, 0) == 0)
        file_.sources.push_back(Trim(line.substr(sizeof kSourcePrefix - 1)));
    } else if (line[0] == '[') {
      Header(line);
    } else if (line.find('=') != std::string::npos) {
      Field(line);
    } else {
      Flag(line);
    }
  }

  VectorFile Finish() {
    EndRecord();
    EndSection();
    if (file_.sections.empty()) throw std::runtime_error(file_.path + ": no sections");
    return std::move(file_);
  }

 private:
  [[noreturn]] void Fail(const std::string& message) const {
    throw std::runtime_error(where_ + ": " + message);
  }

  void Header(const std::string& line) {
    if (line.back() != ']' || line.size() < 3) Fail("malformed section header '" + line + "'");
    EndRecord();
    EndSection();
    std::string name = Trim(line.substr(1, line.size() - 2));
    if (name.empty()) Fail("empty section name");
    for (const VectorSection& section : file_.sections)
      if (section.name == name) Fail("section [" + name + "] appears twice");
    file_.sections.push_back(VectorSection{name, {}});
    sectionOpen_ = true;
  }

  VectorRecord& CurrentRecord() {
    if (!sectionOpen_) Fail("record before any section header");
    if (!recordOpen_) {
      file_.sections.back().records.push_back(VectorRecord{where_, {}, {}});
      recordOpen_ = true;
    }
    return file_.sections.back().records.back();
  }

  void Field(const std::string& line) {
    size_t equals = line.find('=');
    std::string name = Trim(line.substr(0, equals));
    std::string hex = Trim(line.substr(equals + 1));
    if (name.empty()) Fail("missing name in '" + line + "'");
    if (!Contains(schema_.names, name)) Fail("unexpected name '" + name + "'");
    if (hex.empty()) Fail(name + " has no value");
    if (hex.size() % 2 != 0) Fail(name + " has an odd number of hex digits");
    Bytes bytes(hex.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
      int high = HexDigit(hex[2 * i]);
      int low = HexDigit(hex[2 * i + 1]);
      if (high < 0 || low < 0) Fail(name + " is not hexadecimal: '" + hex + "'");
      bytes[i] = static_cast<uint8_t>(high * 16 + low);
    }
    VectorRecord& record = CurrentRecord();
    if (record.Has(name)) Fail(name + " appears twice in one record");
    record.fields.emplace_back(name, std::move(bytes));
  }

  void Flag(const std::string& line) {
    if (line.find_first_of(" \t") != std::string::npos) Fail("cannot read '" + line + "'");
    if (!Contains(schema_.flags, line)) Fail("unexpected flag '" + line + "'");
    VectorRecord& record = CurrentRecord();
    if (record.HasFlag(line)) Fail(line + " appears twice in one record");
    record.flags.push_back(line);
  }

  void EndRecord() {
    if (recordOpen_ && file_.sections.back().records.back().fields.empty())
      Fail("record with flags but no values");
    recordOpen_ = false;
  }

  void EndSection() {
    if (sectionOpen_ && file_.sections.back().records.empty())
      Fail("section [" + file_.sections.back().name + "] has no records");
    sectionOpen_ = false;
  }

  const VectorSchema& schema_;
  VectorFile file_;
  std::string where_;
  bool sectionOpen_ = false;
  bool recordOpen_ = false;
};

}  // namespace

bool VectorRecord::Has(const std::string& name) const {
  for (const auto& field : fields)
    if (field.first == name) return true;
  return false;
}

const Bytes& VectorRecord::Get(const std::string& name) const {
  for (const auto& field : fields)
    if (field.first == name) return field.second;
  throw std::runtime_error(where + ": record has no " + name);
}

bool VectorRecord::HasFlag(const std::string& flag) const {
  return Contains(flags, flag);
}

const VectorSection& VectorFile::Section(const std::string& name) const {
  for (const VectorSection& section : sections)
    if (section.name == name) return section;
  throw std::runtime_error(path + ": no section [" + name + "]");
}

size_t VectorFile::RecordCount() const {
  size_t count = 0;
  for (const VectorSection& section : sections)
    count += section.records.size();
  return count;
}

std::string VectorPath(const std::string& fileName) {
  return std::string(AESSUITE_VECTOR_DIR) + "/" + fileName;
}

VectorFile ParseVectorText(const std::string& text, const std::string& origin,
                           const VectorSchema& schema) {
  Parser parser(origin, schema);
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line))
    parser.Line(line, ++number);
  return parser.Finish();
}

VectorFile LoadVectorFile(const std::string& fileName, const VectorSchema& schema) {
  std::string path = VectorPath(fileName);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open vector file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return ParseVectorText(text.str(), path, schema);
}

}  // namespace testing_support
