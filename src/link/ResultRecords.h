#pragma once
// How the decoded events make up the two result records, the latest and the
// previous: the one rule the main window and the test rigs apply.

#include "core/Measurement.h"
#include "link/Protocol.h"

#include <QDateTime>

namespace t5170 {

// 0x5D: the latest result becomes the previous one and a new latest one
// starts, stamped `now` and valid. The kind, the voltage, the resistances
// (placed in their range) and the coefficient fill in the latest result;
// a field no code carries keeps its value. Returns whether `event` is one of
// these; any other event changes nothing.
bool applyToResults(const Event& event, TIzmResult& latest, TIzmResult& previous,
                    const QDateTime& now);

// The complete result the decoder makes of a record with these values (0x5D
// at `at`, the kind, the voltage, both resistances in kilo-ohms, the
// coefficient in thousandths), for whatever needs results without an
// instrument: tests, benchmarks, imports.
TIzmResult makeResult(TIzmType kind, std::uint16_t volts, std::int32_t kOm, std::int32_t kOm2,
                      std::uint16_t koef, const QDateTime& at);

} // namespace t5170
