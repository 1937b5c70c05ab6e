#include "link/ResultRecords.h"

#include "core/Texts.h"

#include <type_traits>

namespace t5170 {

bool applyToResults(const Event& event, TIzmResult& latest, TIzmResult& previous,
                    const QDateTime& now) {
    return std::visit(
        [&](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, ev::ResultBegin>) {
                previous = latest;
                latest.Time = now;
                latest.Valid = true;
            } else if constexpr (std::is_same_v<E, ev::Kind>) {
                latest.Kind = e.kind;
            } else if constexpr (std::is_same_v<E, ev::Voltage>) {
                latest.U = e.volts;
            } else if constexpr (std::is_same_v<E, ev::Resistance>) {
                const RangedResistance r = rangeResistance(e.kOm);
                latest.RkOm = r.kOm;
                latest.R = r.value;
                latest.RUnit = r.unit;
            } else if constexpr (std::is_same_v<E, ev::Resistance2>) {
                const RangedResistance r = rangeResistance(e.kOm);
                latest.R2kOm = r.kOm;
                latest.R2 = r.value;
                latest.R2Unit = r.unit;
            } else if constexpr (std::is_same_v<E, ev::Koef>) {
                latest.Koef = e.thousandths;
            } else {
                return false;
            }
            return true;
        },
        event);
}

TIzmResult makeResult(TIzmType kind, std::uint16_t volts, std::int32_t kOm, std::int32_t kOm2,
                      std::uint16_t koef, const QDateTime& at) {
    TIzmResult latest;
    TIzmResult previous;
    for (const Event& e :
         {Event{ev::ResultBegin{}}, Event{ev::Kind{kind}}, Event{ev::Voltage{volts}},
          Event{ev::Resistance{kOm}}, Event{ev::Resistance2{kOm2}}, Event{ev::Koef{koef}}})
        applyToResults(e, latest, previous, at);
    return latest;
}

} // namespace t5170
