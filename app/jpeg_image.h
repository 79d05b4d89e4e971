// Decoding a JPEG image with libjpeg into a QImage.
#pragma once

#include <QImage>
#include <cstddef>

namespace veltra {

// Decodes `size` bytes of a baseline or progressive JPEG (grey or colour).
// Returns a null QImage when the data is not a JPEG libjpeg can decode;
// never aborts on bad data.
QImage DecodeJpeg(const unsigned char* data, size_t size);

}  // namespace veltra
