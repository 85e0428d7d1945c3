// lumora-image: command-line front end of the image library.
//
//   lumora-image encode IN OUT [options]   netpbm picture to any of the seven save formats
//   lumora-image --help                    the usage, on standard output
//   lumora-image --version                 the program's version
//
// A command is one row of the table below.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/lumora-image/commands.h"
#include "tools/lumora-image/decode_commands.h"

namespace {

constexpr Command kCommands[] = {
    {"encode", RunEncode, kEncodeUsage},
    {"info", RunInfo, kInfoUsage},
    {"decode", RunDecode, kDecodeUsage},
    {"convert", RunConvert, kConvertUsage},
};

}  // namespace

void WriteUsage(std::FILE* out) {
  std::fputs("usage:\n", out);
  for (const Command& command : kCommands) std::fprintf(out, "  lumora-image %s\n", command.usage);
  std::fputs("  lumora-image --help | --version\n", out);
}

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "lumora-image: %s\n", problem.c_str());
  WriteUsage(stderr);
  return 2;
}

int CheckFiles(const Arguments& args, std::initializer_list<const char*> names) {
  for (const std::string& arg : args)
    if (arg.rfind("--", 0) == 0) return UsageError("unknown option '" + arg + "'");
  if (args.size() < names.size()) return UsageError(std::string("missing ") + names.begin()[args.size()]);
  if (args.size() > names.size()) return UsageError("unexpected argument '" + args[names.size()] + "'");
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) return UsageError("missing command");
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      WriteUsage(stdout);
      return 0;
    }
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("lumora-image %s\n", LUMORA_VERSION);
    return 0;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) == 0)
      return command.run(Arguments(argv + 2, argv + argc));
  }
  return UsageError(std::string(argv[1]).rfind('-', 0) == 0
                        ? "unknown option '" + std::string(argv[1]) + "'"
                        : "unknown command '" + std::string(argv[1]) + "'");
}
