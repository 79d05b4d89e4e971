// The about box's background picture: JPEG bytes generated at build time by
// app/tools/make_about_picture.
#pragma once

#include <cstddef>

namespace veltra {

extern const unsigned char kAboutPicture[];
extern const size_t kAboutPictureSize;

}  // namespace veltra
