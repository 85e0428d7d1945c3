// The reading commands of lumora-image:
//   info IN                 one line: FORMAT WIDTHxHEIGHT BPPbpp alpha=0|1
//   decode IN OUT.pam [--depth 0|8|32]
//                           the decoded bitmap as PAM (P7, RGB_ALPHA, MAXVAL 255), palette
//                           expanded, alpha as stored when the bitmap has alpha, else 255
//   convert IN OUT [encode options]
//                           decodes IN (depth 0) and writes OUT as encode does; without
//                           --depth an 8-bit picture stays 8 bits (palette as decoded)
// Each also takes the decode limits: --max-pixels N (the picture's size) and --max-memory N
// (bytes held besides the picture); N may end in K, M or G (powers of 1024).
// Failures: "lumora-image: error CODE: TEXT" on standard error, exit status 1; a refusal
// under a limit names the limit and the value that passed it.
#pragma once

#include <cstdio>
#include <string>

#include "tools/lumora-image/commands.h"

class CBmp;
class CFileReplacement;

int RunInfo(const Arguments& args);
int RunDecode(const Arguments& args);
int RunConvert(const Arguments& args);

inline constexpr char kInfoUsage[] = "info IN [--max-pixels N] [--max-memory BYTES]";
inline constexpr char kDecodeUsage[] =
    "decode IN OUT.pam [--depth 0|8|32] [--max-pixels N] [--max-memory BYTES]";
inline constexpr char kConvertUsage[] =
    "convert IN OUT [the options of encode] [--max-pixels N] [--max-memory BYTES]";

// Writes the PAM file `decode` writes to `out`, a block of rows at a time; 0 or the errno
// of the write that failed.
int WritePam(const CBmp& bmp, CFileReplacement& out);
