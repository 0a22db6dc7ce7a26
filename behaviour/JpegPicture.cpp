#include "JpegPicture.h"

#include <csetjmp>
#include <cstdio>
#include <new>

// jpeglib.h uses size_t and FILE without declaring them.
#include <jerror.h>
#include <jpeglib.h>

namespace tavrin {

namespace {

// Larger pictures than this are refused rather than allocated.
constexpr JDIMENSION kMaxSide = 16384;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

// libjpeg's own error_exit would end the process; return to DecodeInto instead.
[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

// Warnings are tolerated, except running out of bytes: libjpeg would pad the missing rows
// with grey and call that a picture.
void EmitMessage(j_common_ptr cinfo, int msg_level) {
  if (msg_level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) ErrorExit(cinfo);
}

void SilentOutput(j_common_ptr) {}

// Adobe writes CMYK inverted; a plain multiply gives the RGB a viewer would show.
void CmykRowToRgb(const JSAMPLE* cmyk, unsigned char* rgb, JDIMENSION width) {
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
    const int k = cmyk[3];
    rgb[0] = static_cast<unsigned char>(cmyk[0] * k / 255);
    rgb[1] = static_cast<unsigned char>(cmyk[1] * k / 255);
    rgb[2] = static_cast<unsigned char>(cmyk[2] * k / 255);
  }
}

// Holds no object with a destructor, so a longjmp out of libjpeg skips nothing; the
// picture and the CMYK row live in the caller and are only reached through pointers.
bool DecodeInto(jpeg_decompress_struct* cinfo, ErrorManager* err, const unsigned char* bytes,
                std::size_t size, JpegPicture* out, std::vector<JSAMPLE>* cmyk_row) {
  if (setjmp(err->jump)) return false;

  jpeg_create_decompress(cinfo);
  jpeg_mem_src(cinfo, bytes, static_cast<unsigned long>(size));
  jpeg_read_header(cinfo, TRUE);

  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  const bool gray = cinfo->jpeg_color_space == JCS_GRAYSCALE;
  cinfo->out_color_space = cmyk ? JCS_CMYK : gray ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(cinfo);

  const JDIMENSION width = cinfo->output_width;
  const JDIMENSION height = cinfo->output_height;
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return false;
  out->width = static_cast<int>(width);
  out->height = static_cast<int>(height);
  out->channels = gray ? 1 : 3;
  const std::size_t stride =
      static_cast<std::size_t>(width) * static_cast<std::size_t>(out->channels);
  try {
    out->pixels.resize(stride * height);
    if (cmyk) cmyk_row->resize(static_cast<std::size_t>(width) * 4);
  } catch (const std::bad_alloc&) {
    return false;
  }

  while (cinfo->output_scanline < height) {
    unsigned char* line = out->pixels.data() + stride * cinfo->output_scanline;
    JSAMPROW row = cmyk ? cmyk_row->data() : line;
    if (jpeg_read_scanlines(cinfo, &row, 1) != 1) return false;
    if (cmyk) CmykRowToRgb(cmyk_row->data(), line, width);
  }
  jpeg_finish_decompress(cinfo);
  return true;
}

}  // namespace

JpegPicture DecodeJpegPicture(const unsigned char* bytes, std::size_t size) {
  if (bytes == nullptr || size == 0) return {};

  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = EmitMessage;
  err.pub.output_message = SilentOutput;

  JpegPicture picture;
  std::vector<JSAMPLE> cmyk_row;
  const bool ok = DecodeInto(&cinfo, &err, bytes, size, &picture, &cmyk_row);
  jpeg_destroy_decompress(&cinfo);
  return ok ? picture : JpegPicture{};
}

}  // namespace tavrin
