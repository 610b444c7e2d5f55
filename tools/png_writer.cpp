// PNG output of the frame buffer through libpng.
#include "tools/png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "ppu/ppu.h"

bool write_frame_png(const char* path, std::string& error) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "wb"), std::fclose);
  if (!file) {
    error = std::string(path) + ": cannot write: " + std::strerror(errno);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    error = std::string(path) + ": cannot set up the PNG encoder";
    return false;
  }
  std::vector<png_byte> rows(FRAME_WIDTH * FRAME_HEIGHT * 3);
  std::vector<png_bytep> row_pointers(FRAME_HEIGHT);
  for (int y = 0; y < FRAME_HEIGHT; ++y) {
    row_pointers[y] = rows.data() + y * FRAME_WIDTH * 3;
    for (int x = 0; x < FRAME_WIDTH; ++x) {
      const uint32_t pixel = frame_buffer[y * FRAME_WIDTH + x].load(std::memory_order_relaxed);
      png_bytep out = row_pointers[y] + x * 3;
      out[0] = static_cast<png_byte>(pixel >> 16);
      out[1] = static_cast<png_byte>(pixel >> 8);
      out[2] = static_cast<png_byte>(pixel);
    }
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    error = std::string(path) + ": PNG encoding failed";
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, FRAME_WIDTH, FRAME_HEIGHT, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, row_pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}
