#include "JpegImage.h"

#include <cstring>

#include "JpegPicture.h"

namespace tavrin {

QImage DecodeJpeg(const QByteArray& bytes) {
  const JpegPicture picture =
      DecodeJpegPicture(reinterpret_cast<const unsigned char*>(bytes.constData()),
                        static_cast<std::size_t>(bytes.size()));
  if (picture.IsNull()) return QImage();
  QImage image(picture.width, picture.height,
               picture.channels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
  if (image.isNull()) return QImage();
  // QImage pads its rows; the picture's rows are packed.
  const std::size_t stride = static_cast<std::size_t>(picture.width * picture.channels);
  for (int y = 0; y < picture.height; ++y) {
    std::memcpy(image.scanLine(y), picture.pixels.data() + stride * static_cast<std::size_t>(y),
                stride);
  }
  return image;
}

}  // namespace tavrin
