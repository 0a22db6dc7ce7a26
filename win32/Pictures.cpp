#include "Pictures.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The pictures are C arrays already; the face decodes them as the Linux face's toolkit does.
#include "../resources/icons/tavrin16.xpm"
#include "../resources/icons/tavrin32.xpm"
#include "../resources/icons/til00.xpm"
#include "../resources/icons/til01.xpm"
#include "../resources/icons/til02.xpm"
#include "../resources/icons/til03.xpm"
#include "../resources/icons/til04.xpm"
#include "../resources/icons/til05.xpm"
#include "../resources/icons/til06.xpm"
#include "../resources/icons/til07.xpm"
#include "../resources/icons/til08.xpm"
#include "../resources/icons/til09.xpm"
#include "../resources/icons/til10.xpm"
#include "../resources/icons/til11.xpm"
#include "../resources/icons/til12.xpm"
#include "../resources/icons/til13.xpm"

namespace tavrin {

namespace {

const char* const* const kTilMain[kTilMainCount] = {til00, til01, til02, til03, til04,
                                                    til05, til06, til07, til08, til09,
                                                    til10, til11, til12, til13};

// Pixels top-down as 0xAARRGGBB, premultiplied (fully opaque or fully clear anyway).
struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
};

// XPM with one character per pixel and colours "None" or "#RRGGBB", as the sources are.
Picture Decode(const char* const* xpm) {
  Picture picture;
  int colours = 0, perPixel = 0;
  if (std::sscanf(xpm[0], "%d %d %d %d", &picture.width, &picture.height, &colours, &perPixel) !=
          4 ||
      perPixel != 1) {
    return {};
  }
  std::uint32_t table[256] = {};
  for (int i = 0; i < colours; ++i) {
    const std::string line = xpm[1 + i];
    const std::size_t hash = line.find('#');
    table[static_cast<unsigned char>(line[0])] =
        hash == std::string::npos
            ? 0
            : 0xFF000000u | static_cast<std::uint32_t>(
                                std::strtoul(line.substr(hash + 1, 6).c_str(), nullptr, 16));
  }
  picture.pixels.reserve(static_cast<std::size_t>(picture.width * picture.height));
  for (int y = 0; y < picture.height; ++y) {
    const char* row = xpm[1 + colours + y];
    for (int x = 0; x < picture.width; ++x) {
      picture.pixels.push_back(table[static_cast<unsigned char>(row[x])]);
    }
  }
  return picture;
}

// The picture at another size, each pixel taken from the nearest one: the sharp edges of the
// drawings stay sharp.
Picture Resized(const Picture& picture, int size) {
  if (picture.width == size && picture.height == size) return picture;
  Picture resized;
  resized.width = resized.height = size;
  resized.pixels.reserve(static_cast<std::size_t>(size * size));
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      resized.pixels.push_back(picture.pixels[static_cast<std::size_t>(
          (y * picture.height / size) * picture.width + x * picture.width / size)]);
    }
  }
  return resized;
}

HBITMAP ColourBitmap(const Picture& picture) {
  BITMAPINFO info = TopDownBitmapInfo(picture.width, picture.height);
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr && bits != nullptr) {
    std::memcpy(bits, picture.pixels.data(), picture.pixels.size() * sizeof(std::uint32_t));
  }
  return bitmap;
}

// Set bits where the picture is clear.
HBITMAP MaskBitmap(const Picture& picture) {
  const int stride = ((picture.width + 15) / 16) * 2;
  std::vector<unsigned char> bits(static_cast<std::size_t>(stride * picture.height), 0);
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      if ((picture.pixels[static_cast<std::size_t>(y * picture.width + x)] >> 24) == 0) {
        bits[static_cast<std::size_t>(y * stride + x / 8)] |=
            static_cast<unsigned char>(0x80 >> (x % 8));
      }
    }
  }
  return ::CreateBitmap(picture.width, picture.height, 1, 1, bits.data());
}

}  // namespace

HIMAGELIST CreateTilMain(int size) {
  HIMAGELIST list = ::ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, kTilMainCount, 0);
  for (const char* const* xpm : kTilMain) {
    const Picture picture = Resized(Decode(xpm), size);
    HBITMAP colour = ColourBitmap(picture);
    HBITMAP mask = MaskBitmap(picture);
    ::ImageList_Add(list, colour, mask);
    ::DeleteObject(colour);
    ::DeleteObject(mask);
  }
  return list;
}

HICON CreateProgramIcon(int size) {
  const Picture picture = Decode(size >= 32 ? tavrin32 : tavrin16);
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = ColourBitmap(picture);
  info.hbmMask = MaskBitmap(picture);
  HICON icon = ::CreateIconIndirect(&info);
  ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
  return icon;
}

BITMAPINFO TopDownBitmapInfo(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

}  // namespace tavrin
