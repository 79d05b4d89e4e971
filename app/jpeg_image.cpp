#include "app/jpeg_image.h"

#include <csetjmp>
#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace veltra {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return:
// jump back to the decoder instead of letting it call exit().
struct TJpegError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
};

void OnJpegError(j_common_ptr info) {
    auto* error = reinterpret_cast<TJpegError*>(info->err);
    std::longjmp(error->Jump, 1);
}

void OnJpegMessage(j_common_ptr) {}  // warnings are not printed

}  // namespace

QImage DecodeJpeg(const unsigned char* data, size_t size) {
    if (data == nullptr || size == 0) return {};
    jpeg_decompress_struct info{};
    TJpegError error{};
    info.err = jpeg_std_error(&error.Manager);
    error.Manager.error_exit = OnJpegError;
    error.Manager.output_message = OnJpegMessage;
    // Everything the jump may cross is declared before setjmp, so nothing
    // with a destructor is skipped.
    QImage image;
    if (setjmp(error.Jump) != 0) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                   QImage::Format_RGB888);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return image;
}

}  // namespace veltra
