#include "tools/lumora-image/write_output.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "snapshot/wci_container.h"

namespace {

bool ParseInt(const std::string& text, int low, int high, int& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= low && value <= high;
}

}  // namespace

bool ParseOutputOptions(const std::vector<std::string>& args, OutputOptions& options,
                        std::vector<std::string>& rest, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](int low, int high, int& target) {
      if (i + 1 >= args.size() || !ParseInt(args[i + 1], low, high, target)) {
        error = arg + " needs a number from " + std::to_string(low) + " to " + std::to_string(high);
        return false;
      }
      ++i;
      return true;
    };
    if (arg == "--depth") {
      if (!value(1, 24, options.depth)) return false;
      options.depthGiven = true;
      if (options.depth != 1 && options.depth != 8 && options.depth != 24) {
        error = "--depth must be 1, 8 or 24";
        return false;
      }
    } else if (arg == "--quality") {
      if (!value(1, 100, options.quality)) return false;
    } else if (arg == "--background") {
      if (!value(0, 255, options.background)) return false;
    } else if (arg == "--grey") {
      options.grey = true;
    } else if (arg == "--interlace") {
      options.interlace = true;
    } else if (arg == "--transparent") {
      options.transparent = true;
    } else if (arg == "--no-compress") {
      options.noCompress = true;
    } else {
      rest.push_back(arg);
    }
  }
  return true;
}

EncodeOptions BuildEncodeOptions(const OutputOptions& options, const std::string& outPath,
                                 uint8_t sourceDepth) {
  EncodeOptions record;  // the save dialog's defaults
  record.sourceDepth = sourceDepth;
  record.wantedDepth = static_cast<uint8_t>(options.depth);
  record.jpegQuality = static_cast<uint8_t>(options.quality);
  // The dialog keeps the chosen type's extension; here the type is OUT's extension.
  if (outPath.size() >= 4 && outPath[outPath.size() - 4] == '.') {
    for (int i = 0; i < 3; ++i)
      record.extension[i] = static_cast<char>(
          std::toupper(static_cast<unsigned char>(outPath[outPath.size() - 3 + i])));
  }
  if (options.grey) record.flags |= EncodeOptions::kFlagGray;
  if (options.interlace) record.flags |= EncodeOptions::kFlagInterlace;
  if (options.transparent) record.flags |= EncodeOptions::kFlagTransparent;
  if (options.noCompress) record.flags &= static_cast<uint8_t>(~EncodeOptions::kFlagCompress);
  record.backgroundIndex = static_cast<uint8_t>(options.background);
  return record;
}

void WriteOutput(std::unique_ptr<CWinBmp> bitmap, const std::string& outPath,
                 const OutputOptions& options, uint8_t sourceDepth) {
  const EncodeOptions record = BuildEncodeOptions(options, outPath, sourceDepth);
  CWCIContainer container;
  container.SetBitmap(std::move(bitmap), &record);
  container.Export(outPath.c_str());
}

void ReportError(int code, const char* text) {
  std::string message = text != nullptr ? text : "";
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  std::fprintf(stderr, "lumora-image: error %d: %s\n", code, message.c_str());
}
