// Body of fuzz_rtf: any bytes read as RTF. Reading must neither fault nor
// read past the input (the sanitizers watch), and what was read must write
// as 7-bit RTF ending in the fixed closing, which reads back with the same
// visible text and writes again to the same bytes.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "platform/rtf/rtf.h"

namespace veltra_fuzz {

namespace {

[[noreturn]] void Fault(const char* what) {
    std::fprintf(stderr, "fuzz_rtf fault: %s\n", what);
    std::abort();
}

}  // namespace

void RunRtfInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const veltra::TRtfDocument document = veltra::ReadRtf(input);
    const std::string text = veltra::PlainText(document);
    if (veltra::RtfPlainText(input) != text) Fault("plain text differs from the document's text");
    const std::string written = veltra::WriteRtf(document);
    for (char c : written)
        if (static_cast<unsigned char>(c) >= 0x80) Fault("written RTF is not 7-bit");
    if (written.size() < veltra::kRtfClosing.size() ||
        std::string_view(written).substr(written.size() - veltra::kRtfClosing.size()) !=
            veltra::kRtfClosing)
        Fault("written RTF does not end with the closing sequence");
    const veltra::TRtfDocument again = veltra::ReadRtf(written);
    if (veltra::PlainText(again) != text) Fault("written RTF reads back with other text");
    if (veltra::WriteRtf(again) != written) Fault("writing what was written changes it");
}

}  // namespace veltra_fuzz
