// The passphrase a Praxel line did not give, asked for on the terminal.
#pragma once

#include "console/command_line.h"

namespace console {

// When `parsed` refuses a Praxel line for having no passphrase at all (fewer than two asterisks:
// "**" is an empty passphrase given on purpose) and standard input is a terminal, asks for it
// there without echo, twice when encrypting, into the job's passphrase buffer, and returns what
// the line would have given with it between asterisks. Otherwise returns `parsed` as it is, so
// a script without a terminal meets the same refusal as before.
//   - The files are checked first (the input, its size rules, the output as the input, an output
//     name that is taken without Overwrite): a refusal there is returned as the job would have
//     made it, and nothing is asked.
//   - An empty entry (or the end of input) is no passphrase: "Error - No Passphrase".
//   - Two entries that differ: the same refusal, and a line on standard error that says so; it
//     is not asked again.
//   - An entry over 512 bytes: "Error - Passphrase > 512 Characters".
ParseResult AskForPassphrase(const CommandLine& line, const ParseResult& parsed,
                             engine::CipherJob& job);

}  // namespace console
