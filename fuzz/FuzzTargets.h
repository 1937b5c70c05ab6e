#pragma once
// Entry points of the fuzz targets. Each takes one input as libFuzzer hands
// it over and checks the properties its code promises; a broken property
// goes to the failure handler (by default: message and abort, which
// libFuzzer records as a crash together with the input).
//
// The same functions run in the ordinary test suite, which replays every
// seed and every recorded finding under fuzz/corpus and fuzz/regressions.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace t5170::fuzz {

// Bytes from the instrument cut into receive passes where the first bytes of
// the input say: the events and the bytes consumed must not depend on the
// cuts, and the decoder must read nothing beyond what it was given.
int decoderInput(const std::uint8_t* data, std::size_t size);
// A configuration file's content: reading the program's keys, writing one
// key and reading it back, every other key left as it was.
int iniInput(const std::uint8_t* data, std::size_t size);
// A file that claims to be an .xls workbook: it is read or refused with the
// engine's own error; a workbook read is written again and reads back the same.
int xlsInput(const std::uint8_t* data, std::size_t size);
// A file that claims to be an .xlsx workbook, read from memory and from a file
// through the engine's open call.
int xlsxInput(const std::uint8_t* data, std::size_t size);
// A worksheet's XML in a package: its rows read straight from their text
// store exactly what reading them token by token stores, and one way
// refuses what the other refuses.
int xlsxRowsInput(const std::uint8_t* data, std::size_t size);
// A text typed into a cell: the value it becomes, read back as text and
// typed again, is the same value.
int typedInput(const std::uint8_t* data, std::size_t size);

struct Target {
    const char* name; // folder name under fuzz/corpus and fuzz/regressions
    int (*run)(const std::uint8_t*, std::size_t);
};

// Called with a description when a property does not hold. The default
// prints it and aborts.
using FailureHandler = std::function<void(const std::string& what)>;
void setFailureHandler(FailureHandler handler);
void fail(const std::string& what);

} // namespace t5170::fuzz

#define T5170_FUZZ_CHECK(cond, what)                                                               \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::t5170::fuzz::fail(std::string(__FILE__ ":") + std::to_string(__LINE__) + ": " +      \
                                (what));                                                           \
    } while (false)
