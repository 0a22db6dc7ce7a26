// The About picture as a QImage, decoded by the toolkit-free JpegPicture.
#pragma once

#include <QByteArray>
#include <QImage>

namespace tavrin {

// Decodes a baseline or progressive JPEG held in memory into an RGB image.
// Returns a null image when the bytes are empty, truncated or not a JPEG; never exits.
QImage DecodeJpeg(const QByteArray& bytes);

}  // namespace tavrin
