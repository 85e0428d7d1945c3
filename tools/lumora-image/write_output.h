// Writing OUT the way the snapshot window's Save does: the encoding-options record the
// save dialog would produce, then the export container (SetImage + Export).
//
// Options understood (shared by every command that writes a picture):
//   --depth 1|8|24   wanted depth (record byte 1; default 24, but convert keeps 8 bits)
//   --grey           Gray flag          --interlace    Interlace flag (GIF)
//   --transparent    Transparent flag   --no-compress  clears Compress (TGA)
//   --background N   GIF background index 0-255      --quality N   JPEG quality 1-100
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/core/encode_options.h"
#include <memory>

#include "imaging/core/win_bmp.h"

struct OutputOptions {
  int depth = 24;
  bool depthGiven = false;  // --depth was on the command line
  bool grey = false;
  bool interlace = false;
  bool transparent = false;
  bool noCompress = false;
  int background = 0;
  int quality = 75;
};

// Takes the output options out of `args`; what is left (positional arguments, other
// options) goes to `rest`. False, with `error` set, on a bad option value.
bool ParseOutputOptions(const std::vector<std::string>& args, OutputOptions& options,
                        std::vector<std::string>& rest, std::string& error);

// The record the save dialog would hand over on confirming, for saving to `outPath`.
EncodeOptions BuildEncodeOptions(const OutputOptions& options, const std::string& outPath,
                                 uint8_t sourceDepth = 24);

// Writes the bitmap to `outPath` through CWCIContainer, as a snapshot's DIB block of
// `sourceDepth` bits would be written. Raises CTextException.
void WriteOutput(std::unique_ptr<CWinBmp> bitmap, const std::string& outPath,
                 const OutputOptions& options, uint8_t sourceDepth = 24);

// Prints "lumora-image: error CODE: TEXT" (TEXT without its final line feed).
void ReportError(int code, const char* text);
