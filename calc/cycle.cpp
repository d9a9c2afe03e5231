// The cycle step: every tag is computed by its function number, then the
// substitute values, the interval sums and the raw-value expiry follow.
#include <cmath>
#include <cstring>

#include "formula_engine.hpp"
#include "kern.hpp"
#include "values.hpp"

namespace calc {
namespace {

// Days between 1899-12-30 and 1970-01-01.
constexpr double kEpochDays = 25569.0;

struct Input {
    bool valid;
    double value;
    uint32_t status;
};

// One cycle's context: the tables, their bounds and the cycle's clock.
struct Cycle {
    VelmoSystem* sys;
    Tags* tags;
    Rohwerte* roh;
    int n_tag;
    int n_roh;
    int32_t sec_of_day;
    uint32_t epoch;
    int32_t* alarm_count;
    int32_t* alarm_list;
    // Input values handed to the formula engine; filled for Fkt 60 and passed
    // on unchanged to Fkt 6 tags that follow in the same cycle.
    double inputs[kFormulaInputs];

    bool TagRef(int32_t number) const { return number >= 1 && number <= n_tag; }
    bool RohRef(int32_t number) const { return number >= 1 && number <= n_roh; }

    // Input k of a tag: value and status of the tag Zeiger[k] names, or
    // 0 and 0 when the reference is not valid.
    Input In(const Tags& t, int k) const {
        const int32_t ref = t.Zeiger[k];
        if (!TagRef(ref)) return {false, 0.0, 0};
        return {true, tags[ref].Ist, tags[ref].Status};
    }
};

bool Flag(const Tags& t, int n) { return t.HLog[n] != 0; }

void SetValue(Tags& t, double value, uint32_t status) {
    t.Ist = value;
    t.Status = status;
}

// Rate input per cycle: x per second, minute, hour or day (code in Hint[1])
// times the cycle period.  An unknown code counts as per second and is reset.
double PerCycle(const Cycle& c, Tags& t, double x) {
    double divisor = 1.0;
    switch (t.Hint[1]) {
        case 0: break;
        case 1: divisor = 60.0; break;
        case 2: divisor = 3600.0; break;
        case 3: divisor = 86400.0; break;
        default: t.Hint[1] = 0; break;
    }
    return x * c.sys->takt / divisor;
}

// Functions 7 and 50-55 act when their own period (Hint[9]) divides the
// second of the day.  A period of 0 or below is never due.
bool Due(const Cycle& c, const Tags& t) {
    const int32_t period = t.Hint[9];
    return period > 0 && period >= c.sys->takt && c.sec_of_day % period == 0;
}

// Functions 8 and 9 hand their value back to a raw-value slot (for a link's output).
void WriteBack(const Cycle& c, const Tags& t) {
    Rohwerte& r = c.roh[t.Hint[4]];
    r.Ist = t.Ist;
    r.Status = t.Status;
    r.WriteTime = c.epoch;
    r.ValidUntil = c.epoch + 2u * static_cast<uint32_t>(c.sys->inter);
}

// ---- Functions without computation -------------------------------------------

void Unused(Tags& t) {
    SetValue(t, kNan, 0);
    t.Summe = kNan;
    t.Anz = 0.0;
}

void ExternalValue(Tags& t) {
    // Ist belongs to another program; only the sums are kept empty.
    t.Summe = kNan;
    t.Anz = 0.0;
    t.Status = 0;
}

void TextAsValue(Tags& t) {
    std::memcpy(&t.Ist, t.Text, sizeof t.Ist);
    ExternalValue(t);
}

void Alarm(Cycle& c, int i) {
    // The list holds n_tag entries; a tag beyond that is not listed.
    if (c.alarm_count == nullptr || c.alarm_list == nullptr) return;
    if (*c.alarm_count < 0 || *c.alarm_count >= c.n_tag) return;
    c.alarm_list[*c.alarm_count] = i;
    ++*c.alarm_count;
}

void InputPresent(const Cycle& c, Tags& t) {
    if (c.TagRef(t.Zeiger[0])) SetValue(t, 0.0, 0);
    else SetValue(t, kNan, ST_NOINPUT);
}

// ---- Raw-value functions -------------------------------------------------------

// The raw value of functions 3 and 4 (Hint[0]), or null after marking the
// tag: a bad number is a configuration error, B0 = 0 switches the input off.
const Rohwerte* RawInput(const Cycle& c, Tags& t) {
    if (!c.RohRef(t.Hint[0])) {
        SetValue(t, kNan, ST_CONFIG);
        return nullptr;
    }
    if (t.HByte[0] == 0) {
        t.Status = ST_OFF;
        return nullptr;
    }
    return &c.roh[t.Hint[0]];
}

void RawCopy(const Cycle& c, Tags& t) {
    if (const Rohwerte* r = RawInput(c, t)) SetValue(t, r->Ist, r->Status);
}

void RawScaled(const Cycle& c, Tags& t) {
    const Rohwerte* raw = RawInput(c, t);
    if (raw == nullptr) return;
    const Rohwerte& r = *raw;
    const double x = r.Ist;
    t.Status = r.Status;
    const double* h = t.Hdouble;
    const double in_lo = IsMissing(h[1]) ? 0.0 : h[1];
    const double in_hi = (IsMissing(h[4]) || h[4] == 0.0) ? c.sys->roh_skal : h[4];
    const double out_lo = IsMissing(h[2]) ? -kMax : h[2];
    const double out_hi = IsMissing(h[3]) ? kMax : h[3];
    if (IsMissing(x)) {
        t.Ist = x;
    } else if (in_hi == in_lo) {
        t.Ist = kNan;
        t.Status |= ST_CONFIG;
    } else {
        t.Ist = (x - in_lo) / (in_hi - in_lo) * (out_hi - out_lo) + out_lo;
    }
}

void Counter(const Cycle& c, Tags& t) {
    int32_t* hi = t.Hint;
    double* h = t.Hdouble;
    if (!c.RohRef(hi[0]) || hi[9] < c.sys->takt) {
        hi[7] = 0;
        return SetValue(t, kNan, ST_CONFIG);
    }
    const Rohwerte& r = c.roh[hi[0]];
    const double reading = r.Ist;  // read once: a link may write it meanwhile
    t.Status = r.Status;
    if (!Flag(t, HLOG_INPUT_ENABLED)) {
        t.Status = ST_OFF;
        return;
    }
    const bool restart_on_fault = Flag(t, 41);
    if (t.Status != 0 && restart_on_fault) {
        t.Status |= ST_START;
        hi[7] = 0;
        return;
    }
    if (!Due(c, t)) return;
    if (hi[7] > 0 || !restart_on_fault) {
        hi[7] = 2;
        h[5] = h[4];
        h[4] = reading;
        h[6] = h[4] - h[5];
        if (h[6] < 0) {
            h[6] += h[2];  // the counter wrapped: add its modulus
            t.Status |= ST_IRREGULAR;
        }
        if (h[6] >= 0) {
            double rate = h[6] * h[1] / hi[9];
            switch (hi[8]) {
                case 0: break;
                case 1: rate *= 60.0; break;
                case 2: rate *= 3600.0; break;
                case 3: rate *= 86400.0; break;
                default: hi[8] = 0; break;
            }
            t.Ist = rate;
        }
    }
    if (hi[7] < 1) {
        h[4] = reading;
        hi[7] = 1;
        t.Status |= ST_START;
    }
}

void ScaledWithWriteBack(const Cycle& c, Tags& t) {
    if (!c.TagRef(t.Zeiger[0])) {
        SetValue(t, kNan, ST_CONFIG);
    } else if (!Flag(t, HLOG_INPUT_ENABLED)) {
        t.Status = ST_OFF;
    } else {
        const Input in = c.In(t, 0);
        const double* h = t.Hdouble;
        const double in_lo = IsMissing(h[0]) ? 0.0 : h[0];
        const double in_hi = IsMissing(h[1]) ? 0.0 : h[1];
        const double out_lo = IsMissing(h[2]) ? -kMax : h[2];
        const double out_hi = IsMissing(h[3]) ? kMax : h[3];
        const double x = in.value;
        if (IsMissing(x)) t.Ist = x;
        else if (x < in_lo) t.Ist = out_lo;
        else if (in_hi == in_lo) t.Ist = kNan;
        else t.Ist = (x - in_lo) / (in_hi - in_lo) * (out_hi - out_lo) + out_lo;
        t.Status = in.status;
    }
    if (c.RohRef(t.Hint[4])) WriteBack(c, t);
    else t.Status |= ST_CONFIG;
}

void GatedIntegrator(const Cycle& c, Tags& t) {
    if (!c.TagRef(t.Zeiger[0])) {
        SetValue(t, kNan, ST_CONFIG);
    } else if (!Flag(t, HLOG_INPUT_ENABLED)) {
        t.Status = ST_OFF;
    } else {
        const Input x = c.In(t, 0);
        const Input y = c.TagRef(t.Zeiger[1]) ? c.In(t, 1) : x;
        const double gate = c.TagRef(t.Zeiger[2]) ? c.In(t, 2).value : 1.0;
        if (gate >= 1.0) {
            t.Status = x.status;
            t.Ist += PerCycle(c, t, x.value);
        } else {
            SetValue(t, y.value, y.status | ST_BYPASS);
        }
        const double lo = IsMissing(t.Hdouble[2]) ? -kMax : t.Hdouble[2];
        const double hi = IsMissing(t.Hdouble[3]) ? kMax : t.Hdouble[3];
        if (lo < hi) {
            if (t.Ist < lo) t.Ist = lo;
            if (t.Ist > hi) t.Ist = hi;
        } else {
            t.Status |= ST_CONFIG;
        }
    }
    if (c.RohRef(t.Hint[4])) WriteBack(c, t);
    else if (t.Hint[4] > c.n_roh) t.Status |= ST_CONFIG;
}

// ---- Arithmetic functions ------------------------------------------------------

void Copy(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0);
    if (a.valid) SetValue(t, a.value, a.status);
}

// 11 and 12: a valid input that is NaN makes the result a configuration error.
void SumOrDifference(const Cycle& c, Tags& t, double sign) {
    const Input a = c.In(t, 0), b = c.In(t, 1), d = c.In(t, 2);
    if ((a.valid && IsMissing(a.value)) || (b.valid && IsMissing(b.value)) || (d.valid && IsMissing(d.value)))
        return SetValue(t, kNan, ST_CONFIG);
    SetValue(t, a.value + sign * b.value + sign * d.value, a.status | b.status | d.status);
}

void Quotient(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0), b = c.In(t, 1);
    if (b.value == 0.0) return SetValue(t, a.value, a.status | ST_DIVZERO);
    SetValue(t, IsMissing(b.value) ? kNan : a.value / b.value, a.status | b.status);
}

