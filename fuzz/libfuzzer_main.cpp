// The libFuzzer entry of one target; QUORVEL_FUZZ_TARGET names its function.
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return quorvel::fuzz::QUORVEL_FUZZ_TARGET(data, size);
}
