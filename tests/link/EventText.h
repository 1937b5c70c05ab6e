#pragma once
// Readable text of decoder events, so that failed comparisons show what was
// decoded.

#include "link/Protocol.h"

#include <string>
#include <vector>

namespace t5170::testing {

inline std::string show(const Event& e) {
    struct V {
        std::string operator()(const ev::PollAnswer&) const { return "Poll"; }
        std::string operator()(const ev::Finished&) const { return "Finished"; }
        std::string operator()(const ev::Failed&) const { return "Failed"; }
        std::string operator()(const ev::ResultBegin&) const { return "Begin"; }
        std::string operator()(const ev::ResultComplete&) const { return "Complete"; }
        std::string operator()(const ev::Kind& k) const { return "Kind" + n(k.kind); }
        std::string operator()(const ev::Voltage& v) const { return "U" + n(v.volts); }
        std::string operator()(const ev::Resistance& r) const { return "R" + n(r.kOm); }
        std::string operator()(const ev::Resistance2& r) const { return "R2:" + n(r.kOm); }
        std::string operator()(const ev::Koef& k) const { return "K" + n(k.thousandths); }
        std::string operator()(const ev::SerialNumber& s) const { return "SN" + n(s.number); }
        std::string operator()(const ev::SerialLetter& s) const { return "Let" + n(s.raw); }
        std::string operator()(const ev::TestVoltage& v) const { return "TestU" + n(v.volts); }
        std::string operator()(const ev::Delay& d) const { return "Delay" + n(d.seconds); }
        std::string operator()(const ev::StartVoltage& v) const { return "StartU" + n(v.volts); }
        std::string operator()(const ev::Flags& f) const { return "Flags" + n(f.bits); }
        std::string operator()(const ev::AbsTimes& t) const {
            return "Abs" + n(t.first) + "/" + n(t.total);
        }
        std::string operator()(const ev::PolTimes& t) const {
            return "Pol" + n(t.first) + "/" + n(t.total);
        }
        static std::string n(long long v) { return std::to_string(v); }
    };
    return std::visit(V{}, e);
}

inline std::vector<std::string> show(const std::vector<Event>& events) {
    std::vector<std::string> out;
    out.reserve(events.size());
    for (const auto& e : events)
        out.push_back(show(e));
    return out;
}

} // namespace t5170::testing
