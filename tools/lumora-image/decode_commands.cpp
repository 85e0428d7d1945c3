#include "tools/lumora-image/decode_commands.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "imaging/core/global_block.h"
#include "imaging/core/text_exception.h"
#include "imaging/core/win_bmp.h"
#include "imaging/decode/any_pic_decoder.h"
#include "tools/lumora-image/write_output.h"

namespace {

// Runs `work`, turning the library's failures into the tool's error line and status 1.
template <class Work>
int Guarded(Work work) {
  try {
    work();
  } catch (const CTextException& failure) {
    ReportError(failure.GetErrorCode(), failure.GetErrorText());
    return 1;
  } catch (const std::bad_alloc&) {
    ReportError(textexception::kNoMemory, "Out of memory.");
    return 1;
  }
  return 0;
}

bool IsOption(const std::string& s) { return s.rfind("--", 0) == 0; }

}  // namespace

std::string EncodePam(const CBmp& bmp) {
  const int width = bmp.GetWidth();
  const int height = bmp.GetHeight();
  char header[160];
  std::snprintf(header, sizeof header,
                "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", width,
                height);
  std::string out(header);
  const size_t start = out.size();
  out.resize(start + size_t(width) * size_t(height) * 4);
  uint8_t* p = reinterpret_cast<uint8_t*>(out.data()) + start;
  const bool alpha = bmp.HasAlpha();
  const RgbQuad* palette = bmp.GetPalette();
  const int bpp = bmp.GetBitsPerPixel();
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = bmp.GetRowTable()[y];
    for (int x = 0; x < width; ++x, p += 4) {
      RgbQuad c;
      if (bpp == 32) {
        std::memcpy(&c, row + 4 * x, 4);
      } else if (bpp == 8) {
        c = palette[row[x]];
      } else {  // 1 bit, leftmost pixel in the top bit
        c = palette[(row[x >> 3] >> (7 - (x & 7))) & 1];
      }
      p[0] = c.red;
      p[1] = c.green;
      p[2] = c.blue;
      p[3] = alpha ? c.reserved : 255;
    }
  }
  return out;
}

int RunInfo(const Arguments& args) {
  if (args.size() != 1 || IsOption(args[0])) return PrintUsage();
  return Guarded([&] {
    CAnyPicDecoder decoder;
    CWinBmp bmp;
    decoder.DecodeFile(args[0].c_str(), bmp, 0);
    std::printf("%s %dx%d %dbpp alpha=%d\n", picformat::Name(decoder.GetFileType()),
                bmp.GetWidth(), bmp.GetHeight(), bmp.GetBitsPerPixel(), bmp.HasAlpha() ? 1 : 0);
  });
}

int RunDecode(const Arguments& args) {
  std::vector<std::string> paths;
  int depth = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--depth" && i + 1 < args.size() &&
        (args[i + 1] == "0" || args[i + 1] == "8" || args[i + 1] == "32")) {
      depth = std::stoi(args[++i]);
    } else if (IsOption(args[i])) {
      return PrintUsage();
    } else {
      paths.push_back(args[i]);
    }
  }
  if (paths.size() != 2) return PrintUsage();
  return Guarded([&] {
    CAnyPicDecoder decoder;
    CWinBmp bmp;
    decoder.DecodeFile(paths[0].c_str(), bmp, depth);
    const std::string pam = EncodePam(bmp);
    std::FILE* f = std::fopen(paths[1].c_str(), "wb");
    const bool written = f != nullptr && std::fwrite(pam.data(), 1, pam.size(), f) == pam.size();
    const bool closed = f != nullptr && std::fclose(f) == 0;
    if (!written || !closed) {
      std::remove(paths[1].c_str());  // no half-written picture left behind
      throw CTextException(textexception::kOpenOutputFailed,
                           "Opening " + paths[1] + " failed");
    }
  });
}

int RunConvert(const Arguments& args) {
  OutputOptions options;
  std::vector<std::string> rest;
  std::string error;
  if (!ParseOutputOptions(args, options, rest, error)) {
    std::fprintf(stderr, "lumora-image: %s\n", error.c_str());
    return PrintUsage();
  }
  if (rest.size() != 2 || IsOption(rest[0]) || IsOption(rest[1])) return PrintUsage();
  return Guarded([&] {
    CAnyPicDecoder decoder;
    CWinBmp bmp;
    decoder.DecodeFile(rest[0].c_str(), bmp, 0);
    CGlobalBlock dib;
    bmp.CopyToGlobal(dib);
    const int bpp = bmp.GetBitsPerPixel();
    WriteOutput(dib, rest[1], options, static_cast<uint8_t>(bpp == 32 ? 24 : bpp));
  });
}
