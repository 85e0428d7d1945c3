// The commands of lumora-image. Each takes the arguments after its name and returns the
// exit status: 0 success, 1 a failure reported as "lumora-image: error CODE: TEXT",
// 2 bad usage (after saying what was wrong and printing the usage).
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

using Arguments = std::vector<std::string>;

struct Command {
  const char* name;
  int (*run)(const Arguments& args);
  const char* usage;  // the command's line in the usage text, without the program name
};

int RunEncode(const Arguments& args);

inline constexpr char kEncodeUsage[] =
    "encode IN OUT [--depth 1|8|24] [--grey] [--interlace] [--transparent]\n"
    "                           [--background N] [--quality N] [--no-compress]";

// Prints "lumora-image: PROBLEM", then the usage of every command, to standard error;
// returns 2.
int UsageError(const std::string& problem);
// Checks that `args` are exactly the files `names` lists ("input file", "output file") and
// no option; the first problem goes to UsageError. 0 when they are.
int CheckFiles(const Arguments& args, std::initializer_list<const char*> names);
// The same text to `out` (standard output for --help).
void WriteUsage(std::FILE* out);
