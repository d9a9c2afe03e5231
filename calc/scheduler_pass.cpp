// One pass of the core's scheduler: the due steps in their fixed order, each
// inside the cycle lock.
#include "core_io.hpp"
#include "formula_engine.hpp"
#include "kern.hpp"
#include "qx/frame.h"
#include "schedule.hpp"
#include "values.hpp"

namespace calc {
namespace {

// Holds the cycle lock for one step.
class TaktLock {
public:
    TaktLock() : handle_(GetAndWaitTaktMutex()) {}
    ~TaktLock() { ReleaseTaktMutex(handle_); }
    TaktLock(const TaktLock&) = delete;
    TaktLock& operator=(const TaktLock&) = delete;

private:
    int32_t handle_;
};

}  // namespace

int32_t SecondOfDay(int64_t t) {
    const int64_t s = t % 86400;
    return static_cast<int32_t>(s < 0 ? s + 86400 : s);
}

void FormIntervalMeans(VelmoSystem* sys, Tags* tags) {
    if (sys == nullptr || tags == nullptr) return;
    const int n_tag = TagLimit(sys);
    for (int i = 0; i <= n_tag; ++i) {
        Tags& t = tags[i];
        if (t.Fkt >= 50 && t.Fkt <= 55) continue;
        t.Mittel = t.Anz > 0.0 ? t.Summe / t.Anz : t.Ist;
        t.Summe = kNan;
        t.Anz = 0.0;
    }
}

void RunDueSteps(const DueSteps& due, int64_t t, double now, VelmoSystem* sys, Tags* tags, Rohwerte* roh,
                 int32_t* alarmCount, int32_t* alarmList) {
    const int32_t sec_of_day = SecondOfDay(t);
    if (due.cycle) {
        TaktLock lock;
        VelmoTakt(sec_of_day, sys, tags, roh, alarmCount, alarmList, now);
    }
    if (due.trend) {
        TaktLock lock;
        VelmoTrend(sec_of_day, sys, tags, roh);
    }
    if (due.detail) {
        TaktLock lock;
        VelmoDetail(sys, tags, roh, now);
    }
    if (due.archive) {
        if (due.archive_gap)
            LogMessage(kLogError, 0, "ARCHIV AUSGELASSEN: LastArchiv= %lld, AktArchiv: %lld, fehlend: %lld",
                       static_cast<long long>(due.gap_last), static_cast<long long>(due.gap_current),
                       static_cast<long long>(due.gap_missing));
        TaktLock lock;
        FormIntervalMeans(sys, tags);
        VelmoIntervall();
        VelmoArchiv(sec_of_day, sys, tags, roh, now);
        VelmoTagesWerte(sys, tags, roh, now);
    }
}

}  // namespace calc
