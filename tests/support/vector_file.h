// Known-answer vector files (tests/vectors/, written by scripts/convert_vectors.py): '#'
// comment lines, "[SECTION]" headers, and records of consecutive "NAME = hex" lines and bare-word
// flags, each record ended by a blank line or the next header. The loader throws
// std::runtime_error naming the file and line on a line it cannot read, bad hex, a repeated name
// or a name or flag the caller did not allow: a vector that silently went missing would make a
// known-answer test pass for nothing (the tests also count the records they expect).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_files.h"

namespace testing_support {

struct VectorRecord {
  std::string where;    // "file:line" of the record's first line, for failure messages
  std::string section;  // the header it stands under
  std::vector<std::pair<std::string, Bytes>> fields;
  std::vector<std::string> flags;

  bool Has(const std::string& name) const;
  const Bytes& Get(const std::string& name) const;  // throws when the record has no such field
  bool HasFlag(const std::string& flag) const;
};

// The records of tests/vectors/<fileName> in file order.
std::vector<VectorRecord> LoadVectors(const std::string& fileName,
                                      const std::vector<std::string>& names,
                                      const std::vector<std::string>& flags = {});

}  // namespace testing_support