void Reciprocal(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0);
    if (!a.valid) return SetValue(t, 0.0, 0);
    if (a.value != 0.0) SetValue(t, 1.0 / a.value, a.status);
}

double UnaryFunction(int fkt, double x) {
    switch (fkt) {
        case 16: return -x;
        case 17: return std::fabs(x);
        case 18: return x * x;
        case 19: return std::sqrt(x);
        case 22: return std::log10(x);
        case 23: return std::log(x);
        case 24: return std::pow(10.0, x);
        case 25: return std::exp(x);
        case 26: return std::sin(x);
        case 27: return std::cos(x);
        case 28: return std::tan(x);
        case 29: return std::asin(x);
        case 30: return std::acos(x);
        default: return std::atan(x);
    }
}

void Unary(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0);
    if (!a.valid) return SetValue(t, 0.0, 0);
    SetValue(t, UnaryFunction(t.Fkt, a.value), a.status);
}

void Binary(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0), b = c.In(t, 1);
    double v;
    if (t.Fkt == 20) v = std::pow(a.value, b.value);
    else if (t.Fkt == 21) v = std::pow(a.value, 1.0 / b.value);
    else v = std::fmod(a.value, b.value);
    SetValue(t, v, a.status | b.status);
}

// 33 and 34: the larger or smaller input, NaN-free where possible.
void Extremum(const Cycle& c, Tags& t, bool maximum) {
    Input a = c.In(t, 0), b = c.In(t, 1);
    if (!a.valid) a.value = kNan;
    if (!b.valid) b.value = kNan;
    const Input* taken;
    if (IsMissing(b.value)) taken = &a;
    else if (IsMissing(a.value)) taken = &b;
    else if (maximum) taken = a.value > b.value ? &a : &b;
    else taken = a.value < b.value ? &a : &b;
    SetValue(t, taken->value, taken->status);
}

