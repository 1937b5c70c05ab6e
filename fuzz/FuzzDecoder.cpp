// The receive decoder against any bytes, cut into passes anywhere.

#include "FuzzSupport.h"
#include "FuzzTargets.h"

#include "link/Protocol.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <type_traits>
#include <vector>

namespace t5170::fuzz {

namespace {

constexpr std::size_t kRxCapacity = 1024; // the channel's receive buffer
constexpr std::size_t kLongestCode = 5;   // a code and four data bytes

bool sameEvent(const Event& a, const Event& b) {
    if (a.index() != b.index())
        return false;
    return std::visit(
        [&b](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_empty_v<T>) {
                return true;
            } else {
                static_assert(std::has_unique_object_representations_v<T>);
                return std::memcmp(&x, &std::get<T>(b), sizeof(T)) == 0;
            }
        },
        a);
}

bool sameEvents(const std::vector<Event>& a, const std::vector<Event>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), sameEvent);
}

// decode() on an exactly sized copy, so that a read past its end is caught.
std::size_t decodeCopy(const std::vector<std::uint8_t>& bytes, std::vector<Event>& out) {
    const auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get());
    const std::size_t before = out.size();
    const std::size_t used = decode(copy.get(), bytes.size(), out);
    T5170_FUZZ_CHECK(used <= bytes.size(), "decode consumed more than it was given");
    T5170_FUZZ_CHECK(out.size() - before <= used, "more events than bytes consumed");
    if (used < bytes.size()) {
        // It may only stop at a code whose data bytes have not all arrived.
        const std::uint8_t c = bytes[used];
        const auto need = static_cast<std::size_t>(dataBytesFromInstrument(c));
        T5170_FUZZ_CHECK(need > 0 && bytes.size() - used <= need,
                         "decode stopped before a complete code");
    }
    return used;
}

} // namespace

int decoderInput(const std::uint8_t* data, std::size_t size) {
    // Input: n (0..15), n piece lengths (0 = a pass with nothing new), the
    // stream. The pieces repeat until the stream is used up.
    Bytes in(data, size);
    const int n = in.take() % 16;
    std::vector<std::size_t> pieces;
    for (int i = 0; i < n; ++i)
        pieces.push_back(in.take() * 9u); // up to 2,295: beyond the receive buffer
    if (pieces.empty() || std::all_of(pieces.begin(), pieces.end(), [](auto p) { return !p; }))
        pieces.push_back(in.left() ? in.left() : 1);
    const std::vector<std::uint8_t> stream(in.rest(), in.rest() + in.left());

    std::vector<Event> whole;
    const std::size_t wholeUsed = decodeCopy(stream, whole);

    // The window's loop: what arrived waits in the system's queue; a pass
    // takes what fits into the receive buffer, decodes it and keeps the
    // incomplete tail for the next pass.
    std::vector<Event> passes;
    std::deque<std::uint8_t> queued;
    std::vector<std::uint8_t> rx;
    std::size_t sent = 0;
    std::size_t consumed = 0;
    std::size_t idle = 0;
    for (std::size_t k = 0; sent < stream.size() || !queued.empty(); ++k) {
        const std::size_t piece = std::min(pieces[k % pieces.size()], stream.size() - sent);
        queued.insert(queued.end(), stream.begin() + static_cast<std::ptrdiff_t>(sent),
                      stream.begin() + static_cast<std::ptrdiff_t>(sent + piece));
        sent += piece;
        const std::size_t take = std::min(kRxCapacity - rx.size(), queued.size());
        rx.insert(rx.end(), queued.begin(), queued.begin() + static_cast<std::ptrdiff_t>(take));
        queued.erase(queued.begin(), queued.begin() + static_cast<std::ptrdiff_t>(take));
        const std::size_t used = decodeCopy(rx, passes);
        rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(used));
        consumed += used;
        T5170_FUZZ_CHECK(rx.size() < kLongestCode, "receive buffer keeps a complete code");
        // Once everything has arrived the queue must drain: no pass may
        // leave the buffer stuck.
        idle = sent == stream.size() ? idle + 1 : 0;
        T5170_FUZZ_CHECK(idle <= stream.size() / kRxCapacity + 2, "the receive loop is stuck");
    }
    T5170_FUZZ_CHECK(consumed == wholeUsed, "bytes consumed depend on the cuts");
    T5170_FUZZ_CHECK(sameEvents(passes, whole), "events depend on the cuts");
    return 0;
}

} // namespace t5170::fuzz
