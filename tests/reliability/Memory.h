#pragma once
// Memory figures of this process, for the soak: resident size and the bytes
// the C library's allocator has handed out and not got back.

#include "sheet/SheetModel.h"

#include <malloc.h>

#include <cstdint>
#include <fstream>
#include <string>

namespace t5170::testing {

inline std::int64_t residentBytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            std::int64_t kb = 0;
            status >> kb;
            return kb * 1024;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

inline bool underAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

// Heap in use: the heap's small blocks, the blocks it maps for large
// requests, and the engine's own large blocks (a sheet's cell arena).
// Meaningless under AddressSanitizer, which has its own allocator (then -1).
inline std::int64_t heapInUse() {
    if (underAddressSanitizer())
        return -1;
    const auto info = mallinfo2();
    return static_cast<std::int64_t>(info.uordblks + info.hblkhd +
                                     sheet::detail::largeBytesInUse());
}

} // namespace t5170::testing