void Percentage(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0), b = c.In(t, 1), d = c.In(t, 2);
    const double top = b.valid ? b.value : t.Hdouble[0];
    const double bottom = d.valid ? d.value : t.Hdouble[1];
    SetValue(t, (a.value - bottom) * 100.0 / (top - bottom), a.status | b.status | d.status);
}

void Mean3(const Cycle& c, Tags& t) {
    double sum = 0.0;
    int count = 0;
    uint32_t status = 0;
    for (int k = 0; k < 3; ++k) {
        const Input in = c.In(t, k);
        if (!in.valid) continue;
        status |= in.status;
        if (IsMissing(in.value)) continue;
        sum += in.value;
        ++count;
    }
    if (count == 0) return SetValue(t, kNan, 0);
    SetValue(t, sum / count, status);
}

void Polynomial(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0);
    if (!a.valid) return SetValue(t, 0.0, 0);
    const double* h = t.Hdouble;
    const double x = a.value;
    SetValue(t, (((h[4] * x + h[3]) * x + h[2]) * x + h[1]) * x + h[0], a.status);
}

void AllInputsPresent(const Cycle& c, Tags& t) {
    double v = kNan;
    uint32_t status = ST_NONE;
    const Input a = c.In(t, 0);
    if (a.valid) {
        status = a.status;
        v = a.value;
    }
    if (!IsMissing(v)) {
        for (int k = 1; k < 5; ++k) {
            const Input in = c.In(t, k);
            if (in.valid && IsMissing(in.value)) v = kNan;
        }
    }
    SetValue(t, v, status);
}

// ---- Limits, switching and signal functions --------------------------------------

