// lumora-image: command-line front end of the image library.
//
//   lumora-image encode IN OUT [options]   netpbm picture to any of the seven save formats
//
// A command is one row of the table below.
#include <cstdio>
#include <cstring>

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

int PrintUsage() {
  std::fputs("usage:\n", stderr);
  for (const Command& command : kCommands) std::fprintf(stderr, "  lumora-image %s\n", command.usage);
  return 2;
}

int main(int argc, char** argv) {
  if (argc < 2) return PrintUsage();
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) == 0)
      return command.run(Arguments(argv + 2, argv + argc));
  }
  return PrintUsage();
}
