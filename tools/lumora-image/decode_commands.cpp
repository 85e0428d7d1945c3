#include "tools/lumora-image/decode_commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "imaging/core/file_replacement.h"
#include "imaging/core/global_block.h"
#include "imaging/core/text_exception.h"
#include "imaging/core/win_bmp.h"
#include "imaging/decode/any_pic_decoder.h"
#include "tools/lumora-image/open_reason.h"
#include "tools/lumora-image/write_output.h"

namespace {

// Runs `work`, turning the library's failures into the tool's error line and status 1.
template <class Work>
int Guarded(const std::string& in, const std::string& out, Work work) {
  try {
    work();
  } catch (const CTextException& failure) {
    ReportFailure(failure, in, out);
    return 1;
  } catch (const std::bad_alloc&) {
    ReportError(textexception::kNoMemory, "Out of memory.");
    return 1;
  }
  return 0;
}

// A count, optionally followed by K, M or G (powers of 1024).
bool ParseAmount(const std::string& text, uint64_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr == text.data()) return false;
  int shift = 0;
  if (ptr != end) {
    const char* units = "KMG";
    const char* unit = std::strchr(units, std::toupper(static_cast<unsigned char>(*ptr)));
    if (unit == nullptr || *unit == 0 || ptr + 1 != end) return false;
    shift = 10 * int(unit - units + 1);
  }
  if (value > (UINT64_MAX >> shift)) return false;
  value <<= shift;
  return true;
}

// Takes --max-pixels and --max-memory out of `args`. False, after the usage error, on a
// missing or bad value.
bool TakeLimits(Arguments& args, DecodeLimits& limits) {
  Arguments rest;
  for (size_t i = 0; i < args.size(); ++i) {
    uint64_t* target = args[i] == "--max-pixels"   ? &limits.maxPixels
                       : args[i] == "--max-memory" ? &limits.maxMemory
                                                   : nullptr;
    if (target == nullptr) {
      rest.push_back(args[i]);
      continue;
    }
    if (i + 1 >= args.size() || !ParseAmount(args[i + 1], *target)) {
      UsageError(args[i] + " needs a count (K, M or G may follow)");
      return false;
    }
    ++i;
  }
  args = std::move(rest);
  return true;
}

}  // namespace

int WritePam(const CBmp& bmp, CFileReplacement& out) {
  const int width = bmp.GetWidth();
  const int height = bmp.GetHeight();
  char header[128];
  const int headerBytes = std::snprintf(
      header, sizeof header, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
      width, height);
  if (const int error = out.Write(header, size_t(headerBytes))) return error;
  // Rows go out in blocks of about 1 MiB: the picture is never held twice in memory.
  const size_t rowBytes = size_t(width) * 4;
  const size_t blockRows = std::max<size_t>(1, (size_t(1) << 20) / std::max<size_t>(rowBytes, 1));
  std::vector<uint8_t> block(blockRows * rowBytes);
  const bool alpha = bmp.HasAlpha();
  const RgbQuad* palette = bmp.GetPalette();
  const int bpp = bmp.GetBitsPerPixel();
  size_t filled = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = bmp.GetRowTable()[y];
    uint8_t* p = block.data() + filled * rowBytes;
    if (bpp == 32) {
      for (int x = 0; x < width; ++x, p += 4, row += 4) {
        p[0] = row[2];
        p[1] = row[1];
        p[2] = row[0];
        p[3] = alpha ? row[3] : 255;
      }
    } else {
      for (int x = 0; x < width; ++x, p += 4) {
        // 8 bits: an index; 1 bit: leftmost pixel in the top bit.
        const RgbQuad c =
            palette[bpp == 8 ? row[x] : (row[x >> 3] >> (7 - (x & 7))) & 1];
        p[0] = c.red;
        p[1] = c.green;
        p[2] = c.blue;
        p[3] = alpha ? c.reserved : 255;
      }
    }
    if (++filled == blockRows || y == height - 1) {
      if (const int error = out.Write(block.data(), rowBytes * filled)) return error;
      filled = 0;
    }
  }
  return 0;
}

int RunInfo(const Arguments& given) {
  Arguments args = given;
  DecodeLimits limits;
  if (!TakeLimits(args, limits)) return 2;
  if (const int status = CheckFiles(args, {"input file"})) return status;
  return Guarded(args[0], "", [&] {
    CAnyPicDecoder decoder;
    decoder.SetLimits(limits);
    CWinBmp bmp;
    decoder.DecodeFile(args[0].c_str(), bmp, 0);
    std::printf("%s %dx%d %dbpp alpha=%d\n", picformat::Name(decoder.GetFileType()),
                bmp.GetWidth(), bmp.GetHeight(), bmp.GetBitsPerPixel(), bmp.HasAlpha() ? 1 : 0);
  });
}

int RunDecode(const Arguments& given) {
  Arguments args = given;
  DecodeLimits limits;
  if (!TakeLimits(args, limits)) return 2;
  std::vector<std::string> paths;
  int depth = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--depth") {
      paths.push_back(args[i]);
    } else if (i + 1 < args.size() &&
               (args[i + 1] == "0" || args[i + 1] == "8" || args[i + 1] == "32")) {
      depth = std::stoi(args[++i]);
    } else {
      return UsageError("--depth must be 0, 8 or 32");
    }
  }
  if (const int status = CheckFiles(paths, {"input file", "output file"})) return status;
  return Guarded(paths[0], "", [&] {
    CAnyPicDecoder decoder;
    decoder.SetLimits(limits);
    CWinBmp bmp;
    decoder.DecodeFile(paths[0].c_str(), bmp, depth);
    // Replaced whole or not at all, as the encoders' files are.
    CFileReplacement out;
    if (const int error = out.Open(paths[1]))
      throw CTextException(textexception::kOpenOutputFailed,
                           "Opening " + paths[1] + " failed: " + std::strerror(error));
    int error = WritePam(bmp, out);
    if (error == 0) error = out.Commit();
    if (error != 0)
      throw CTextException(textexception::kOpenOutputFailed,
                           "Writing " + paths[1] + " failed: " + std::strerror(error));
  });
}

int RunConvert(const Arguments& given) {
  Arguments args = given;
  DecodeLimits limits;
  if (!TakeLimits(args, limits)) return 2;
  OutputOptions options;
  std::vector<std::string> rest;
  std::string error;
  if (!ParseOutputOptions(args, options, rest, error)) return UsageError(error);
  if (const int status = CheckFiles(rest, {"input file", "output file"})) return status;
  return Guarded(rest[0], rest[1], [&] {
    CAnyPicDecoder decoder;
    decoder.SetLimits(limits);
    auto bmp = std::make_unique<CWinBmp>();
    decoder.DecodeFile(rest[0].c_str(), *bmp, 0);
    if (bmp->HasAlpha()) {
      // Written as the decoded picture's DIB block would be, and a DIB block carries no
      // alpha flag: only then is the picture copied through one.
      CGlobalBlock dib;
      bmp->CopyToGlobal(dib);
      bmp->CreateFromGlobal(dib);
    }
    const int bpp = bmp->GetBitsPerPixel();
    // A palette picture keeps its palette unless a depth is asked for: widening it to true
    // colour would only have a GIF quantised again, and lose colours on the way.
    if (bpp == 8 && !options.depthGiven) options.depth = 8;
    WriteOutput(std::move(bmp), rest[1], options, static_cast<uint8_t>(bpp == 32 ? 24 : bpp));
  });
}