// 35, 36, 37 without a valid input: 0 with B0 set, else no value and no status.
void LimitWithoutInput(Tags& t) {
    if (t.HByte[0] != 0) SetValue(t, 0.0, 0);
    else SetValue(t, kNan, ST_NONE);
}

void UpperLimit(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0);
    if (!a.valid) return LimitWithoutInput(t);
    const double limit = t.Hdouble[5];
    t.Status = a.status;
    if (IsMissing(limit) || a.value <= limit) t.Ist = a.value;
    else t.Ist = t.HByte[0] != 0 ? limit : kNan;
}

void LowerLimit(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0);
    if (!a.valid) return LimitWithoutInput(t);
    const double limit = t.Hdouble[6];
    t.Status = a.status;
    if (IsMissing(limit) || a.value >= limit) t.Ist = a.value;
    else t.Ist = t.HByte[0] != 0 ? limit : kNan;
}

void Band(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0);
    if (!a.valid) return LimitWithoutInput(t);
    const bool clamp = t.HByte[0] != 0;
    const double lo = t.Hdouble[6], hi = t.Hdouble[5];
    double x = a.value;
    if (!IsMissing(lo) && x < lo) x = clamp ? lo : kNan;
    if (!IsMissing(hi) && hi < x) x = clamp ? hi : kNan;
    SetValue(t, x, a.status);
}

// Ring length of 40 and 43 (B0) limited to 0..9, and the ring position (B1)
// advanced by one, wrapping after 9.
void LimitRingLength(Tags& t) {
    if (static_cast<int8_t>(t.HByte[0]) < 0) t.HByte[0] = 0;
    else if (t.HByte[0] > 9) t.HByte[0] = 9;
}

void AdvanceRing(Tags& t) { t.HByte[1] = t.HByte[1] > 8 ? 0 : static_cast<uint8_t>(t.HByte[1] + 1); }

void DelayLine(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0);
    if (!a.valid) return SetValue(t, 0.0, 0);
    LimitRingLength(t);
    int d = t.HByte[1] - t.HByte[0];
    if (d < 0) d += 10;
    if (d < 0 || d > 9) d = 0;
    SetValue(t, t.Hdouble[d], a.status);
    AdvanceRing(t);
    t.Hdouble[t.HByte[1]] = a.value;
}

void Filter(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0);
    if (!a.valid) return SetValue(t, 0.0, 0);
    t.Status = a.status;
    if (IsMissing(a.value)) return;
    const int32_t time_constant = t.Hint[0];
    if (c.sys->takt < time_constant) {
        double* h = t.Hdouble;
        h[2] = a.value - (IsMissing(t.Ist) ? 0.0 : t.Ist);
        h[1] = (IsMissing(h[1]) ? 0.0 : h[1]) + h[2] * c.sys->takt / time_constant;
        t.Ist = h[1];
    } else {
        t.Ist = t.Hdouble[1] = a.value;
    }
}

void MovingMean(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0);
    if (!a.valid) return SetValue(t, 0.0, 0);
    LimitRingLength(t);
    AdvanceRing(t);
    t.Hdouble[t.HByte[1]] = a.value;
    const int count = t.HByte[0] + 1;
    double sum = 0.0;
    int index = t.HByte[1];
    for (int k = 0; k < count; ++k) {
        sum += t.Hdouble[index];
        index = index == 0 ? 9 : index - 1;
    }
    SetValue(t, sum / count, a.status);
}

void ChangeOver(const Cycle& c, Tags& t) {
    double* h = t.Hdouble;
    const auto input_or = [&](int k, double parameter) {
        const Input in = c.In(t, k);
        return in.valid ? in : Input{false, parameter, 0};
    };
    const Input a = input_or(0, h[3]), b = input_or(1, h[4]), sel = input_or(2, h[5]);
    if (sel.value > h[1] + h[2]) {
        h[2] = -h[0] / 2.0;  // hysteresis moves against the switch
        SetValue(t, a.value, a.status);
    } else {
        h[2] = h[0] / 2.0;
        SetValue(t, b.value, b.status);
    }
}

void LimitAlarm(const Cycle& c, Tags& t) {
    if (!c.TagRef(t.Zeiger[0])) {
        t.Ist = 0.0;
        return;
    }
    const Input a = c.In(t, 0);
    const uint32_t previous = t.Status;
    uint32_t bits = 0;
    if (!Flag(t, HLOG_IN_SERVICE)) bits = ST_OFF;
    else if (!Flag(t, HLOG_KEEP_ON_FAULT) && previous != 0) bits = ST_SUBST;
    const double x = a.value;
    if (IsMissing(x)) return SetValue(t, kNan, ST_IRREGULAR);

    const double* h = t.Hdouble;
    const double hysteresis = h[5];
    double level = 0.0;
    if (Flag(t, 25) && (x > h[1] || ((previous & ST_ALARM_H) && x + hysteresis > h[1]))) {
        bits |= ST_ALARM_H;
        level += 1.0;
    }
    if (Flag(t, 24) && (x > h[0] || ((previous & ST_ALARM_HH) && x + hysteresis > h[0]))) {
        bits |= ST_ALARM_HH;
        level += 2.0;
    }
    if (Flag(t, 26) && (x < h[3] || ((previous & ST_ALARM_L) && x - hysteresis < h[3]))) {
        bits |= ST_ALARM_L;
        level -= 1.0;
    }
    if (Flag(t, 27) && (x < h[4] || ((previous & ST_ALARM_LL) && x - hysteresis < h[4]))) {
        bits |= ST_ALARM_LL;
        level -= 2.0;
    }
    SetValue(t, level, (a.status & 0xFFFF0000u) | bits);
    if (a.status != 0) c.tags[t.Zeiger[0]].Status |= t.Status;
}

