// Known-answer vector files (tests/vectors/, written by tests/tools/convert_vectors.py):
//
//   # source: where the records came from        comment lines start with '#'
//   [ENCRYPT]                                   a section header
//   KEY = 000102...                             one record: consecutive NAME = hex lines,
//   FAIL                                        and bare-word flags,
//                                               ended by a blank line or the next header
//
// The loader is strict: a line it cannot read, odd or non-hex digits, an empty value, a name or
// flag the caller did not allow, a repeated name, a record outside a section or an empty section
// throws std::runtime_error naming the file and line. A vector that silently went missing would
// make a known-answer test pass for nothing.
#pragma once

#include <stddef.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_files.h"

namespace testing_support {

// The names and flags a caller accepts in its records.
struct VectorSchema {
  std::vector<std::string> names;
  std::vector<std::string> flags;
};

struct VectorRecord {
  std::string where;  // "file:line" of the record's first line, for failure messages
  std::vector<std::pair<std::string, Bytes>> fields;  // in file order
  std::vector<std::string> flags;

  bool Has(const std::string& name) const;
  // Throws when the record has no such field.
  const Bytes& Get(const std::string& name) const;
  bool HasFlag(const std::string& flag) const;
};

struct VectorSection {
  std::string name;
  std::vector<VectorRecord> records;
};

struct VectorFile {
  std::string path;
  std::vector<std::string> sources;  // the text after "# source:" of each such line
  std::vector<VectorSection> sections;

  // Throws when the file has no such section.
  const VectorSection& Section(const std::string& name) const;
  size_t RecordCount() const;
};

// Full path of a file in the vector folder.
std::string VectorPath(const std::string& fileName);

// Loads tests/vectors/<fileName>.
VectorFile LoadVectorFile(const std::string& fileName, const VectorSchema& schema);

// Parses text in the same format; `origin` names it in error messages.
VectorFile ParseVectorText(const std::string& text, const std::string& origin,
                           const VectorSchema& schema);

}  // namespace testing_support
