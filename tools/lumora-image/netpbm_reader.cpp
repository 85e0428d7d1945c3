#include "tools/lumora-image/netpbm_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <span>

#include "imaging/core/dib.h"
#include "imaging/core/text_exception.h"

namespace {

constexpr int kMaxSide = 65535;

[[noreturn]] void Fail(int code, const std::string& text) { throw CTextException(code, text); }

// A cursor over the header: tokens separated by white space, '#' comments to line end.
class HeaderReader {
public:
  HeaderReader(std::span<const uint8_t> data, size_t position) : data_(data), pos_(position) {}

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

  std::span<const uint8_t> data_;
  size_t pos_;
};

struct Picture {
  int width = 0;
  int height = 0;
  int channels = 0;  // bytes per input pixel: 1 grey, 3 RGB, 4 RGB + alpha
  size_t dataOffset = 0;
};

Picture ReadHeader(std::span<const uint8_t> data) {
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

// The whole file, mapped read-only for one sequential pass.
class MappedFile {
public:
  explicit MappedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail(textexception::kFileNotFound, "Cannot open " + path + ".");
    struct stat st {};
    const bool sized = ::fstat(fd, &st) == 0;
    size_ = sized && st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
    void* view = size_ > 0 ? ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0)
                           : MAP_FAILED;
    ::close(fd);
    if (!sized) Fail(textexception::kFileNotFound, "Cannot open " + path + ".");
    if (size_ == 0) Fail(textexception::kEmptyFile, "File is empty.");
    if (view == MAP_FAILED) Fail(textexception::kFileNotFound, "Cannot open " + path + ".");
    data_ = static_cast<const uint8_t*>(view);
    ::madvise(view, size_, MADV_SEQUENTIAL);
  }
  ~MappedFile() { ::munmap(const_cast<uint8_t*>(data_), size_); }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::span<const uint8_t> Bytes() const { return {data_, size_}; }

private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// One netpbm row (RGB or RGB + alpha) as blue, green, red, 0.
void RowToBgr0(const uint8_t* in, int width, int channels, uint8_t* out) {
  if (channels == 3) {
    for (int x = 0; x < width; ++x, in += 3, out += 4) {
      uint32_t v = uint32_t(in[2]) | uint32_t(in[1]) << 8 | uint32_t(in[0]) << 16;
      std::memcpy(out, &v, 4);
    }
    return;
  }
  for (int x = 0; x < width; ++x, in += channels, out += 4) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    out[3] = 0;
  }
}

}  // namespace

void ReadNetpbm(const std::string& path, CWinBmp& bmp) {
  const MappedFile file(path);
  const std::span<const uint8_t> data = file.Bytes();
  const Picture picture = ReadHeader(data);
  const uint64_t pixelBytes =
      static_cast<uint64_t>(picture.width) * picture.height * picture.channels;
  if (data.size() - picture.dataOffset < pixelBytes)
    Fail(textexception::kEndOfData, "End of file reached while reading pixels.");

  const bool grey = picture.channels == 1;
  bmp.Create(picture.width, picture.height, grey ? 8 : 32, false);
  if (grey) {
    RgbQuad palette[256];
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<uint8_t>(i);
      palette[i] = {v, v, v, 0};
    }
    bmp.SetPalette(palette);
  }
  const uint8_t* in = data.data() + picture.dataOffset;
  const size_t sourceRow = static_cast<size_t>(picture.width) * picture.channels;
  uint8_t** rows = bmp.GetRowTable();
  for (int y = 0; y < picture.height; ++y, in += sourceRow) {
    if (grey) {
      std::memcpy(rows[y], in, sourceRow);
    } else {
      RowToBgr0(in, picture.width, picture.channels, rows[y]);
    }
  }
}