void EnabledIntegrator(const Cycle& c, Tags& t) {
    double* h = t.Hdouble;
    const Input a = c.In(t, 0);
    if (!a.valid) {
        SetValue(t, 0.0, 0);
        h[4] = 0.0;
        return;
    }
    double x = a.value;
    uint32_t status = a.status;
    if (IsMissing(x)) {
        x = 0.0;
        status |= ST_IRREGULAR;
    }
    const Input e = c.In(t, 1);
    const double enable = e.valid ? e.value : 1.0;
    if (enable >= 1.0 && h[2] <= 0.0) {  // rising enable starts a new integral
        SetValue(t, 0.0, 0);
        h[4] = 0.0;
    }
    h[2] = enable;
    if (enable > 0.0) h[4] = (IsMissing(h[4]) ? 0.0 : h[4]) + PerCycle(c, t, x);
    else status |= ST_GATE_OFF;
    SetValue(t, h[4], status);
}

// ---- Interval statistics (50-55) ---------------------------------------------------
// Each collects every cycle and reports when its own period is due.

void StatMean(const Cycle& c, Tags& t) {
    double* h = t.Hdouble;
    const Input a = c.In(t, 0);
    if (!a.valid) {
        h[0] = h[1] = 0.0;
        t.Mittel = 0.0;
        return SetValue(t, 0.0, 0);
    }
    if (!IsMissing(a.value)) {
        h[0] += 1.0;
        h[1] = IsMissing(h[1]) ? a.value : h[1] + a.value;
        h[3] = h[1] / h[0];
        t.Hint[4] = static_cast<int32_t>(static_cast<uint32_t>(t.Hint[4]) | a.status);
    }
    if (!Due(c, t)) return;
    t.Mittel = h[3];
    SetValue(t, h[3], static_cast<uint32_t>(t.Hint[4]));
    h[0] = h[1] = 0.0;
    t.Hint[4] = 0;
}

void StatExtremum(const Cycle& c, Tags& t, bool maximum) {
    double* h = t.Hdouble;
    const double start = maximum ? -kMax : kMax;
    const Input a = c.In(t, 0);
    if (!a.valid) {
        h[0] = start;
        t.Hint[2] = -1;
        t.Mittel = start;
        return SetValue(t, start, 0);
    }
    double x = a.value;
    if (IsMissing(x)) x = IsMissing(h[1]) ? start : h[1];  // hold the last value
    h[1] = x;
    if (maximum ? x > h[0] : x < h[0]) {
        h[0] = x;
        t.Hint[2] = c.sec_of_day;
        t.Hint[3] = static_cast<int32_t>(a.status);
    }
    if (!Due(c, t)) return;
    t.Mittel = h[0];
    SetValue(t, h[0], static_cast<uint32_t>(t.Hint[3]));
    h[0] = start;
    t.Hint[2] = -1;
}

void StatIntegral(const Cycle& c, Tags& t) {
    double* h = t.Hdouble;
    const Input a = c.In(t, 0);
    if (!a.valid) {
        h[0] = h[3] = 0.0;
        t.Mittel = 0.0;
        return SetValue(t, 0.0, 0);
    }
    double x = a.value;
    if (IsMissing(x)) x = IsMissing(h[3]) ? 0.0 : h[3];
    h[3] = x;
    h[0] += PerCycle(c, t, x);
    t.Hint[4] = static_cast<int32_t>(a.status);
    if (!Due(c, t)) return;
    SetValue(t, h[0], static_cast<uint32_t>(t.Hint[4]));
    h[0] = h[3] = 0.0;
    t.Hint[4] = 0;
}

