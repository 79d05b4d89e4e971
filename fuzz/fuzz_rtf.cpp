// libFuzzer entry of fuzz_rtf (any bytes are an input).
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    veltra_fuzz::RunRtfInput(data, size);
    return 0;
}
