// Independent readers and writers for the encoder and decoder round trips: libpng's
// simplified API, libjpeg and libtiff's RGBA reader, called directly, so our adapters are
// checked against the libraries themselves. Pictures are RGBA bytes, top row first.
#pragma once

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace libio {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;  // empty when the library refused the data
  const uint8_t* At(int x, int y) const { return &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4]; }
};

inline Picture ReadPng(const std::vector<uint8_t>& file) {
  Picture p;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return p;
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return p;
  p.width = int(image.width);
  p.height = int(image.height);
  p.rgba = std::move(pixels);
  return p;
}

inline std::vector<uint8_t> WritePng(const Picture& p) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(p.width);
  image.height = png_uint_32(p.height);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, p.rgba.data(), 0, nullptr)) return {};
  std::vector<uint8_t> out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, p.rgba.data(), 0, nullptr)) return {};
  out.resize(size);
  return out;
}

namespace detail {
struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};
inline void JumpOut(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }

// Holds no objects with destructors across the setjmp.
inline bool DecompressJpeg(const std::vector<uint8_t>& file, bool grey, int& width, int& height,
                           std::vector<uint8_t>& out) {
  jpeg_decompress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JumpOut;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&info);
  width = int(info.output_width);
  height = int(info.output_height);
  const int channels = info.output_components;
  out.assign(size_t(width) * size_t(height) * 4, 255);
  uint8_t line[65536 * 3];
  while (info.output_scanline < info.output_height) {
    const size_t y = info.output_scanline;
    JSAMPROW row = line;
    jpeg_read_scanlines(&info, &row, 1);
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        out[(y * size_t(width) + size_t(x)) * 4 + size_t(c)] = line[x * channels + (channels == 3 ? c : 0)];
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}
}  // namespace detail

// Grey asks libjpeg for its luminance channel alone (in all three of R, G, B).
inline Picture ReadJpeg(const std::vector<uint8_t>& file, bool grey = false) {
  Picture p;
  if (!detail::DecompressJpeg(file, grey, p.width, p.height, p.rgba)) p = Picture{};
  return p;
}

inline std::vector<uint8_t> WriteJpeg(const Picture& p, int quality,
                                      J_DCT_METHOD dct = JDCT_ISLOW) {
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = JDIMENSION(p.width);
  info.image_height = JDIMENSION(p.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  info.dct_method = dct;
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> line(size_t(p.width) * 3);
  while (info.next_scanline < info.image_height) {
    for (int x = 0; x < p.width; ++x)
      for (int c = 0; c < 3; ++c) line[size_t(x) * 3 + size_t(c)] = p.At(x, int(info.next_scanline))[c];
    JSAMPROW row = line.data();
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<uint8_t> out(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return out;
}

inline Picture ReadTiff(const std::string& path) {
  Picture p;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return p;
  uint32_t width = 0, height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  std::vector<uint32_t> raster(size_t(width) * height);
  if (TIFFReadRGBAImageOriented(tif, width, height, raster.data(), ORIENTATION_TOPLEFT, 0)) {
    p.width = int(width);
    p.height = int(height);
    for (uint32_t v : raster)
      p.rgba.insert(p.rgba.end(), {uint8_t(TIFFGetR(v)), uint8_t(TIFFGetG(v)),
                                   uint8_t(TIFFGetB(v)), uint8_t(TIFFGetA(v))});
  }
  TIFFClose(tif);
  return p;
}

// An RGBA TIFF with associated (premultiplied) alpha, one strip, top row first.
inline bool WriteTiff(const std::string& path, const Picture& p) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return false;
  const uint16_t extra[] = {EXTRASAMPLE_ASSOCALPHA};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(p.width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(p.height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
  TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(p.height));
  bool ok = true;
  for (int y = 0; y < p.height && ok; ++y)
    ok = TIFFWriteScanline(tif, const_cast<uint8_t*>(p.At(0, y)), uint32_t(y), 0) == 1;
  TIFFClose(tif);
  return ok;
}

}  // namespace libio
