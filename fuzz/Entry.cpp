// libFuzzer's entry for one target; T5170_FUZZ_ENTRY names its function.

#include "FuzzTargets.h"

#include <QCoreApplication>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Some of the engine's Qt calls expect an application object.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return T5170_FUZZ_ENTRY(data, size);
}