void StatDeviation(const Cycle& c, Tags& t) {
    double* h = t.Hdouble;
    const Input a = c.In(t, 0);
    if (!a.valid) {
        h[0] = h[1] = h[2] = 0.0;
        t.Mittel = 0.0;
        return SetValue(t, 0.0, 0);
    }
    double x = a.value;
    if (IsMissing(x)) x = IsMissing(h[3]) ? -kMax : h[3];
    h[3] = x;
    h[0] += 1.0;
    h[1] += x;
    h[2] += x * x;
    if (!Due(c, t)) return;
    h[1] /= h[0];
    h[2] /= h[0];
    const double variance = h[2] - h[1] * h[1];
    t.Ist = variance > 0.0 ? std::sqrt(variance) : 0.0;
    t.Mittel = t.Ist;
    t.Status = 0;
    h[0] = h[1] = h[2] = 0.0;
}

void StatCorrelation(const Cycle& c, Tags& t) {
    double* h = t.Hdouble;
    const Input a = c.In(t, 0), b = c.In(t, 1);
    if (!a.valid || !b.valid) {
        for (int k = 0; k <= 5; ++k) h[k] = 0.0;
        t.Mittel = 0.0;
        return SetValue(t, 0.0, 0);
    }
    const double x = a.value, y = b.value;
    h[0] += 1.0;
    h[1] += x;
    h[2] += x * x;
    h[3] += y;
    h[4] += y * y;
    h[5] += x * y;
    if (!Due(c, t)) return;
    for (int k = 1; k <= 5; ++k) h[k] /= h[0];
    const double vx = h[2] - h[1] * h[1], vy = h[4] - h[3] * h[3];
    const double sx = vx > 0.0 ? std::sqrt(vx) : 0.0;
    const double sy = vy > 0.0 ? std::sqrt(vy) : 0.0;
    t.Ist = (sx == 0.0 || sy == 0.0) ? 0.0 : (h[5] - h[1] * h[3]) / sx / sy;
    t.Mittel = t.Ist;
    t.Status = 0;
    for (int k = 0; k <= 5; ++k) h[k] = 0.0;
}

// ---- Expressions over the five inputs (61, 62) ---------------------------------------

uint8_t OperatorOf(const Tags& t, int k) { return t.HLog[k] == 0xFF ? 0 : t.HLog[k]; }

void PrecedenceExpression(const Cycle& c, Tags& t) {
    SetValue(t, kNan, 0);
    double v[10] = {};
    uint8_t op[10] = {};
    int n = 0;
    for (int k = 0; k < 5; ++k) {
        const Input in = c.In(t, k);
        if (!in.valid) continue;
        v[n] = in.value;
        t.Status |= in.status;
        op[n] = OperatorOf(t, k);
        ++n;
    }
    // Products and quotients first; a minus in front of a product moves into it.
    for (int j = 0; j <= n - 2; ++j) {
        if (op[j] != '*' && op[j] != '/') continue;
        v[j + 1] = op[j] == '*' ? v[j] * v[j + 1] : v[j] / v[j + 1];
        if (j > 0 && op[j - 1] == '-') {
            v[j + 1] = -v[j + 1];
            op[j - 1] = '+';
        }
        v[j] = 0.0;
        op[j] = '+';
        t.Ist = v[j + 1];
    }
    for (int j = 0; j <= n - 2; ++j) {
        if (op[j] == '+') {
            v[j + 1] = v[j] + v[j + 1];
        } else if (op[j] == '-') {
            v[j + 1] = v[j] - v[j + 1];
            op[j] = '+';
        } else {
            continue;
        }
        v[j] = 0.0;
        t.Ist = v[j + 1];
    }
    int operators = 0;
    while (operators < 10 && op[operators] != 0) ++operators;
    for (int j = 0; j <= n - 2; ++j) {
        if (op[j] != 'V' && op[j] != '&') continue;
        const bool maximum = op[j] == 'V';
        const double a = v[j];
        double b = v[j + 1];
        while ((b == 0.0 || j == operators) && j <= 4) {
            b = v[j + 2];
            ++j;
        }
        const double r = maximum ? (a > b ? a : b) : (a < b ? a : b);
        t.Ist = r;
        v[j + 1] = r;
    }
}

void LeftToRightExpression(const Cycle& c, Tags& t) {
    SetValue(t, kNan, ST_NONE);
    const Input first = c.In(t, 0);
    if (first.valid) SetValue(t, first.value, first.status);
    for (int k = 1; k < 5; ++k) {
        const Input in = c.In(t, k);
        if (!in.valid) continue;
        const uint8_t op = t.HLog[k - 1];
        double& v = t.Ist;
        switch (op) {
            case '+': v = v + in.value; break;
            case '-': v = v - in.value; break;
            case '*': v = v * in.value; break;
            case '/': v = v / in.value; break;
            case 'V': v = v > in.value ? v : in.value; break;
            case '&': v = v < in.value ? v : in.value; break;
            default: continue;
        }
        t.Status |= in.status;
    }
}

// ---- Fuzzy logic (71-75) ---------------------------------------------------------------

