// libFuzzer entry of fuzz_filter (input format in fuzz_input.h).
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    veltra_fuzz::RunFilterInput(data, size);
    return 0;
}
