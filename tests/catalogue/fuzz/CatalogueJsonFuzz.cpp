#include "fuzz/FuzzBodies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzCatalogueJson(data, size);
    return 0;
}