void Membership(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0);
    const double x = a.valid ? a.value : t.Hdouble[4];
    t.Status = a.valid ? a.status : 0;
    const double* h = t.Hdouble;
    double m;
    switch (t.HByte[0]) {
        case 0: m = x == h[1] ? 1.0 : 0.0; break;
        case 1:
            if (x <= h[1]) m = 1.0;
            else if (x >= h[2]) m = 0.0;
            else m = (h[2] - x) / (h[2] - h[1]);
            break;
        case 2:
            if (x <= h[0] || x >= h[2]) m = 0.0;
            else if (x <= h[1]) m = (x - h[0]) / (h[1] - h[0]);
            else m = (h[2] - x) / (h[2] - h[1]);
            break;
        case 3:
            if (x <= h[0]) m = 0.0;
            else if (x >= h[1]) m = 1.0;
            else m = (x - h[0]) / (h[1] - h[0]);
            break;
        case 4:
            if (x <= h[0] || x >= h[3]) m = 0.0;
            else if (x <= h[1]) m = (x - h[0]) / (h[1] - h[0]);
            else if (x <= h[2]) m = 1.0;
            else m = (h[3] - x) / (h[3] - h[2]);
            break;
        default: return SetValue(t, kNan, 0);
    }
    t.Ist = m;
}

void Not(const Cycle& c, Tags& t) {
    const Input a = c.In(t, 0);
    if (!a.valid) return SetValue(t, kNan, 0);
    SetValue(t, 1.0 - a.value, a.status);
}

double Clamp01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

void RuleAggregation(const Cycle& c, Tags& t) {
    const double* h = t.Hdouble;
    double m[5];
    int n = 0;
    bool faulty = false;
    double weights = 0.0;
    for (int k = 0; k < 5; ++k) {
        const Input in = c.In(t, k);
        if (!in.valid) continue;
        m[n++] = Clamp01(in.value * h[k]);
        weights += h[k];
        if (in.status != 0) faulty = true;
    }
    t.Status = faulty ? 1u : 0u;
    const double mode = h[5];
    double r;
    if (mode < 0.0) {
        r = 0.0;
        for (int k = 0; k < n; ++k) r = m[k] > r ? m[k] : r;
    } else if (mode == 2.0) {
        double sum = 0.0;
        for (int k = 0; k < n; ++k) sum += m[k];
        r = weights == 0.0 ? sum : Clamp01(sum / weights);
    } else if (mode > 1.0) {
        r = 1.0;
        for (int k = 0; k < n; ++k) r = m[k] < r ? m[k] : r;
    } else {
        double all = 1.0, none = 1.0;
        for (int k = 0; k < n; ++k) {
            all *= m[k];
            none *= 1.0 - m[k];
        }
        r = mode * all + (1.0 - mode) * (1.0 - none);
    }
    t.Ist = r;
}

void Defuzzification(const Cycle& c, Tags& t) {
    const double* h = t.Hdouble;
    bool faulty = false;
    double num = 0.0, den = 0.0;
    const bool centroid = t.Hint[9] < 1;
    for (int k = 0; k < 5; ++k) {
        const Input in = c.In(t, k);
        if (!in.valid) continue;
        if (in.status != 0) faulty = true;
        const double m = in.value;
        if (centroid) {
            const double a = h[k], b = h[k + 1], d = h[k + 2];
            num += m * ((b * b * b / 3 - a * b * b / 2 + a * a * a / 6) / (b - a) +
                        (d * d * d / 6 - d * b * b / 2 + b * b * b / 3) / (d - b));
            den += m * ((b * b / 2 - a * b + a * a / 2) / (b - a) + (d * d / 2 - d * b + b * b / 2) / (d - b));
        } else {
            num += m * h[k];
            den += m;
        }
    }
    t.Status = faulty ? 1u : 0u;
    if (centroid) t.Ist = num / den;
    else if (t.Hint[9] == 1) t.Ist = den == 0.0 ? 0.0 : num / den;
    else t.Ist = num;
}

// ---- Formula calls (6, 60) ---------------------------------------------------------------

void Formula(Cycle& c, Tags& t, int i, int32_t number) {
    uint32_t status = 0;
    const double result =
        VelmoFormel(i, number, c.sec_of_day, c.inputs, t.Hdouble, &status, c.sys, c.tags, c.roh);
    SetValue(t, result, status);
}

void FormulaWithInputs(Cycle& c, Tags& t, int i) {
    if (t.Hint[9] <= 0) return;
    FillFormulaInputs(c.sys, c.tags, t, c.inputs);
    Formula(c, t, i, t.Hint[9]);
}

// ---- The cycle -------------------------------------------------------------------------

