// qx_feeder: a stand-in for the field links of the demo.  Attaches to the
// data server and writes changing raw values into their slots the way a link
// does (value, status, write time, expiry), once per period, until it is
// stopped (SIGINT, SIGTERM or Stop in Info).
//
//   qx_feeder [--period MS] [--passes N] SIGNAL...
//   SIGNAL = SLOT,KIND,A,B,SECONDS[,VALIDITY[,UNIT]]
//
//   sine    A + B * sin(2 pi t / SECONDS)
//   square  A for the first half of every SECONDS, B for the second half
//   count   a meter reading: A + B * t (B per second; SECONDS unused)
//   gap     like sine, but nothing is written in the last third of every
//           SECONDS, so the value expires when VALIDITY is shorter
//
// VALIDITY in seconds (0 or missing: never expires), UNIT the slot's short
// text.  t counts seconds since the feeder started.
#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "link_write.hpp"
#include "qx.h"

namespace {

enum class Kind { Sine, Square, Count, Gap };

struct Signal {
    int32_t slot = 0;
    Kind kind = Kind::Sine;
    double a = 0.0;
    double b = 0.0;
    double seconds = 0.0;
    int32_t validity = 0;
    std::string unit;
};

volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    size_t begin = 0;
    for (;;) {
        const size_t end = text.find(separator, begin);
        pieces.emplace_back(text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
        if (end == std::string_view::npos) return pieces;
        begin = end + 1;
    }
}

std::optional<double> ParseDouble(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == nullptr || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<Signal> ParseSignal(std::string_view text) {
    const std::vector<std::string> p = Split(text, ',');
    if (p.size() < 5 || p.size() > 7) return std::nullopt;
    Signal s;
    const auto slot = ParseDouble(p[0]);
    const auto a = ParseDouble(p[2]);
    const auto b = ParseDouble(p[3]);
    const auto seconds = ParseDouble(p[4]);
    const auto validity = p.size() > 5 ? ParseDouble(p[5]) : std::optional<double>(0.0);
    if (!slot || !a || !b || !seconds || !validity) return std::nullopt;
    if (*slot < 1 || *slot >= QX_N_ROH || *slot != std::floor(*slot)) return std::nullopt;
    if (*validity < 0 || *validity > 86400 * 366.0 || *validity != std::floor(*validity)) return std::nullopt;
    if (p[1] == "sine") s.kind = Kind::Sine;
    else if (p[1] == "square") s.kind = Kind::Square;
    else if (p[1] == "count") s.kind = Kind::Count;
    else if (p[1] == "gap") s.kind = Kind::Gap;
    else return std::nullopt;
    if (s.kind != Kind::Count && *seconds <= 0) return std::nullopt;
    s.slot = static_cast<int32_t>(*slot);
    s.a = *a;
    s.b = *b;
    s.seconds = *seconds;
    s.validity = static_cast<int32_t>(*validity);
    if (p.size() > 6) s.unit = p[6];
    return s;
}

// The value at t seconds, or nothing when the signal is silent then.
std::optional<double> ValueAt(const Signal& s, double t) {
    constexpr double kTwoPi = 6.283185307179586;
    const double phase = s.kind == Kind::Count ? 0.0 : std::fmod(t, s.seconds) / s.seconds;
    switch (s.kind) {
        case Kind::Sine: return s.a + s.b * std::sin(kTwoPi * phase);
        case Kind::Square: return phase < 0.5 ? s.a : s.b;
        case Kind::Count: return s.a + s.b * t;
        case Kind::Gap:
            if (phase >= 2.0 / 3.0) return std::nullopt;
            return s.a + s.b * std::sin(kTwoPi * phase);
    }
    return std::nullopt;
}

void Usage() {
    std::fputs("usage: qx_feeder [--period MS] [--passes N] SLOT,KIND,A,B,SECONDS[,VALIDITY[,UNIT]]...\n"
               "KIND: sine, square, count, gap\n",
               stderr);
}

}  // namespace

int main(int argc, char** argv) {
    int period_ms = 1000;
    long passes = -1;  // without end
    std::vector<Signal> signals;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if ((arg == "--period" || arg == "--passes") && i + 1 < argc) {
            const auto value = ParseDouble(argv[++i]);
            if (!value || *value < 1 || *value > 1e9 || *value != std::floor(*value)) {
                std::fprintf(stderr, "qx_feeder: %s wants a positive whole number, not \"%s\"\n", argv[i - 1], argv[i]);
                return 2;
            }
            if (arg == "--period") period_ms = static_cast<int>(*value);
            else passes = static_cast<long>(*value);
            continue;
        }
        const auto signal = ParseSignal(arg);
        if (!signal) {
            std::fprintf(stderr, "qx_feeder: bad signal \"%s\"\n", argv[i]);
            Usage();
            return 2;
        }
        signals.push_back(*signal);
    }
    if (signals.empty()) {
        Usage();
        return 2;
    }

    VelmoSystem* sys = nullptr;
    Rohwerte* roh = nullptr;
    Tags* tags = nullptr;
    const int attached = QXInit(argc, argv, 0, nullptr, &sys, &roh, &tags);
    if (attached < 1) {
        std::fprintf(stderr, "qx_feeder: no data server to attach to (QXInit %d)\n", attached);
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    for (const Signal& s : signals)
        if (!s.unit.empty()) qx_tools::WriteRawInfoLikeLink(sys, roh, s.slot, s.unit);
    std::printf("qx_feeder: %zu raw values every %d ms\n", signals.size(), period_ms);
    std::fflush(stdout);

    const auto started = std::chrono::steady_clock::now();
    auto next = started;
    for (long pass = 0; passes < 0 || pass < passes; ++pass) {
        if (g_stop != 0 || GetStopVelmo() != 0) break;
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        for (const Signal& s : signals)
            if (const auto value = ValueAt(s, t)) qx_tools::WriteRawLikeLink(sys, roh, s.validity, s.slot, *value, 0);
        next += std::chrono::milliseconds(period_ms);
        std::this_thread::sleep_until(next);
    }
    return 0;
}
