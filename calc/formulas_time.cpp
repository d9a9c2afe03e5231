// Time, period and archive formulas.
//
// Local now is the core's pass time (zeit_kern, UTC) turned local with the
// process's zone rule; the system clock comes through clock.hpp and the
// archive through archive_source.hpp, so every formula here can be run on a
// clock and an archive of a test's choosing.
#include "formulas_time.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "archive_source.hpp"
#include "clock.hpp"
#include "core_io.hpp"
#include "formula_families.hpp"
#include "formulas_text_fields.hpp"
#include "qx.h"
#include "values.hpp"

namespace calc {
namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kEpochJul = 25569.0;  // 1970-01-01 as a Jul time
constexpr double k1980Jul = 29221.0;   // 1980-01-01

bool Number(double v) { return !IsMissing(v); }
bool NonZeroNumber(double v) { return Number(v) && v != 0.0; }

int Inter(const VelmoSystem* sys) { return sys != nullptr ? sys->inter : 0; }

double* Params(FormulaCall& call) { return call.hd != nullptr ? call.hd : call.tag->Hdouble; }

// Local now: the pass time in local time, whole seconds; *dst is 1 in
// daylight time.
double LocalNow(const VelmoSystem* sys, int* dst = nullptr) {
    const double utc = sys != nullptr ? sys->zeit_kern : kNan;
    return TrimTime(1, UTCToLocalTime(KWZ_TimeZone, dst, utc));
}

time_velmo Broken(double jul) {
    time_velmo tv{};
    JulToTime(jul, &tv);
    return tv;
}

int SecondOfDay(const time_velmo& tv) { return tv.hour * 3600 + tv.min * 60 + tv.sec; }

// The cycle's second of the day on the day of the system clock, or of the day
// before when the clock has already passed midnight; UTC days.
double CycleTime(int sec_of_day) {
    const std::time_t now = EpochNow();
    std::tm utc{};
    gmtime_r(&now, &utc);
    const long long seconds = static_cast<long long>(now);
    long long day = seconds / 86400;
    if (seconds % 86400 < 0) --day;
    if (utc.tm_hour * 3600 + utc.tm_min * 60 + utc.tm_sec < sec_of_day) --day;
    return kEpochJul + static_cast<double>(day) + sec_of_day / kSecondsPerDay;
}

// ---- 110, 111, 113: clock values -------------------------------------------

double SecondOfDayValue(FormulaCall& call) {
    const double* h = Params(call);
    *call.status = 0;
    if (NonZeroNumber(h[0])) return SecondOfDay(Broken(LocalNow(call.sys)));
    return call.sec_of_day;
}

double SecondOfDayFormula(FormulaCall& call) { return SecondOfDayValue(call); }

double SecondOfDayWithName(FormulaCall& call) {
    const double result = SecondOfDayValue(call);
    const double* h = Params(call);
    if (NonZeroNumber(h[0]) && Number(h[1])) {
        const time_velmo tv = Broken(LocalNow(call.sys));
        char* name = call.tag->Bez;
        std::memset(name, 0, sizeof call.tag->Bez);
        if (h[1] == 0.0)
            std::snprintf(name, sizeof call.tag->Bez, "%2.2d.%2.2d.%4.4d", tv.day, tv.month, tv.year);
        else
            std::snprintf(name, sizeof call.tag->Bez, "%2.2d:%2.2d:%2.2d", tv.hour, tv.min, tv.sec);
    }
    return result;
}

double EpochSeconds(FormulaCall& call) {
    const double result = static_cast<double>(EpochNow());
    *call.status = 0;
    LogMessage(kLogInfo, 0, "ret =%g", result);
    return result;
}

// ---- 101: raw minutes since 1980 --------------------------------------------

double RawMinutesTime(FormulaCall& call) {
    const double* h = Params(call);
    Tags& tag = *call.tag;
    if (!Number(h[0])) {
        *call.status |= ST_CONFIG;
        return tag.Ist;
    }
    const long n = RefFromDouble(h[0]);
    double t = k1980Jul;
    if (ValidRohRef(call.sys, n) && Number(call.roh[n].Ist)) {
        // The raw value counts minutes in 0..2^32-1; its fraction is dropped.
        const double raw = std::clamp(call.roh[n].Ist, 0.0, 4294967295.0);
        t = static_cast<double>(static_cast<uint32_t>(raw)) / 1440.0 + k1980Jul;
        *call.status |= call.roh[n].Status;
    }
    if (NonZeroNumber(h[1])) {
        const time_velmo tv = Broken(t);
        char text[kTextBytes + 1];
        std::snprintf(text, sizeof text, "%4.4d.%2.2d.%2.2d %2.2d:%2.2d:%2.2d", tv.year, tv.month, tv.day, tv.hour,
                      tv.min, tv.sec);
        SetText(tag, text);
    }
    return t;
}

// ---- 115, 116: looking back into the interval archive -----------------------

// A source the archive formulas may read: archived and computed.
bool ArchivedSource(const Tags& z) { return (z.Arch[0] != 0 || z.Arch[2] != 0) && z.Fkt != 0 && z.Fkt != 2; }

// Both archive formulas start without a value and with a clear status.
double* BeginArchiveFormula(FormulaCall& call) {
    *call.status = 0;
    call.tag->Status = 0;
    return Params(call);
}

// 115: increase of the source over the last H0 seconds; the archive slot of
// then is read once and kept in H6 (slot) and H7 (value).
double IncreaseOverSpan(FormulaCall& call) {
    double* h = BeginArchiveFormula(call);
    Tags& tag = *call.tag;
    double result = kNan;
    const int32_t z = tag.Zeiger[0];
    if (NonZeroNumber(h[0]) && ValidTagRef(call.sys, z) && ArchivedSource(call.tags[z])) {
        const double x = call.tags[z].Ist;
        if (!Number(x)) {
            *call.status |= ST_CONFIG;
        } else {
            const int inter = Inter(call.sys);
            const double t0 = TrimTime(inter, CycleTime(call.sec_of_day) - h[0] / kSecondsPerDay);
            if (h[6] != t0) {
                const ArchiveColumn column(call.sys, call.tags, z, t0, t0);
                if (column.rows() >= 1) {
                    h[7] = column[0];
                } else {
                    h[7] = kNan;
                    *call.status |= ST_NOARCHIVE;
                }
                h[6] = t0;
            }
            if (h[6] == t0) {
                if (!Number(h[7])) h[7] = 0.0;
                result = x - h[7];
            }
        }
    }
    tag.Ist = result;
    return result;
}

// 116: mean of the source over the last H0 seconds (at most a day): the
// archived slots between then and now plus the current value, read once per
// slot.
double MeanOverSpan(FormulaCall& call) {
    double* h = BeginArchiveFormula(call);
    Tags& tag = *call.tag;
    double result = kNan;
    const int32_t z = tag.Zeiger[0];
    if (Number(h[0]) && h[0] > 0.0 && h[0] <= kSecondsPerDay) {
        if (!ValidTagRef(call.sys, z)) {
            *call.status |= ST_CONFIG;
        } else if (ArchivedSource(call.tags[z])) {
            const int inter = Inter(call.sys);
            const double cycle = CycleTime(call.sec_of_day);
            const double t0 = TrimTime(inter, cycle - h[0] / kSecondsPerDay);
            if (h[6] != t0) {
                const double interval = inter / kSecondsPerDay;
                const double from = t0 + interval, to = cycle - interval;
                if (Number(h[1])) {
                    const time_velmo a = Broken(from), b = Broken(to);
                    char text[kTextBytes + 1];
                    std::snprintf(text, sizeof text, "%2.2d:%2.2d:%2.2d  %2.2d:%2.2d:%2.2d", a.hour, a.min, a.sec,
                                  b.hour, b.min, b.sec);
                    SetText(tag, text);
                }
                double sum = 0.0;
                int count = 0;
                const ArchiveColumn column(call.sys, call.tags, z, from, to);
                for (int32_t r = 0; r < column.rows(); ++r) {
                    if (Number(column[r])) {
                        sum += column[r];
                        ++count;
                    }
                }
                if (column.rows() == 0) *call.status |= ST_NOARCHIVE;
                if (Number(call.tags[z].Ist)) {
                    sum += call.tags[z].Ist;
                    ++count;
                }
                h[5] = count;
                h[6] = t0;
                h[7] = count >= 1 ? sum / count : kNan;
            }
            if (h[6] == t0) result = h[7];
        }
    } else {
        *call.status |= ST_CONFIG;
    }
    tag.Ist = result;
    return result;
}

// ---- 112: aggregate over a calendar period -----------------------------------

enum AggregateKind { kQuotient = 1, kMean = 2, kMinimum = 3, kMaximum = 4 };

// Start and end (local Jul times) of the period that holds s.
void PeriodBounds(int unit, double length, double s, Tags& tag, double& start, double& end) {
    time_velmo tv = Broken(s);
    switch (unit) {
        case 5:
            tv.month = 1;
            [[fallthrough]];
        case 4:
            tv.day = 1;
            [[fallthrough]];
        case 3: {
            tv.hour = tv.min = tv.sec = 0;
            start = TimeToJul(tv);
            const char* step = unit == 5 ? "yyyy" : unit == 4 ? "m" : "d";
            end = DateAdd(step, IntOf(length), start);
            return;
        }
        case 1:
        case 2: {
            const int span = IntOf(length * (unit == 1 ? 60.0 : 3600.0));
            tag.Hint[3] = span;
            const long long since_midnight = tv.hour * 3600LL + tv.min * 60LL;
            const long long aligned = span != 0 ? since_midnight / span * span : 0;
            tv.hour = static_cast<int32_t>(aligned / 3600);
            tv.min = static_cast<int32_t>(aligned % 3600 / 60);
            tv.sec = 0;
            start = TimeToJul(tv);
            end = DateAdd("s", span, start);
            return;
        }
        default:
            tag.Hint[3] = IntOf(length);
            start = s;
            end = DateAdd("s", tag.Hint[3], start);
            return;
    }
}

double PeriodAggregate(FormulaCall& call) {
    double* h = Params(call);
    Tags& tag = *call.tag;
    const VelmoSystem* sys = call.sys;
    const int inter = Inter(sys);
    int dst = 0;
    const double now = LocalNow(sys, &dst);
    const ArchiveSource& archive = archive_source();
    const double A = archive.time_last_archiv != nullptr ? archive.time_last_archiv() : kNan;
    *call.status = 0;

    if (!Number(h[0])) h[0] = 0.0;
    if (!Number(h[1])) h[1] = 0.0;
    if (!Number(h[2])) h[2] = inter;
    if (!Number(h[4])) h[4] = -1.0;

    const auto value_of = [&](int32_t ref) { return ValidTagRef(sys, ref) ? call.tags[ref].Ist : kNan; };
    const double divisor = value_of(tag.Zeiger[1]);
    const double text_switch = value_of(tag.Zeiger[2]);

    const int32_t source = tag.Zeiger[0];
    if (!ValidTagRef(sys, source) || IntOf(h[4]) == -1) {
        tag.Ist = kNan;
        tag.Status = ST_CONFIG;
        *call.status = ST_CONFIG;
        return kNan;
    }
    const int kind = IntOf(h[0]);

    if (IntOf(h[4]) == 0) {
        h[5] = kNan;
        if (kind == kQuotient || kind == kMean) tag.Hint[2] = 0;
        if (kind == kMinimum) h[5] = kMax;
        if (kind == kMaximum) h[5] = -kMax;
        tag.Hint[4] = 0;
        double start = kNan, end = kNan;
        PeriodBounds(IntOf(h[1]), h[2], TrimTime(inter, now), tag, start, end);
        h[6] = TrimTime(inter, start);
        h[7] = TrimTime(inter, end);
        h[3] = TrimTime(inter, A);  // on the slot grid, as the times it is compared with
        h[4] = 1.0;
        tag.Hint[4] = dst;
    }

    // The newest archived value of the source and its time, kept by the
    // core's interval archive step.
    TagsInternal* internal = core_io().tags_internal != nullptr ? core_io().tags_internal() : nullptr;
    const double aux_time = internal != nullptr ? internal[source].Aux[0] : kNan;
    const double aux_value = internal != nullptr ? internal[source].Aux[1] : kNan;
    // Compared on the slot grid: the time is taken in once per archived slot,
    // whatever rounding the writer's time carries.
    const double aux_slot = TrimTime(inter, aux_time);

    if (Number(aux_value) && Number(A) && Number(aux_time) && h[3] != aux_slot) {
        switch (kind) {
            case kMaximum:
                if (!Number(h[5])) h[5] = -kMax;
                if (h[5] < aux_value) h[5] = aux_value;
                break;
            case kMinimum:
                if (!Number(h[5])) h[5] = kMax;
                if (h[5] > aux_value) h[5] = aux_value;
                break;
            case kQuotient:
                if (!Number(h[5])) h[5] = 0.0;
                h[5] += aux_value;
                break;
            case kMean:
                if (tag.Hint[2] < std::numeric_limits<int32_t>::max()) ++tag.Hint[2];
                if (!Number(h[5])) h[5] = 0.0;
                h[5] += aux_value;
                break;
            default:
                h[5] = aux_value;
                break;
        }
        h[3] = aux_slot;
    }

    if (Number(aux_time) && TrimTime(inter, QXTimeToUTC(h[7])) == aux_slot) {
        double value = h[5];
        if (Number(value)) {
            if (kind == kQuotient && NonZeroNumber(divisor)) value /= divisor;
            if (kind == kMean && tag.Hint[2] >= 1) value /= tag.Hint[2];
        }
        // A minimum or maximum that took nothing in has no value, rather
        // than the largest double.
        if ((kind == kMinimum || kind == kMaximum) && std::fabs(value) == kMax) value = kNan;
        h[5] = value;
        tag.Ist = value;
        h[4] = 0.0;
    }

    if (Number(A)) {
        if (IntOf(h[4]) == 1 && !Number(h[3])) h[3] = TrimTime(inter, A);
        if (TrimTime(1, UTCToLocalTime(KWZ_TimeZone, nullptr, A)) > h[7]) h[4] = 0.0;
    }

    const double result = tag.Ist;
    *call.status |= tag.Status;
    if (NonZeroNumber(text_switch)) {
        const time_velmo a = Broken(h[6]), b = Broken(h[7]);
        char text[128];
        std::snprintf(text, sizeof text,
                      "Start %4.4d.%2.2d.%2.2d %2.2d:%2.2d:%2.2d, Ende %4.4d.%2.2d.%2.2d %2.2d:%2.2d:%2.2d", a.year,
                      a.month, a.day, a.hour, a.min, a.sec, b.year, b.month, b.day, b.hour, b.min, b.sec);
        SetText(tag, text);
    }
    return result;
}

// ---- 201: measuring schedule -----------------------------------------------

void SetPhaseText(Tags& tag, const char* phase) {
    char text[kTextBytes + 1];
    std::snprintf(text, sizeof text, "%-64s", phase);
    std::memcpy(tag.Text, text, kTextBytes);
}

double Fraction(double jul) { return jul - std::trunc(jul); }

double MeasuringSchedule(FormulaCall& call) {
    double* h = Params(call);
    Tags& tag = *call.tag;
    const VelmoSystem* sys = call.sys;
    const int inter = Inter(sys);
    uint32_t status = 0;
    double warm = 2.0 * inter / kSecondsPerDay, off = 2.0 * inter / kSecondsPerDay, half = inter / kSecondsPerDay;
    double result = kNan, measured = kNan;

    const auto duration = [&](int32_t ref, double& days) {
        if (!ValidTagRef(sys, ref)) {
            status |= ST_CONFIG;
            return;
        }
        const double seconds = call.tags[ref].Ist;
        if (Number(seconds) && seconds > 0.0) days = seconds / kSecondsPerDay;
    };
    duration(tag.Zeiger[0], warm);
    duration(tag.Zeiger[1], off);
    if (IntOf(h[2]) >= 1) half = IntOf(h[2]) * static_cast<double>(inter) / kSecondsPerDay;
    h[6] = half;

    // The measuring times; those that are no number go last and take no part.
    double times[24];
    int count = 0;
    const long first = IntOf(h[0]);
    if (first >= 1) {
        for (long k = 0; k < 24; ++k) {
            const long t = first + k;
            const double seconds = ValidTagRef(sys, t) ? call.tags[t].Ist : kNan;
            if (Number(seconds)) times[count++] = seconds / kSecondsPerDay;
        }
        std::qsort(times, static_cast<size_t>(count), sizeof times[0], CompareZeiten);
    }

    const long out = RefFromDouble(h[1]);
    if (!ValidRohRefInclusive(sys, out)) {
        status |= ST_CONFIG;
    } else {
        Rohwerte& device = call.roh[out];
        const double now = LocalNow(sys);
        result = now;
        for (int k = 0; k < count; ++k) {
            const double t = times[k];
            double ws = TimeValue(now, t - (warm + half));
            double oe = TimeValue(now, t + (off + half));
            double ms = TimeValue(now, t - half);
            double me = TimeValue(now, t + half);
            if (std::trunc(ws) != std::trunc(oe) && Fraction(now) > Fraction(oe)) {
                ws += 1.0;
                oe += 1.0;
                ms += 1.0;
                me += 1.0;
            }
            if (ws <= now && now < ms && (!Number(device.Ist) || device.Ist != 1.0)) {
                device.Ist = 1.0;
                SetPhaseText(tag, "Aufwaermen");
            }
            if (me < now && now <= oe) {
                device.Ist = 0.0;
                SetPhaseText(tag, "Ausschalten");
            }
            if (ms <= now && now <= me) {
                if (ValidTagRef(sys, tag.Zeiger[2])) measured = call.tags[tag.Zeiger[2]].Ist;
                SetPhaseText(tag, "Messen");
            }
        }
        if (ValidTagRef(sys, tag.Zeiger[3])) call.tags[tag.Zeiger[3]].Ist = measured;
    }
    tag.Ist = result;
    tag.Status = status;
    *call.status = status;
    return result;
}

constexpr FormulaEntry kTimeFormulas[] = {
    {101, RawMinutesTime},   {110, SecondOfDayFormula}, {111, EpochSeconds},     {112, PeriodAggregate},
    {113, SecondOfDayWithName}, {115, IncreaseOverSpan}, {116, MeanOverSpan},    {201, MeasuringSchedule},
};

}  // namespace

std::span<const FormulaEntry> TimeFormulas() { return kTimeFormulas; }

}  // namespace calc

double TimeValue(double a, double b) { return std::trunc(a) + std::fmod(b, 1.0); }

int CompareZeiten(const void* first, const void* second) {
    double a = 0.0, b = 0.0;
    std::memcpy(&a, first, sizeof a);
    std::memcpy(&b, second, sizeof b);
    if (a < b) return -1;
    if (a > b) return 1;
    return 0;
}