void Compute(Cycle& c, Tags& t, int i) {
    switch (t.Fkt) {
        case 0: case 5: case 46: case 48: case 49: case 56: case 57: case 58: Unused(t); break;
        case 1: case 2: ExternalValue(t); break;
        case 59: TextAsValue(t); break;
        case 100: case 101: Alarm(c, i); break;
        case 150: InputPresent(c, t); break;
        case 3: RawCopy(c, t); break;
        case 4: RawScaled(c, t); break;
        case 7: Counter(c, t); break;
        case 8: ScaledWithWriteBack(c, t); break;
        case 9: GatedIntegrator(c, t); break;
        case 10: Copy(c, t); break;
        case 11: SumOrDifference(c, t, 1.0); break;
        case 12: SumOrDifference(c, t, -1.0); break;
        case 13: {
            const Input a = c.In(t, 0), b = c.In(t, 1);
            SetValue(t, a.value * b.value, a.status | b.status);
            break;
        }
        case 14: Quotient(c, t); break;
        case 15: Reciprocal(c, t); break;
        case 16: case 17: case 18: case 19: case 22: case 23: case 24: case 25: case 26: case 27: case 28:
        case 29: case 30: case 31: Unary(c, t); break;
        case 20: case 21: case 32: Binary(c, t); break;
        case 33: Extremum(c, t, true); break;
        case 34: Extremum(c, t, false); break;
        case 38: Percentage(c, t); break;
        case 39: Mean3(c, t); break;
        case 42: Polynomial(c, t); break;
        case 211: AllInputsPresent(c, t); break;
        case 35: UpperLimit(c, t); break;
        case 36: LowerLimit(c, t); break;
        case 37: Band(c, t); break;
        case 40: DelayLine(c, t); break;
        case 41: Filter(c, t); break;
        case 43: MovingMean(c, t); break;
        case 44: ChangeOver(c, t); break;
        case 45: LimitAlarm(c, t); break;
        case 47: EnabledIntegrator(c, t); break;
        case 50: StatMean(c, t); break;
        case 51: StatExtremum(c, t, false); break;
        case 52: StatExtremum(c, t, true); break;
        case 53: StatIntegral(c, t); break;
        case 54: StatDeviation(c, t); break;
        case 55: StatCorrelation(c, t); break;
        case 61: PrecedenceExpression(c, t); break;
        case 62: LeftToRightExpression(c, t); break;
        case 71: Membership(c, t); break;
        case 72: Not(c, t); break;
        case 73: RuleAggregation(c, t); break;
        case 75: Defuzzification(c, t); break;
        case 6: if (t.Hint[7] > 0) Formula(c, t, i, t.Hint[7]); break;
        case 60: FormulaWithInputs(c, t, i); break;
        default: break;  // a number without a function computes nothing
    }
}

bool KeepsOwnMean(int32_t fkt) { return fkt >= 50 && fkt <= 55; }

}  // namespace

uint32_t EpochSecondOf(double utc_days) {
    const double seconds = std::round((utc_days - kEpochDays) * 86400.0);
    if (!(seconds >= 0.0) || seconds > 4294967295.0) return 0;
    return static_cast<uint32_t>(seconds);
}

}  // namespace calc

void VelmoTakt(int32_t secOfDay, VelmoSystem* sys, Tags* tags, Rohwerte* roh, int32_t* alarmCount,
               int32_t* alarmList, double now) {
    using namespace calc;
    if (sys == nullptr || tags == nullptr || roh == nullptr) return;
    // The cycle counter wraps instead of overflowing.
    sys->anzahl = static_cast<int32_t>(static_cast<uint32_t>(sys->anzahl) + 1u);
    if (alarmCount != nullptr) *alarmCount = 0;

    Cycle c{sys, tags, roh, TagLimit(sys), RohLimit(sys), secOfDay, EpochSecondOf(now), alarmCount, alarmList, {}};
    for (double& in : c.inputs) in = kNan;

    for (int i = 0; i <= c.n_tag; ++i) {
        Tags& t = tags[i];
        Compute(c, t, i);
        VelmoErsatzwerte(1, &t.Status, &t);
        if (IsMissing(t.Ist)) t.Ist = kNan;  // one NaN pattern for files and peers
    }

    // Interval sums; functions 50-55 keep their own mean.
    for (int i = 0; i <= c.n_tag; ++i) {
        Tags& t = tags[i];
        if (IsMissing(t.Ist) || KeepsOwnMean(t.Fkt)) continue;
        if (IsMissing(t.Summe)) {
            t.Summe = 0.0;
            t.Anz = 0.0;
        }
        t.Summe += t.Ist;
        t.Anz += 1.0;
    }

    // Raw values past their validity lose their value.
    const uint32_t epoch = c.epoch;
    for (int r = 0; r <= c.n_roh; ++r) {
        Rohwerte& raw = roh[r];
        if (raw.ValidUntil == QX_VALID_FOREVER || raw.ValidUntil >= epoch) continue;
        raw.Ist = kNan;
        raw.Status = ST_EXPIRED;
        raw.ValidUntil = QX_VALID_FOREVER;
        std::memset(raw.Info, 0, sizeof raw.Info);
    }
}
