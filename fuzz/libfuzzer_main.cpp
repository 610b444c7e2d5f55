// One libFuzzer binary per target: FUZZ_TARGET names the entry function.
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FUZZ_TARGET(data, size); }
