// The libjpeg adapter. The library reports errors by longjmp: only the functions marked
// "longjmp zone" run library calls, and they hold no object with a destructor. Exceptions
// of the sink are caught in the destination callbacks, parked, and carried over the
// library's frames by its own error exit.
#include "imaging/encode/jpeg_encoder.h"

#include <csetjmp>
#include <cstdio>
#include <exception>
#include <string>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <jerror.h>

#include "imaging/core/encode_options.h"
#include "imaging/core/text_exception.h"

namespace {

constexpr size_t kOutputBufferSize = 8192;

struct ErrorManager {
  jpeg_error_mgr library;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

struct Destination {
  jpeg_destination_mgr library;
  CDataSink* sink;
  JOCTET* buffer;
  std::exception_ptr* pending;  // a sink exception waiting to pass the library's frames
};

void ErrorExit(j_common_ptr cinfo) {
  auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, errors->message);
  std::longjmp(errors->jump, 1);
}

bool HandToSink(Destination* dest, const JOCTET* bytes, size_t count) noexcept {
  try {
    return dest->sink->WriteBytes(count, bytes) == count;
  } catch (...) {
    *dest->pending = std::current_exception();
    return false;
  }
}

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  dest->buffer = static_cast<JOCTET*>(
      (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kOutputBufferSize));
  dest->library.next_output_byte = dest->buffer;
  dest->library.free_in_buffer = kOutputBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  if (!HandToSink(dest, dest->buffer, kOutputBufferSize)) ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->library.next_output_byte = dest->buffer;
  dest->library.free_in_buffer = kOutputBufferSize;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  const size_t used = kOutputBufferSize - dest->library.free_in_buffer;
  if (used > 0 && !HandToSink(dest, dest->buffer, used)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

}  // namespace

struct CJPEGEncoder::Library {
  jpeg_compress_struct cinfo;
  ErrorManager errors;
  Destination destination;
  bool created = false;
};

namespace {

// longjmp zone: creates the compression object. False when the library failed.
bool CreateCompressor(CJPEGEncoder::Library* lib) {
  lib->cinfo.err = jpeg_std_error(&lib->errors.library);
  lib->errors.library.error_exit = ErrorExit;
  if (setjmp(lib->errors.jump)) return false;
  jpeg_create_compress(&lib->cinfo);
  return true;
}

// longjmp zone: one whole image. False when the library failed (or the sink raised).
bool Compress(CJPEGEncoder::Library* lib, uint8_t* const* rows, int width, int height,
              int quality) {
  jpeg_compress_struct* cinfo = &lib->cinfo;
  if (setjmp(lib->errors.jump)) return false;
  cinfo->dest = &lib->destination.library;
  cinfo->image_width = static_cast<JDIMENSION>(width);
  cinfo->image_height = static_cast<JDIMENSION>(height);
  cinfo->input_components = 4;
  cinfo->in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(cinfo);
  if (quality >= 0) jpeg_set_quality(cinfo, quality, TRUE);
  cinfo->dct_method = JDCT_FLOAT;
  jpeg_start_compress(cinfo, TRUE);
  while (cinfo->next_scanline < cinfo->image_height) {
    const JDIMENSION done = cinfo->next_scanline;
    jpeg_write_scanlines(cinfo, const_cast<JSAMPARRAY>(rows + done), cinfo->image_height - done);
  }
  jpeg_finish_compress(cinfo);
  return true;
}

}  // namespace

CJPEGEncoder::CJPEGEncoder() : library_(std::make_unique<Library>()) {
  library_->destination.library.init_destination = InitDestination;
  library_->destination.library.empty_output_buffer = EmptyOutputBuffer;
  library_->destination.library.term_destination = TermDestination;
  if (!CreateCompressor(library_.get())) {
    const std::string message = std::string(library_->errors.message) + "\n";
    RaiseEncoderError(textexception::kUnsupported, message.c_str());
  }
  library_->created = true;
}

CJPEGEncoder::~CJPEGEncoder() {
  if (library_->created) jpeg_destroy_compress(&library_->cinfo);
}

size_t CJPEGEncoder::MaxEncodedSize(const CBmp& bitmap, const char*) {
  // The coded size of one 16 x 16 macroblock stays below 6 bytes per pixel at any quality
  // (the bound libjpeg-turbo's own buffer sizing uses), plus headers and tables.
  const uint64_t width = bitmap.GetWidth() > 0 ? bitmap.GetWidth() : 0;
  const uint64_t height = bitmap.GetHeight() > 0 ? bitmap.GetHeight() : 0;
  return ((width + 15) & ~15ull) * ((height + 15) & ~15ull) * 6 + 2048 + kOutputBufferSize;
}

void CJPEGEncoder::WriteImage(CBmp& bitmap, CDataSink& sink) {
  if (bitmap.GetBitsPerPixel() != 32) bitmap.CopyFrom(bitmap, 32);
  RequirePixelData(bitmap);
  const EncodeOptions* options = bitmap.GetEncodeOptions();
  std::exception_ptr pending;
  library_->destination.sink = &sink;
  library_->destination.pending = &pending;
  const bool ok = Compress(library_.get(), bitmap.GetRowTable(), bitmap.GetWidth(),
                           bitmap.GetHeight(), options != nullptr ? options->jpegQuality : -1);
  library_->destination.sink = nullptr;
  library_->destination.pending = nullptr;
  if (ok) return;
  jpeg_abort_compress(&library_->cinfo);  // the object stays usable for the next file
  if (pending) std::rethrow_exception(pending);
  const std::string message = std::string(library_->errors.message) + "\n";
  RaiseEncoderError(textexception::kUnsupported, message.c_str());
}
