// Selector, set-value and power-factor formulas.
//
// All of them start from the tag's current value and report exactly
// ST_CONFIG on a missing input or parameter, so a failed check keeps the
// previous value.  Raw outputs get 1.0 or 0.0 in Ist only.
#include "formulas_selector.hpp"

#include <cmath>
#include <numbers>

#include "formula_families.hpp"
#include "formulas_text_fields.hpp"
#include "values.hpp"

namespace calc {
namespace {

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;

// The family's frame: result from the tag's value, status and the tag's
// Status cleared; Finish stores the result and merges the tag's Status.
struct SelectorCall {
    FormulaCall& call;
    Tags& tag;
    double* h;
    double result;

    explicit SelectorCall(FormulaCall& c)
        : call(c), tag(*c.tag), h(c.hd != nullptr ? c.hd : c.tag->Hdouble), result(c.tag->Ist) {
        *call.status = 0;
        tag.Status = 0;
    }
    void Fail() { *call.status |= ST_CONFIG; }
    double Finish() {
        tag.Ist = result;
        *call.status |= tag.Status;
        return result;
    }
    double Input(int k) const { return call.inputs != nullptr ? call.inputs[k] : kNan; }
    bool TagOk(long t) const { return ValidTagRef(call.sys, t); }
    // Raw numbers of these formulas run up to n_roh; outputs and triggers
    // checked against n_tag are held to the raw table as well.
    bool RohOk(long n) const { return ValidRohRefInclusive(call.sys, n); }
    bool RohOkByTag(long n) const { return TagOk(n) && RohOk(n); }
};

bool Number(double v) { return !IsMissing(v); }
bool Positive(double v) { return Number(v) && v > 0.0; }

// Nearest multiple of the step, halves up for positive values; negative
// values are cut toward zero.
double RoundToStep(double x, double step) {
    const double q = std::trunc(x / step);
    return (q + 0.5) * step > x ? q * step : (q + 1.0) * step;
}

double Limit(double value, double lower, double upper) {
    if (value < lower) value = lower;
    if (value > upper) value = upper;
    return value;
}

// ---- Selectors ------------------------------------------------------------

struct SelectorRanges {
    int count;
    long values;   // first tag of the selected values
    long inputs;   // first raw push-button input
    long outputs;  // first raw indicator output
};

bool SelectorChecks(SelectorCall& f, SelectorRanges& r) {
    const double* h = f.h;
    if (!Number(h[0]) || !(h[0] > 0.0 && h[0] <= 9.0) || !Positive(h[1]) || !Positive(h[2]) || !Positive(h[3])) {
        f.Fail();
        return false;
    }
    r = {IntOf(h[0]), RefFromDouble(h[1]), RefFromDouble(h[2]), RefFromDouble(h[3])};
    return r.count > 0;
}

// The one-hot indicator outputs, once a selection exists.
void DriveOneHot(SelectorCall& f, long first, int count, double selected) {
    if (!Number(selected) || selected < 0.0) return;
    const int position = IntOf(selected);
    for (int j = 0; j < count; ++j) {
        const long n = first + j;
        if (f.RohOk(n)) f.call.roh[n].Ist = j == position ? 1.0 : 0.0;
    }
}

// The walk of 145 and 147 over their positions: `selects` says whether
// position i takes its tag's value; the highest such position wins.  Then the
// one-hot outputs.
template <class Selects>
double RunSelector(FormulaCall& call, Selects selects) {
    SelectorCall f(call);
    SelectorRanges r{};
    if (!SelectorChecks(f, r)) return f.Finish();
    for (int i = 0; i < r.count; ++i) {
        const long n = r.inputs + i, t = r.values + i;
        if (!f.RohOk(n) || !f.TagOk(t)) {
            f.Fail();
            continue;
        }
        const double value = call.tags[t].Ist;
        if (selects(i, r.count, call.roh[n].Ist, value)) {
            f.result = value;
            f.h[7] = i;
        }
    }
    DriveOneHot(f, r.outputs, r.count, f.h[7]);
    return f.Finish();
}

// 145: the raw input that changed last selects its tag's value.  (A change
// while the tag's value is missing is not remembered.)
double SelectByChange(FormulaCall& call) {
    Tags& tag = *call.tag;
    return RunSelector(call, [&tag](int i, int, double raw, double value) {
        if (!Number(raw) || raw == tag.Hint[i] || !Number(value)) return false;
        tag.Hint[i] = IntOf(raw);
        return true;
    });
}

// 147: the active momentary input selects; with none active so far the last
// position is the default.
double SelectByMomentary(FormulaCall& call) {
    bool any_active = false;
    return RunSelector(call, [&any_active](int i, int count, double raw, double value) {
        const bool active = Number(raw) && raw != 0.0;
        any_active = any_active || active;
        return (active || (!any_active && i == count - 1)) && Number(value);
    });
}

// 146: two fixed values and one split-range characteristic of the largest
// of three tags, chosen by three raw mode inputs.
double SelectMode(FormulaCall& call) {
    SelectorCall f(call);
    double* h = f.h;
    for (int k = 0; k <= 4; ++k) {
        if (!Positive(h[k])) {
            f.Fail();
            return f.Finish();
        }
    }
    const long offset = RefFromDouble(h[0]), curve = RefFromDouble(h[1]), modes = RefFromDouble(h[2]),
               outputs = RefFromDouble(h[3]), controlled = RefFromDouble(h[4]);
    const auto tag_value_ok = [&](long t) { return f.TagOk(t) && Number(call.tags[t].Ist); };
    bool ok = tag_value_ok(offset);
    for (int k = 0; k < 6; ++k) ok = ok && tag_value_ok(curve + k);
    for (int k = 0; k < 3; ++k) {
        ok = ok && f.RohOkByTag(modes + k) && Number(call.roh[modes + k].Ist);
        ok = ok && tag_value_ok(controlled + k);
        ok = ok && f.RohOkByTag(outputs + k);
    }
    if (!ok) {
        f.Fail();
        return f.Finish();
    }
    const double x0 = call.tags[curve].Ist, x1 = call.tags[curve + 1].Ist, x2 = call.tags[curve + 2].Ist,
                 x3 = call.tags[curve + 3].Ist, y0 = call.tags[curve + 4].Ist, y1 = call.tags[curve + 5].Ist;
    if (x1 - x0 == 0.0 || x3 - x2 == 0.0) {
        f.Fail();
        return f.Finish();
    }
    double x = 0.0;
    for (int k = 0; k < 3; ++k) x = std::fmax(x, call.tags[controlled + k].Ist);

    for (int i = 0; i < 3; ++i) {
        const double raw = call.roh[modes + i].Ist;
        if (raw != f.tag.Hint[i]) {
            f.tag.Hint[i] = IntOf(raw);
            h[7] = i;
        }
    }
    if (!Number(h[7]) || h[7] < 0.0) return f.Finish();
    const int mode = IntOf(h[7]);
    for (int j = 0; j < 3; ++j) call.roh[outputs + j].Ist = j == mode ? 1.0 : 0.0;
    if (mode == 0) {
        f.result = y0;
    } else if (mode == 1) {
        f.result = y1;
    } else if (mode == 2) {
        double y;
        if (x <= x0)
            y = y1;
        else if (x < x1)
            y = y1 + (x - x0) * (0.0 - y1) / (x1 - x0);
        else if (x < x2)
            y = 0.0;
        else if (x < x3)
            y = (x - x2) * y0 / (x3 - x2);
        else
            y = y0;
        f.result = y + call.tags[offset].Ist;
    } else {
        f.Fail();
    }
    return f.Finish();
}

// ---- Set values ------------------------------------------------------------

enum class SetValueKind { Plain, Angle, PowerFactor };

// Parameter positions of 148/149 and of 150.
struct SetValueLayout {
    int a, b, lower, upper, step;  // H indices; lower/upper are the negative/positive limits for 150
    int last_checked;              // H0..H<last_checked> must be numbers
};
constexpr SetValueLayout kSetValue{2, 3, 4, 5, 6, 6};
constexpr SetValueLayout kPowerFactorSetValue{1, 2, 3, 4, 5, 5};

double PowerFactorLimits(double y, double negative_limit, double positive_limit) {
    if (y < 0.0) {
        if (y > negative_limit) y = negative_limit;
        if (y <= -1.0) y = 1.0;
    } else {
        if (y < positive_limit) y = positive_limit;
        if (y > 1.0) y = 1.0;
    }
    return y;
}

// 148, 149, 150: the value is taken over when the raw trigger's integer value
// changes; the first call gives the default value.
double SetValue(FormulaCall& call, SetValueKind kind) {
    SelectorCall f(call);
    double* h = f.h;
    Tags& tag = f.tag;
    const SetValueLayout& p = kind == SetValueKind::PowerFactor ? kPowerFactorSetValue : kSetValue;

    // The trigger is remembered as soon as it has been read, even when a
    // later check fails.
    const long trigger = Positive(h[0]) ? RefFromDouble(h[0]) : 0;
    const double raw = f.RohOkByTag(trigger) ? call.roh[trigger].Ist : kNan;
    if (Number(raw) && tag.Hint[1] == -1) {
        tag.Hint[2] = tag.Hint[3] = IntOf(raw);
        tag.Hint[1] = 1;
    }

    bool ok = Number(raw);
    for (int k = 1; k <= p.last_checked; ++k) ok = ok && Number(h[k]);
    double x = kNan;
    if (kind == SetValueKind::PowerFactor) {
        x = f.Input(0);
    } else if (ok && h[1] > 0.0 && f.TagOk(RefFromDouble(h[1]))) {
        x = call.tags[RefFromDouble(h[1])].Ist;
    }
    if (!ok || !Number(x)) {
        f.Fail();
        return f.Finish();
    }

    const double a = h[p.a], b = h[p.b], lower = h[p.lower], upper = h[p.upper], step = h[p.step];
    const auto limit = [&](double v) {
        return kind == SetValueKind::PowerFactor ? PowerFactorLimits(v, lower, upper) : Limit(v, lower, upper);
    };

    tag.Hint[2] = IntOf(raw);
    if (tag.Hint[0] == -1) {
        tag.Hint[3] = tag.Hint[2];
        f.result = limit(b);
        tag.Hint[0] = 1;
    }
    h[7] = tag.Hint[3] + 1000.0 * tag.Hint[2];
    if (tag.Hint[3] == tag.Hint[2]) return f.Finish();

    tag.Hint[3] = tag.Hint[2];
    double y = kind == SetValueKind::PowerFactor ? (x < 0.0 ? -x - 1.0 : 1.0 - x) : x;
    if (x < a)
        y = b;
    else if (step != 0.0)
        y = RoundToStep(y, step);
    if (kind == SetValueKind::Angle) {
        const double w = 1.0 - std::fabs(y);
        y = (w > 1.0 || w < -1.0) ? b : WithSignOf(std::acos(w) * kDegreesPerRadian, y) * 100.0;
    }
    f.result = limit(y);
    return f.Finish();
}

double SetValuePlain(FormulaCall& call) { return SetValue(call, SetValueKind::Plain); }
double SetValueAngle(FormulaCall& call) { return SetValue(call, SetValueKind::Angle); }
double SetValuePowerFactor(FormulaCall& call) { return SetValue(call, SetValueKind::PowerFactor); }

// ---- Power factor ----------------------------------------------------------

// The power factor as an angle in hundredths of a degree, negative for a
// positive power factor.
double PowerFactorAngle(double v) { return -WithSignOf(std::acos(std::fabs(v)) * kDegreesPerRadian, v) * 100.0; }

// 151: power factor from active power, following the characteristic with
// hysteresis while it is active.
double PowerFactorOfPower(FormulaCall& call) {
    SelectorCall f(call);
    double* h = f.h;
    Tags& tag = f.tag;
    const double P = f.Input(0), c = f.Input(1);
    const double p0 = h[0], p1 = h[1], p2 = h[2], cmax = h[3];
    if (!Number(P) || !Number(c) || !Number(p0) || !Number(p1) || !Number(p2) || !Number(cmax)) {
        f.Fail();
        return f.Finish();  // H6 keeps the previous power factor
    }
    if (tag.Hint[1] == -1) {
        h[6] = 1.0;
        tag.Hint[4] = 0;
        tag.Hint[1] = 1;
    }
    if (c < -1.0 || c > 1.0 || cmax < -1.0 || cmax > 1.0) {
        f.Fail();
        return f.Finish();
    }
    if (P >= p0) {
        tag.Hint[4] = 1;
        h[5] = 1.0;
    } else if (p0 - p2 > P) {
        tag.Hint[4] = 0;
        h[5] = 0.0;
    }
    double v = tag.Hint[4] == 1 ? PhiHysteresisArea(p0, p1, p2, cmax, P, h[6]) : c;
    if (P > p1) v = cmax;
    h[7] = v;
    if (!Number(v) || std::fabs(v) > 1.0) v = 1.0;
    f.result = PowerFactorAngle(v);
    h[6] = v;
    return f.Finish();
}

// 152: power factor from an angle or from active and reactive power, as
// -(1 - |c|) with the sign of c.
double PowerFactorSetForm(FormulaCall& call) {
    SelectorCall f(call);
    double* h = f.h;
    const double angle = f.Input(0), P = f.Input(1), Q = f.Input(2);
    if (!Number(angle) || !Number(P) || !Number(Q) || !Number(h[0])) {
        f.Fail();
        return f.Finish();
    }
    const double c1 = WithSignOf(std::cos(angle / 100.0 / kDegreesPerRadian), angle);
    h[6] = c1;
    double c2 = kNan;
    const double squares = P * P + Q * Q;
    if (squares != 0.0) c2 = WithSignOf(P / std::sqrt(squares), Q);
    h[7] = c2;
    const double c = IntOf(h[0]) != 0 ? c2 : c1;
    f.result = -WithSignOf(1.0 - std::fabs(c), c);
    return f.Finish();
}

constexpr FormulaEntry kSelectorFormulas[] = {
    {145, SelectByChange}, {146, SelectMode},          {147, SelectByMomentary},  {148, SetValuePlain},
    {149, SetValueAngle},  {150, SetValuePowerFactor}, {151, PowerFactorOfPower}, {152, PowerFactorSetForm},
};

}  // namespace

std::span<const FormulaEntry> SelectorFormulas() { return kSelectorFormulas; }

}  // namespace calc

double PhiHysteresisArea(double p0, double p1, double p2, double cmax, double P, double g) {
    if ((cmax < 0.0 && g > 0.0) || (cmax > 0.0 && g < 0.0)) g = 1.0;
    if (std::fabs(g) < std::fabs(cmax) || std::fabs(g) > 1.0 || g != g) g = 1.0;
    if (p1 - p0 == 0.0) return calc::kNan;
    const double k = (std::fabs(cmax) - 1.0) / (p1 - p0);
    const double up = 1.0 - k * p0 + k * P;
    const double down = 1.0 - k * (p0 - p2) + k * P;
    if (down > up) return calc::kNan;
    if (down > std::fabs(g))
        g = down;
    else if (up < std::fabs(g))
        g = up;
    return calc::WithSignOf(g, cmax);
}
