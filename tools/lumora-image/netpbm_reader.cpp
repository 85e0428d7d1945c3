#include "tools/lumora-image/netpbm_reader.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "imaging/core/dib.h"
#include "imaging/core/text_exception.h"

namespace {

constexpr int kMaxSide = 65535;

[[noreturn]] void Fail(int code, const std::string& text) { throw CTextException(code, text); }

// A cursor over the header: tokens separated by white space, '#' comments to line end.
class HeaderReader {
public:
  HeaderReader(const std::vector<uint8_t>& data, size_t position) : data_(data), pos_(position) {}

  std::string Token() {
    SkipSpaceAndComments();
    std::string token;
    while (pos_ < data_.size() && !IsSpace(data_[pos_])) token += static_cast<char>(data_[pos_++]);
    return token;
  }

  int Number() {
    const std::string token = Token();
    if (token.empty() || token.size() > 9) Fail(textexception::kFormatError, "Bad netpbm header.");
    int value = 0;
    for (char c : token) {
      if (c < '0' || c > '9') Fail(textexception::kFormatError, "Bad netpbm header.");
      value = value * 10 + (c - '0');
    }
    return value;
  }

  // The single white-space byte that ends a P5/P6 header.
  void EndOfHeader() {
    if (pos_ >= data_.size() || !IsSpace(data_[pos_])) Fail(textexception::kFormatError, "Bad netpbm header.");
    ++pos_;
  }

  // PAM: the rest of the ENDHDR line.
  void RestOfLine() {
    while (pos_ < data_.size() && data_[pos_] != '\n') ++pos_;
    if (pos_ < data_.size()) ++pos_;
  }

  size_t Position() const { return pos_; }

private:
  static bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
  void SkipSpaceAndComments() {
    while (pos_ < data_.size()) {
      if (data_[pos_] == '#') {
        while (pos_ < data_.size() && data_[pos_] != '\n') ++pos_;
      } else if (IsSpace(data_[pos_])) {
        ++pos_;
      } else {
        break;
      }
    }
  }

  const std::vector<uint8_t>& data_;
  size_t pos_;
};

struct Picture {
  int width = 0;
  int height = 0;
  int channels = 0;  // bytes per input pixel: 1 grey, 3 RGB, 4 RGB + alpha
  size_t dataOffset = 0;
};

Picture ReadHeader(const std::vector<uint8_t>& data) {
  if (data.size() < 2 || data[0] != 'P' || (data[1] != '5' && data[1] != '6' && data[1] != '7'))
    Fail(textexception::kWrongSignature, "Not a netpbm picture (P5, P6 or P7).");
  HeaderReader header(data, 2);
  Picture picture;
  int maxval = 0;
  if (data[1] != '7') {
    picture.channels = data[1] == '5' ? 1 : 3;
    picture.width = header.Number();
    picture.height = header.Number();
    maxval = header.Number();
    header.EndOfHeader();
  } else {
    std::string tupleType;
    int depth = -1;
    for (;;) {
      const std::string key = header.Token();
      if (key == "ENDHDR") break;
      if (key.empty()) Fail(textexception::kFormatError, "Bad netpbm header.");
      if (key == "WIDTH") picture.width = header.Number();
      else if (key == "HEIGHT") picture.height = header.Number();
      else if (key == "DEPTH") depth = header.Number();
      else if (key == "MAXVAL") maxval = header.Number();
      else if (key == "TUPLTYPE") tupleType = header.Token();
      else Fail(textexception::kFormatError, "Bad netpbm header.");
    }
    header.RestOfLine();
    if (tupleType == "GRAYSCALE") picture.channels = 1;
    else if (tupleType == "RGB") picture.channels = 3;
    else if (tupleType == "RGB_ALPHA") picture.channels = 4;
    else Fail(textexception::kUnsupported, "Unsupported PAM tuple type.");
    if (depth != picture.channels) Fail(textexception::kFormatError, "PAM depth does not match its tuple type.");
  }
  if (maxval != 255) Fail(textexception::kUnsupported, "Only MAXVAL 255 is supported.");
  if (picture.width < 1 || picture.height < 1 || picture.width > kMaxSide || picture.height > kMaxSide)
    Fail(textexception::kFormatError, "Picture size out of range.");
  picture.dataOffset = header.Position();
  return picture;
}

}  // namespace

CGlobalBlock ReadNetpbm(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) Fail(textexception::kFileNotFound, "Cannot open " + path + ".");
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (data.empty()) Fail(textexception::kEmptyFile, "File is empty.");

  const Picture picture = ReadHeader(data);
  const uint64_t pixelBytes =
      static_cast<uint64_t>(picture.width) * picture.height * picture.channels;
  if (data.size() - picture.dataOffset < pixelBytes)
    Fail(textexception::kEndOfData, "End of file reached while reading pixels.");

  const bool grey = picture.channels == 1;
  const unsigned bpp = grey ? 8 : 24;
  const uint64_t stride = dib::RowStride(picture.width, bpp);
  const size_t paletteBytes = grey ? 256 * sizeof(RgbQuad) : 0;
  CGlobalBlock block(sizeof(BitmapInfoHeader) + paletteBytes + stride * picture.height);

  BitmapInfoHeader header;
  header.width = picture.width;
  header.height = picture.height;
  header.bitCount = static_cast<uint16_t>(bpp);
  header.sizeImage = static_cast<uint32_t>(stride * picture.height);
  std::memcpy(block.Data(), &header, sizeof header);
  if (grey) {
    auto* palette = reinterpret_cast<RgbQuad*>(block.Data() + sizeof header);
    for (int i = 0; i < 256; ++i)
      palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
  }
  uint8_t* rows = block.Data() + sizeof header + paletteBytes;
  const uint8_t* source = data.data() + picture.dataOffset;
  const size_t sourceRow = static_cast<size_t>(picture.width) * picture.channels;
  for (int y = 0; y < picture.height; ++y) {
    // Netpbm rows run top-down, DIB rows bottom-up; colours turn from RGB to BGR.
    const uint8_t* in = source + sourceRow * y;
    uint8_t* out = rows + stride * (picture.height - 1 - y);
    if (grey) {
      std::memcpy(out, in, sourceRow);
      continue;
    }
    for (int x = 0; x < picture.width; ++x, in += picture.channels, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  }
  return block;
}
