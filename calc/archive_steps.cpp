// The steps that leave the cycle: minute trend, interval and detail archive,
// daily values.
#include <array>
#include <cstring>

#include "core_io.hpp"
#include "formula_engine.hpp"
#include "kern.hpp"
#include "values.hpp"

namespace calc {
namespace {

bool Archivable(const Tags& t) { return t.Fkt != 0 && t.Fkt != 2; }

// Counters with their own period (Hint[9]) are archived only at that period.
bool CounterDue(const Tags& t, int32_t sec_of_day) {
    if (t.Fkt != 7 || t.Hint[9] <= 0) return true;
    return sec_of_day % t.Hint[9] == 0;
}

struct Selection {
    bool value;
    bool status;
    double sent;
};

Selection SelectInterval(const Tags& t, int32_t sec_of_day) {
    if (!Archivable(t) || !CounterDue(t, sec_of_day)) return {false, false, 0.0};
    const bool value = t.Arch[ARCH_INTERVAL] != 0 || t.Arch[ARCH_INTERVAL_IST] != 0;
    const bool status = t.Arch[ARCH_INTERVAL] == ARCH_WITH_STATUS || t.Arch[ARCH_INTERVAL_IST] == ARCH_WITH_STATUS;
    return {value, status, t.Arch[ARCH_INTERVAL_IST] != 0 ? t.Ist : t.Mittel};
}

Selection SelectDetail(const Tags& t, int32_t) {
    if (!Archivable(t)) return {false, false, 0.0};
    return {t.Arch[ARCH_DETAIL] != 0, t.Arch[ARCH_DETAIL] == ARCH_WITH_STATUS, t.Ist};
}

// A success message of each kind at most every 48 seconds (1/1800 day); a
// failure is always reported.
struct LogPacing {
    double last = 0.0;
    void Report(int result, const char* what, double now) {
        if (result < 0) {
            LogMessage(kLogError, 0, "%s: %04X", what, static_cast<unsigned>(-result));
            return;
        }
        // Compared in whole seconds: day fractions of 48 s do not add up exactly.
        // A clock set back starts the pacing anew instead of silencing the
        // messages until it has caught up.
        if (now >= last && (now - last) * 86400.0 + 1e-3 < 48.0) return;
        LogMessage(kLogOk, 0, "%s: %04X", what, static_cast<unsigned>(result));
        last = now;
    }
};

LogPacing g_archiv_values, g_archiv_status, g_detail_values, g_detail_status;

// One write step's tables.  Fixed size: a step never allocates and never fails
// for want of memory.
struct StepBuffers {
    std::array<int32_t, QX_TAG_RECORDS> value_tags;
    std::array<double, QX_TAG_RECORDS> values;
    std::array<int32_t, QX_TAG_RECORDS> status_tags;
    std::array<uint32_t, QX_TAG_RECORDS> status;
};

struct WriteStep {
    Selection (*select)(const Tags&, int32_t);
    CoreIo::ValueWriter write_values;
    CoreIo::StatusWriter write_status;
    const char* values_text;
    const char* status_text;
    LogPacing* values_log;
    LogPacing* status_log;
    bool remember_sent;  // keep time and value of each sent tag in TagsInternal.Aux
};

void RunWriteStep(const WriteStep& step, int32_t sec_of_day, VelmoSystem* sys, Tags* tags, double now) {
    if (sys == nullptr || tags == nullptr) return;
    static StepBuffers buffers;
    int n = 0, m = 0;
    const int n_tag = TagLimit(sys);
    for (int i = 0; i <= n_tag; ++i) {
        const Selection s = step.select(tags[i], sec_of_day);
        if (s.value) {
            buffers.value_tags[static_cast<size_t>(n)] = i;
            buffers.values[static_cast<size_t>(n)] = s.sent;
            ++n;
        }
        if (s.status) {
            buffers.status_tags[static_cast<size_t>(m)] = i;
            buffers.status[static_cast<size_t>(m)] = tags[i].Status;
            ++m;
        }
    }
    if (n == 0) return;

    const int r = step.write_values != nullptr
                      ? step.write_values(n, sys, buffers.value_tags.data(), buffers.values.data(), now)
                      : -1;
    step.values_log->Report(r, step.values_text, now);
    if (r >= 0 && step.remember_sent) {
        TagsInternal* internal = core_io().tags_internal != nullptr ? core_io().tags_internal() : nullptr;
        if (internal != nullptr) {
            for (int k = 0; k < n; ++k) {
                TagsInternal& rec = internal[buffers.value_tags[static_cast<size_t>(k)]];
                rec.Aux[0] = now;
                rec.Aux[1] = buffers.values[static_cast<size_t>(k)];
            }
        }
    }

    const int rs = step.write_status != nullptr
                       ? step.write_status(m, sys, buffers.status_tags.data(), buffers.status.data(), now)
                       : -1;
    step.status_log->Report(rs, step.status_text, now);
}

TagsInternal* TrendStore() { return core_io().tags_internal != nullptr ? core_io().tags_internal() : nullptr; }

}  // namespace

void ResetArchiveLogPacing() {
    g_archiv_values = g_archiv_status = g_detail_values = g_detail_status = LogPacing{};
}

int CountDailyValues(const VelmoSystem* sys, const Tags* tags) {
    if (sys == nullptr || tags == nullptr) return 0;
    int count = 0;
    const int n_tag = TagLimit(sys);
    for (int i = 0; i <= n_tag; ++i)
        if (tags[i].Arch[ARCH_DAILY] != 0 && Archivable(tags[i])) ++count;
    return count;
}

}  // namespace calc

void VelmoTrend(int32_t secOfDay, VelmoSystem* sys, Tags* tags, Rohwerte*) {
    TagsInternal* internal = calc::TrendStore();
    if (internal == nullptr || sys == nullptr || tags == nullptr) return;
    if (secOfDay < 0 || secOfDay >= 86400) return;  // no minute to file it under
    const int minute = secOfDay / 60 - (secOfDay / 3600) * 60;
    const int n_tag = calc::TagLimit(sys);
    for (int i = 0; i <= n_tag; ++i) internal[i].Trend[minute] = tags[i].Ist;
}

void DelVelmoTrend(VelmoSystem* sys) {
    TagsInternal* internal = calc::TrendStore();
    if (internal == nullptr) return;
    const int n_tag = calc::TagLimit(sys);
    for (int i = 0; i <= n_tag; ++i) std::memset(internal[i].Trend, 0xFF, sizeof internal[i].Trend);
}

void VelmoArchiv(int32_t secOfDay, VelmoSystem* sys, Tags* tags, Rohwerte*, double now) {
    using namespace calc;
    const WriteStep step{SelectInterval,    core_io().write_archiv, core_io().write_archiv_status,
                         "WriteArchiv",     "WriteArchivStatus",    &g_archiv_values,
                         &g_archiv_status,  true};
    RunWriteStep(step, secOfDay, sys, tags, now);
}

void VelmoDetail(VelmoSystem* sys, Tags* tags, Rohwerte*, double now) {
    using namespace calc;
    const WriteStep step{SelectDetail,     core_io().write_detail, core_io().write_detail_status,
                         "WriteDetail",    "WriteDetailStatus",    &g_detail_values,
                         &g_detail_status, false};
    RunWriteStep(step, 0, sys, tags, now);
}

void VelmoTagesWerte(VelmoSystem* sys, Tags* tags, Rohwerte*, double) {
    // There is no daily archive: the selection is made and nothing is kept.
    calc::CountDailyValues(sys, tags);
}

void VelmoIntervall() {}
