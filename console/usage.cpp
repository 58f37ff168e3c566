// The usage text that "Help" prints: every line ends in CR LF but the last, to which PrintLine
// adds it; the text begins with an empty line.
#include "console/command_line.h"

namespace console {

namespace {

#define LINE(text) text "\r\n"

constexpr char kUsage[] =
    LINE("")
    LINE("AES Tarnex - V2.00 - Console Edition")
    LINE("https://example.org/aes-suite")
    LINE("A Windows command line utility to encrypt single files")
    LINE("")
    LINE("Usage:")
    LINE(" aestarnex.exe Help")
    LINE(" aestarnex.exe Praxel Command Input Output [Overwrite] *Passphrase*")
    LINE(" aestarnex.exe Moltra Command Key-Size Mode IV Key Input Output [Overwrite]")
    LINE(" aestarnex.exe PRNG Size Output [Overwrite]")
    LINE("")
    LINE(" + All arguments should be in the order given above.")
    LINE(" + Filenames containing spaces should be enclosed in \"quotes\".")
    LINE(" + Arguments are not case sensitive.")
    LINE("")
    LINE("1st argument (Function as AES...)")
    LINE(" Help | Moltra | Praxel | PRNG")
    LINE("")
    LINE("")
    LINE("Command: (Praxel / Moltra)")
    LINE(" E | Encrypt | D | Decrypt")
    LINE("")
    LINE("")
    LINE("Key-Size: (Moltra)")
    LINE(" 128 | 192 | 256")
    LINE("")
    LINE("")
    LINE("Mode: (Moltra)")
    LINE(" CTR | GCM | OFB | CFB | CBC | ECB | PCBC")
    LINE("")
    LINE("")
    LINE("IV / Initialization Vector: (Moltra)")
    LINE("Three formats are available.")
    LINE("")
    LINE("CBC, OFB, CFB, CTR and PCBC use 16 bytes:")
    LINE(" \"d:\\IV File\" (File should contain 16 bytes or more of binary data)")
    LINE(" 00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF")
    LINE(" 00112233445566778899AABBCCDDEEFF")
    LINE("")
    LINE("GCM uses 12 bytes:")
    LINE(" \"d:\\IV File\" (File should contain 12 bytes or more of binary data)")
    LINE(" A0:A1:A2:A3:A4:A5:A6:A7:A8:A9:AA:AB")
    LINE(" A0A1A2A3A4A5A6A7A8A9AAAB")
    LINE("")
    LINE("ECB does not use an IV")
    LINE("")
    LINE("")
    LINE("Key: (Moltra)")
    LINE("Three formats are available.")
    LINE("")
    LINE("128 Bit Key:")
    LINE(" \"d:\\Key File\" (File should contain 16 bytes or more of binary data)")
    LINE(" 00:01:02:03:04:05:06:07:08:09:0A:0B:0C:0D:0E:0F")
    LINE(" 000102030405060708090A0B0C0D0E0F")
    LINE("")
    LINE("192 Bit Key:")
    LINE(" \"d:\\Key File\" (File should contain 24 bytes or more of binary data)")
    LINE(" 00:01:02:03:04:05:06:07:08:09:0A:0B:0C:0D:0E:0F:10:11:12:13:14:15:16:17")
    LINE(" 000102030405060708090A0B0C0D0E0F1011121314151617")
    LINE("")
    LINE("256 Bit Key:")
    LINE(" \"d:\\Key File\" (File should contain 32 bytes or more of binary data)")
    LINE(" 00:01:02:03:04:05:06:07:08:09:0A:0B:0C:0D:0E:0F:10:11:12:13:14:15:16:17:18:19:1A:1B:1C:"
         "1D:1E:1F")
    LINE(" 000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F")
    LINE("")
    LINE("")
    LINE("Size: (PRNG)")
    LINE(" 64MB | 128MB | 256MB | 512MB | 1GB | 2GB | 4GB | 8GB | 16GB")
    LINE("")
    LINE("")
    LINE("Input: (Praxel / Moltra)")
    LINE(" \"d:\\example filename.txt\"")
    LINE("")
    LINE("")
    LINE("Output: (Praxel / Moltra / PRNG)")
    LINE(" \"d:\\backup\\example filename.txt.aes\"")
    LINE("")
    LINE("")
    LINE("[Optional] Overwrite: (Praxel / Moltra / PRNG)")
    LINE(" Overwrite explicitly allows an existing output file to be overwritten.")
    LINE(" This should be given immediately after the output file.")
    LINE("")
    LINE("")
    LINE("*Passphrase*: (Praxel)")
    LINE(" The passphrase is BETWEEN the FIRST and LAST asterisks. Max 512 characters.")
    LINE(" *Secret*Phrase* gives the passphrase: Secret*Phrase")
    LINE("")
    LINE("")
    LINE("Examples:")
    LINE("Encrypt / Decrypt using the passphrase: My Secret Phrase")
    LINE(" aestarnex.exe Praxel E d:\\File d:\\File.aes Overwrite *My Secret Phrase*")
    LINE(" aestarnex.exe Praxel D d:\\File.aes d:\\File Overwrite *My Secret Phrase*")
    LINE("")
    LINE("Encrypt / Decrypt using a 128 bit key in ECB mode. ECB does not use an IV.")
    LINE(" aestarnex.exe Moltra Encrypt 128 ECB d:\\Key d:\\File d:\\File.aes Overwrite")
    LINE(" aestarnex.exe Moltra Decrypt 128 ECB d:\\Key d:\\File.aes d:\\File Overwrite")
    LINE("")
    LINE("Encrypt / Decrypt using a 256 bit key in GCM mode.")
    LINE(" aestarnex.exe Moltra E 256 GCM d:\\IV d:\\Key d:\\File d:\\File.aes Overwrite")
    LINE(" aestarnex.exe Moltra D 256 GCM d:\\IV d:\\Key d:\\File.aes d:\\File")
    LINE("")
    LINE("Encrypt / Decrypt using a 192 bit key in CTR mode, with a command line IV.")
    LINE(" aestarnex.exe Moltra E 192 CTR 00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF"
         " d:\\Key d:\\File d:\\File.aes Overwrite")
    LINE(" aestarnex.exe Moltra D 192 CTR 00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF"
         " d:\\Key d:\\File.aes d:\\File")
    LINE("")
    LINE("Generate 8GB of Pseudo Random.")
    LINE(" aestarnex.exe PRNG 8GB d:\\File Overwrite")
    LINE("")
    "Make sure you have a backup of your files before using this software";

#undef LINE

static_assert(sizeof kUsage <= 4096, "PrintLine writes at most 4096 bytes");

}  // namespace

const char* UsageText() {
  return kUsage;
}

const char* VersionText() {
  return "aestarnex 2.00";
}

}  // namespace console
