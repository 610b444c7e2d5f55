// PNG encoding of the frame buffer through libpng, into memory.
#include "tools/png_writer.h"

#include <png.h>

#include <vector>

#include "ppu/ppu.h"

namespace {
void append_to_vector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void no_flush(png_structp) {}
}  // namespace

bool encode_frame_png(std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    error = "cannot set up the PNG encoder";
    return false;
  }
  std::vector<png_byte> rows(FRAME_WIDTH * FRAME_HEIGHT * 3);
  std::vector<png_bytep> row_pointers(FRAME_HEIGHT);
  for (int y = 0; y < FRAME_HEIGHT; ++y) {
    row_pointers[y] = rows.data() + y * FRAME_WIDTH * 3;
    for (int x = 0; x < FRAME_WIDTH; ++x) {
      const uint32_t pixel = frame_buffer[y * FRAME_WIDTH + x].load(std::memory_order_relaxed);
      png_bytep px = row_pointers[y] + x * 3;
      px[0] = static_cast<png_byte>(pixel >> 16);
      px[1] = static_cast<png_byte>(pixel >> 8);
      px[2] = static_cast<png_byte>(pixel);
    }
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    error = "PNG encoding failed";
    return false;
  }
  png_set_write_fn(png, &out, append_to_vector, no_flush);
  png_set_IHDR(png, info, FRAME_WIDTH, FRAME_HEIGHT, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, row_pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}
