// The console's runs: one job each, with its final line and exit code, and what the console
// shows while it works.
#pragma once

#include "engine/job.h"

namespace console {

// Both prepare the files, drive the job to its end, close the files (an existing output is
// replaced only after a success; a failing close is a write failure) and leave the exit code in
// job.status with the final line returned. They never print the final line: the entry does. A
// read or write failure inside the job comes straight back here with its status.
const char* RunKeyIv(engine::CipherJob& job);       // Moltra and PRNG
const char* RunPassphrase(engine::CipherJob& job);  // Praxel

// Writes `text` (at most 4096 bytes) and CR LF to standard output, whatever it is connected to.
void PrintLine(const char* text);

// "Working - 000%" and a carriage return, so the next step (and the final line) overwrites it.
// Only written when standard output is a terminal.
void ShowProgress(const engine::CipherJob& job, void* context);

}  // namespace console
