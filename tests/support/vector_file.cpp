// Known-answer vector files: a strict line reader (see vector_file.h).
#include "tests/support/vector_file.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace testing_support {

namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

bool VectorRecord::Has(const std::string& name) const {
  return std::any_of(fields.begin(), fields.end(), [&](const auto& f) { return f.first == name; });
}

const Bytes& VectorRecord::Get(const std::string& name) const {
  for (const auto& field : fields)
    if (field.first == name) return field.second;
  throw std::runtime_error(where + ": record has no " + name);
}

bool VectorRecord::HasFlag(const std::string& flag) const {
  return Contains(flags, flag);
}

std::vector<VectorRecord> LoadVectors(const std::string& fileName,
                                      const std::vector<std::string>& names,
                                      const std::vector<std::string>& flags) {
  const std::string path = std::string(AESSUITE_VECTOR_DIR) + "/" + fileName;
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open vector file " + path);
  std::vector<VectorRecord> records;
  std::string section, raw;
  bool inRecord = false;
  for (int number = 1; std::getline(in, raw); ++number) {
    const std::string where = path + ":" + std::to_string(number), line = Trim(raw);
    const auto fail = [&](const std::string& why) { throw std::runtime_error(where + ": " + why); };
    if (line.empty() || line[0] == '#') {
      inRecord = inRecord && !line.empty();
    } else if (line[0] == '[') {
      if (line.size() < 3 || line.back() != ']') fail("malformed section header");
      section = line.substr(1, line.size() - 2);
      inRecord = false;
    } else {
      if (section.empty()) fail("record before any section header");
      if (!inRecord) records.push_back({where, section, {}, {}});
      inRecord = true;
      VectorRecord& record = records.back();
      const size_t equals = line.find('=');
      if (equals == std::string::npos) {
        if (!Contains(flags, line) || record.HasFlag(line)) fail("unexpected flag " + line);
        record.flags.push_back(line);
        continue;
      }
      const std::string name = Trim(line.substr(0, equals)), hex = Trim(line.substr(equals + 1));
      if (!Contains(names, name) || record.Has(name)) fail("unexpected name " + name);
      if (hex.empty() || hex.size() % 2 != 0 ||
          hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        fail(name + " is not hexadecimal");
      record.fields.emplace_back(name, HexToBytes(hex));
    }
  }
  return records;
}

}  // namespace testing_support
