// The texts each program gives for a job's outcome.
#include "engine/status.h"

namespace engine {

namespace {

struct StatusTexts {
  JobStatus status;
  const char* console;
  const char* keyTool;
  const char* passphraseTool;
};

// Codes 0 and 1 as the windowed tools show them in their status line; their boxes are theirs.
constexpr StatusTexts kTexts[] = {
    {JobStatus::EncryptionComplete, "Encryption Complete", "Complete", "Complete"},
    {JobStatus::DecryptionComplete, "Decryption Complete", "Complete", "Complete"},
    {JobStatus::PrngComplete, "PRNG Complete ", "Complete", nullptr},
    {JobStatus::WrongTag,
     "Error - GCM Authentication Tag failure. Incorrect IV, Key or damaged file",
     "Error - Authentication Failure", "Error - Incorrect passphrase"},
    {JobStatus::SameFile, "Error - Input and output file names can not be the same",
     "Input and output can not be the same file", "Input and output can not be the same file"},
    {JobStatus::InputUnreadable, "Error - Could not open the input file",
     "Error - Could not open the input file", "Error - Could not open the file"},
    {JobStatus::InputEmpty, "Error - Input file contains zero bytes",
     "Error - Input file contains zero bytes", "Error - The input file is empty"},
    {JobStatus::NotMultipleOf16, "Error - Input file is not a multiple of 16 bytes",
     "Error - Input file is not a multiple of 16 bytes", nullptr},
    {JobStatus::TooSmallForTag,
     "Error - Input file is too small to contain a GCM Authentication Tag",
     "Error - Input file is too small to contain a GCM authentication tag", nullptr},
    {JobStatus::TooSmallForHeader,
     "Error - Input file is too small to contain an encryption header", nullptr,
     "Error - The input file is too small to contain an encryption header"},
    {JobStatus::NotV1Header, "Error - Only a file with a V1 header can be decrypted", nullptr,
     "Error - Only a file with a V1 header can be decrypted"},
    {JobStatus::OutputUnwritable, "Error - Could not save the output file",
     "Error - Could not save the output file", "Error - Could not save the file"},
    {JobStatus::NoSpace, "Error - Destination does not have enough space",
     "Error - Destination does not have enough space",
     "Error - Destination does not have enough space"},
    {JobStatus::TooLargeForGcm, "Error - Input file is too large for GCM encryption",
     "Error - Input file is too large for GCM encryption",
     "Error - The input file is too large to encrypt"},
};

const StatusTexts* Find(JobStatus status) {
  for (const StatusTexts& row : kTexts)
    if (row.status == status) return &row;
  return nullptr;
}

}  // namespace

const char* ConsoleStatusText(JobStatus status, StatusContext context) {
  if (status == JobStatus::DecryptionComplete && context != StatusContext::Plain)
    return "Decryption Complete. Authentication Tag Correct";
  if (status == JobStatus::WrongTag && context == StatusContext::Sealed)
    return "Error - Decryption Failure. Incorrect passphrase or damaged file";
  const StatusTexts* row = Find(status);
  return row != nullptr ? row->console : "";
}

const char* KeyToolStatusText(JobStatus status) {
  const StatusTexts* row = Find(status);
  return row != nullptr && row->keyTool != nullptr ? row->keyTool : "";
}

const char* PassphraseToolStatusText(JobStatus status) {
  const StatusTexts* row = Find(status);
  return row != nullptr && row->passphraseTool != nullptr ? row->passphraseTool : "";
}

}  // namespace engine
