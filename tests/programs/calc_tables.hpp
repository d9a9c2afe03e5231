// Tag database tables in memory for the computing core's tests: every tag in
// the state a configuration file leaves unconfigured tags in (all bytes 0xFF,
// Arch 0, Fkt 0), raw values all 0xFF, plus helpers to configure tags and run
// cycles.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core_io.hpp"
#include "kern.hpp"
#include "qx/records.h"
#include "values.hpp"

namespace calc_test {

// 2024-01-01 00:00:00 UTC in days and as an epoch second.
inline constexpr double kDay = 45292.0;
inline constexpr uint32_t kDayEpoch = 1704067200u;

inline double UtcDays(uint32_t epoch) { return 25569.0 + epoch / 86400.0; }

struct Tables {
    VelmoSystem sys{};
    std::vector<Tags> tags = std::vector<Tags>(QX_TAG_RECORDS);
    std::vector<Rohwerte> roh = std::vector<Rohwerte>(QX_ROH_RECORDS);
    std::vector<TagsInternal> internal = std::vector<TagsInternal>(QX_TAG_RECORDS);
    std::vector<int32_t> alarms = std::vector<int32_t>(QX_N_TAG, 0);
    int32_t alarm_count = 0;

    Tables() {
        std::memset(tags.data(), 0xFF, tags.size() * sizeof(Tags));
        for (Tags& t : tags) {
            t.Fkt = 0;
            std::memset(t.Arch, 0, sizeof t.Arch);
        }
        std::memset(roh.data(), 0xFF, roh.size() * sizeof(Rohwerte));
        std::memset(internal.data(), 0, internal.size() * sizeof(TagsInternal));
        sys.takt = 5;
        sys.inter = 180;
        sys.n_tag = QX_N_TAG;
        sys.n_roh = QX_N_ROH;
        sys.roh_skal = 1.0;
    }

    // A configured tag: in service, keeping its value on fault, all parameters
    // and references 0, Ist 777 and Status 5 (so "unchanged" is visible).
    Tags& Configure(int i, int fkt) {
        Tags& t = tags[static_cast<size_t>(i)];
        t.Fkt = fkt;
        t.Status = 5;
        t.Ist = 777.0;
        t.Anz = 0.0;
        t.Summe = calc::kNan;
        t.Mittel = calc::kNan;
        std::memset(t.Arch, 0, sizeof t.Arch);
        std::memset(t.Zeiger, 0, sizeof t.Zeiger);
        std::memset(t.HByte, 0, sizeof t.HByte);
        std::memset(t.Hint, 0, sizeof t.Hint);
        for (double& h : t.Hdouble) h = 0.0;
        std::memset(t.HLog, 1, sizeof t.HLog);
        return t;
    }

    // A tag that no function touches, holding a fixed value and status.
    Tags& Value(int i, double value, uint32_t status = 0) {
        Tags& t = Configure(i, 999);
        t.Ist = value;
        t.Status = status;
        return t;
    }

    Rohwerte& Raw(int r, double value, uint32_t status = 0) {
        Rohwerte& raw = roh[static_cast<size_t>(r)];
        raw.Ist = value;
        raw.Status = status;
        raw.ValidUntil = QX_VALID_FOREVER;
        return raw;
    }

    void Cycle(int32_t sec_of_day = 0, double now = kDay) {
        VelmoTakt(sec_of_day, &sys, tags.data(), roh.data(), &alarm_count, alarms.data(), now);
    }

    Tags& operator[](int i) { return tags[static_cast<size_t>(i)]; }
};

// NaN equals NaN; otherwise equal within a relative 1e-12.
inline ::testing::AssertionResult SameValue(double expected, double actual) {
    if (std::isnan(expected) && std::isnan(actual)) return ::testing::AssertionSuccess();
    if (expected == actual) return ::testing::AssertionSuccess();
    if (std::isfinite(expected) && std::fabs(expected - actual) <= 1e-12 * std::fmax(1.0, std::fabs(expected)))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected " << expected << ", got " << actual;
}

// Records what the core hands to the log and to the archive writers.
struct Recorder {
    struct Sent {
        int kind;  // 1..4 as the archive message types
        std::vector<int32_t> tags;
        std::vector<double> values;
        std::vector<uint32_t> status;
        double time;
    };
    struct Logged {
        int severity;
        std::string text;
    };
    std::vector<Sent> sent;
    std::vector<Logged> logged;
    int result = 0;  // what the writers return
    TagsInternal* internal = nullptr;

    static Recorder*& Active() {
        static Recorder* active = nullptr;
        return active;
    }
    static int Values(int kind, int n, const int32_t* t, const double* v, double time) {
        Recorder& r = *Active();
        r.sent.push_back({kind, std::vector<int32_t>(t, t + n), std::vector<double>(v, v + n), {}, time});
        return r.result;
    }
    static int Status(int kind, int n, const int32_t* t, const uint32_t* s, double time) {
        Recorder& r = *Active();
        r.sent.push_back({kind, std::vector<int32_t>(t, t + n), {}, std::vector<uint32_t>(s, s + n), time});
        return r.result;
    }

    explicit Recorder(TagsInternal* trend = nullptr) : internal(trend) {
        Active() = this;
        calc::ResetArchiveLogPacing();
        calc::CoreIo& io = calc::core_io();
        io.write_archiv = [](int n, const VelmoSystem*, const int32_t* t, const double* v, double time) {
            return Values(1, n, t, v, time);
        };
        io.write_archiv_status = [](int n, const VelmoSystem*, const int32_t* t, const uint32_t* s, double time) {
            return Status(2, n, t, s, time);
        };
        io.write_detail = [](int n, const VelmoSystem*, const int32_t* t, const double* v, double time) {
            return Values(3, n, t, v, time);
        };
        io.write_detail_status = [](int n, const VelmoSystem*, const int32_t* t, const uint32_t* s, double time) {
            return Status(4, n, t, s, time);
        };
        io.log = [](int severity, int, const char* text) { Active()->logged.push_back({severity, text}); };
        io.tags_internal = []() { return Active()->internal; };
        io.load_time_zone = nullptr;
    }
    ~Recorder() {
        calc::ResetCoreIo();
        Active() = nullptr;
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Logged& l : logged) texts.push_back(l.text);
        return texts;
    }
};

}  // namespace calc_test
