// Arithmetic and physical value formulas: plant physics (normal volume,
// compressor power, corrected values, a polynomial), scaling and checking of
// raw values, conditional sums and differences, classification, comparison
// and a few small utilities.  None of them keeps timers; the state they have
// (formula 100's samples, the intermediates in H3..H7) lies in the tag.
#include <cmath>
#include <initializer_list>

#include "formula_families.hpp"
#include "values.hpp"

namespace calc {
namespace {

// Gauge pressures in bar become absolute by adding this; temperatures in
// degrees Celsius become kelvin by adding 273.15.
constexpr double kAtmosphere = 1.013;
constexpr double kKelvin = 273.15;
// Gas constant over the unit conversions of the compressor power.
constexpr double kPowerFactor = 0.0001031374;

double Input(const FormulaCall& c, int k) { return c.inputs != nullptr ? c.inputs[k] : kNan; }

Tags* TagAt(const FormulaCall& c, long number) { return ValidTagRef(c.sys, number) ? &c.tags[number] : nullptr; }

Rohwerte* RawAt(const FormulaCall& c, long number) {
    return c.roh != nullptr && ValidRohRef(c.sys, number) ? &c.roh[number] : nullptr;
}

Rohwerte* RawAt(const FormulaCall& c, double number) { return RawAt(c, RefFromDouble(number)); }

bool AnyMissing(std::initializer_list<double> values) {
    for (double v : values)
        if (IsMissing(v)) return true;
    return false;
}

// ---- Small utilities (1, 114, 501, 502, 511) --------------------------------------------------

double Formula1(FormulaCall& c) {
    *c.status = c.tag->Status;
    return c.tag->Ist;
}

double Formula114(FormulaCall& c) {
    *c.status = 0;
    if (const Tags* z0 = TagAt(c, c.tag->Zeiger[0])) return static_cast<double>(z0->Hint[0]);
    *c.status = ST_CONFIG;
    return kNan;
}

double Formula501(FormulaCall& c) {
    const double* h = c.tag->Hdouble;
    *c.status = 0;
    return h[0] + h[1] + h[2] + h[3] + h[4];
}

double Formula502(FormulaCall& c) { return static_cast<double>(c.sys->anzahl); }

double Formula511(FormulaCall& c) {
    double result = c.tag->Ist + 100.0;
    if (result >= 20000.0) result = 0.0;
    *c.status |= c.tag->Status;
    return result;
}

// ---- Raw values: scaling and checks (4, 30, 34, 35, 50, 200) ------------------------------------

double Formula4(FormulaCall& c) {
    double* h = c.tag->Hdouble;
    const Rohwerte* raw = RawAt(c, static_cast<long>(c.tag->Zeiger[0]));
    if (raw == nullptr) {
        *c.status = ST_CONFIG;
        return kNan;
    }
    *c.status = raw->Status;
    h[7] = raw->Ist;
    if (!IsMissing(h[0])) h[7] *= h[0];
    if (!IsMissing(h[1])) {
        if (h[1] == 0.0) {
            // A zero divisor would leave an infinite value looking good.
            h[7] = kNan;
            *c.status |= ST_DIVZERO;
            return kNan;
        }
        h[7] /= h[1];
    }
    if (!IsMissing(h[6])) h[7] += h[6];
    return h[7];
}

double Formula30(FormulaCall& c) {
    const double* h = c.tag->Hdouble;
    const Rohwerte* j = RawAt(c, h[0]);
    const Rohwerte* k = RawAt(c, h[1]);
    if (j == nullptr || k == nullptr) return kNan;
    return j->Ist == k->Ist ? 1.0 : 0.0;
}

// Formulas 34 and 35: H0 is the code that a device sends for "no value".
double Formula34(FormulaCall& c) {
    Tags& t = *c.tag;
    Rohwerte* raw = RawAt(c, t.Hdouble[1]);
    const long code = RefFromDouble(t.Hdouble[0]);
    double result = kNan;
    if (raw != nullptr && code != -1) {
        if (IsMissing(raw->Ist)) raw->Ist = 0.0;
        result = raw->Ist == static_cast<double>(code) ? 0.0 : raw->Ist;
    }
    t.Ist = result;
    return result;
}

double Formula50(FormulaCall& c) {
    Tags& t = *c.tag;
    const double* h = t.Hdouble;
    const int32_t z0 = t.Zeiger[0];
    double v = kNan;
    if (z0 >= 1 && z0 < TagLimit(c.sys)) {
        *c.status |= c.tags[z0].Status;
        v = c.tags[z0].Ist;
    } else if (const Rohwerte* raw = RawAt(c, h[0])) {
        *c.status |= raw->Status;
        v = raw->Ist;
    } else {
        *c.status |= ST_CONFIG;
    }
    if (!IsMissing(v)) {
        if (IsMissing(h[1]) || IsMissing(h[2])) {
            v = kNan;
            *c.status |= ST_CONFIG;
        } else {
            if (v < h[1]) {
                v = h[3];
                *c.status |= ST_IRREGULAR;
            }
            if (v > h[2]) {
                v = h[3];
                *c.status |= ST_IRREGULAR;
            }
        }
    }
    t.Ist = v;
    return v;
}

double Formula200(FormulaCall& c) {
    Tags& t = *c.tag;
    double* h = t.Hdouble;
    const long number = RefFromDouble(h[0]);
    const Rohwerte* raw = c.roh != nullptr && ValidRohRefInclusive(c.sys, number) ? &c.roh[number] : nullptr;
    const Tags* substitute_tag = TagAt(c, RefFromDouble(h[1]));
    if (raw == nullptr || substitute_tag == nullptr) {
        t.Ist = kNan;
        t.Status = ST_CONFIG;
    } else {
        if (IsMissing(h[6])) h[6] = 1.0;
        if (h[6] != 1.0) {
            t.Status = ST_OFF;  // switched off: the value is kept
        } else {
            const double x0 = IsMissing(h[2]) ? 0.0 : h[2];
            const double x1 = IsMissing(h[3]) || h[3] == 0.0 ? c.sys->roh_skal : h[3];
            const double y0 = IsMissing(h[4]) ? -kMax : h[4];
            const double y1 = IsMissing(h[5]) ? kMax : h[5];
            const double substitute = IsMissing(substitute_tag->Ist) ? -1.0 : substitute_tag->Ist;
            const double x = raw->Ist;
            if (IsMissing(x)) t.Ist = substitute;
            else if (x < x0) t.Ist = y0;
            else if (x1 - x0 == 0.0) t.Ist = kNan;
            else t.Ist = (x - x0) / (x1 - x0) * (y1 - y0) + y0;  // no upper limit
            t.Status = raw->Status;
        }
    }
    *c.status |= t.Status;
    return t.Ist;
}

// ---- Classification (10) and period difference (100) -------------------------------------------

double Formula10(FormulaCall& c) {
    Tags& t = *c.tag;
    double* h = t.Hdouble;
    // Shown beside the level: the input of an enabled integrator (function 47).
    h[7] = 0.0;
    if (const Tags* z0 = TagAt(c, t.Zeiger[0]); z0 != nullptr && z0->Fkt == 47) {
        if (const Tags* first = TagAt(c, z0->Zeiger[0])) h[7] = first->Ist;
    }
    const double x = Input(c, 0);
    if (x > h[2] && h[2] > 0.0) {
        *c.status = 1;
        return 2.0;
    }
    if (x > h[0] + h[1] && h[0] > 0.0) {
        *c.status = 2;
        return 1.0;
    }
    *c.status = 3;
    return 0.0;
}

double Formula100(FormulaCall& c) {
    double* h = c.tag->Hdouble;
    long period = RefFromDouble(h[2]);
    if (period == 0) {
        period = 1;
        *c.status |= ST_CONFIG;
    } else {
        *c.status = 0;
    }
    if (IsMissing(h[0])) h[0] = 0.0;
    if (IsMissing(h[1])) h[1] = 0.0;
    const double result = h[1] - h[0];
    if (c.sec_of_day % period == 0) {
        h[0] = h[1];
        h[1] = Input(c, 0);
    }
    return result;
}

// ---- Normal volume (19, 20) ----------------------------------------------------------------------

double NormalVolume(FormulaCall& c, double gauge_offset) {
    Tags& t = *c.tag;
    double* h = t.Hdouble;
    const double flow = Input(c, 0);
    if (t.Zeiger[0] < 1 || t.Zeiger[1] < 1 || t.Zeiger[2] < 1 || !(flow > 0.0)) {
        *c.status = 3;
        return 0.0;
    }
    const double temperature = Input(c, 1), pressure = Input(c, 2);
    h[3] = h[1] / (temperature + kKelvin);
    h[4] = (pressure + gauge_offset) / h[2];
    h[5] = h[0] == 1.0 ? std::sqrt(h[3] * h[4]) : h[3] * h[4];
    const double result = flow * h[5];
    if (!std::isfinite(result)) {
        // A missing input is a configuration matter; otherwise a zero
        // denominator or a negative root made the value meaningless.
        *c.status = AnyMissing({temperature, pressure, h[1], h[2]}) ? ST_CONFIG : ST_DIVZERO;
        return kNan;
    }
    *c.status = 0;
    return result;
}

double Formula19(FormulaCall& c) { return NormalVolume(c, 0.0); }
double Formula20(FormulaCall& c) { return NormalVolume(c, 1.0); }

// ---- Plant values (600..606, 750) -----------------------------------------------------------------

// The common frame of 600..606 and 750: they start with no value and a good
// status, and end either with a value or with NaN and the reason.
class PlantValue {
public:
    explicit PlantValue(FormulaCall& c) : c_(c) {
        *c_.status = 0;
        c_.tag->Status = 0;
    }
    // Input a..e: Ist of Zeiger[0..4] when that is a valid reference.
    double In(int k) const {
        const int32_t ref = c_.tag->Zeiger[k];
        return ref != -1 && ValidTagRef(c_.sys, ref) ? c_.tags[ref].Ist : kNan;
    }
    const double* h() const { return c_.tag->Hdouble; }
    double Fail(uint32_t reason) {
        c_.tag->Ist = kNan;
        *c_.status |= reason;
        return kNan;
    }
    double Done(double value) {
        c_.tag->Ist = value;
        *c_.status |= c_.tag->Status;
        return value;
    }

private:
    FormulaCall& c_;
};

double Formula600(FormulaCall& c) {
    PlantValue f(c);
    const double* h = f.h();
    const double a = f.In(0), b = f.In(1), cin = f.In(2), d = f.In(3);
    if (AnyMissing({a, b, cin, d, h[0], h[1], h[2], h[3], h[4]})) return f.Fail(ST_CONFIG);
    if (cin + kAtmosphere == 0.0 || h[4] == 0.0) return f.Fail(ST_DIVZERO);
    if (!((d + kAtmosphere) / (cin + kAtmosphere) > 0.0)) return f.Fail(ST_DIVZERO);
    const double p1 = cin + kAtmosphere, p2 = d + kAtmosphere;
    const double x = a / p1 / h[4];
    const double u = x * h[1] + h[0] + h[2] * x * x + h[3] * p2 / p1;
    if (IsMissing(u) || u == 0.0) return f.Fail(ST_DIVZERO);
    return f.Done(a * kPowerFactor * (b + kKelvin) * std::log(p2 / p1) / u);
}

double Formula601(FormulaCall& c) {
    PlantValue f(c);
    const double* h = f.h();
    const double a = f.In(0), b = f.In(1), cin = f.In(2), d = f.In(3);
    if (AnyMissing({a, b, cin, d, h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7]})) return f.Fail(ST_CONFIG);
    if (cin + kAtmosphere == 0.0 || h[7] == 0.0) return f.Fail(ST_DIVZERO);
    if (!((d + kAtmosphere) / (cin + kAtmosphere) > 0.0)) return f.Fail(ST_DIVZERO);
    const double p1 = cin + kAtmosphere, p2 = d + kAtmosphere;
    const double x = h[0] / p1 / h[7];
    const double r = p2 / p1;
    const double u = x * h[2] + h[1] + h[3] * x * x + r * h[4] + r * r * h[5] + ((b + kKelvin) / 288.0) * h[6];
    if (IsMissing(u) || u == 0.0) return f.Fail(ST_DIVZERO);
    return f.Done(a * kPowerFactor * (b + kKelvin) * std::log(r) / u);
}

double Formula602(FormulaCall& c) {
    PlantValue f(c);
    const double* h = f.h();
    const double a = f.In(0), b = f.In(1), cin = f.In(2), d = f.In(3), e = f.In(4);
    if (AnyMissing({a, b, cin, d, e, h[0], h[1], h[2], h[3], h[4], h[5]})) return f.Fail(ST_CONFIG);
    if (h[4] == 0.0 || h[5] == 0.0) return f.Fail(ST_DIVZERO);
    const double v = (b + kKelvin - h[4]) / h[4];
    const double w = (a - h[5]) / h[5];
    return f.Done((v * h[1] + 1.0 + w * h[2]) * h[0] + (h[3] + 1.0) * cin + d + e);
}

double Formula603(FormulaCall& c) {
    PlantValue f(c);
    const double* h = f.h();
    const double a = f.In(0), b = f.In(1), cin = f.In(2);
    if (AnyMissing({a, b, cin, h[0], h[1]})) return f.Fail(ST_CONFIG);
    double result = b - cin;
    if (a < h[0] || result < h[1]) result = 0.0;
    return f.Done(result);
}

double Formula604(FormulaCall& c) {
    PlantValue f(c);
    const double* h = f.h();
    const double a = f.In(0), b = f.In(1);
    if (AnyMissing({a, b, h[0]})) return f.Fail(ST_CONFIG);
    return f.Done(a < h[0] ? 0.0 : b);
}

double Formula605(FormulaCall& c) {
    PlantValue f(c);
    const double* h = f.h();
    const double a = f.In(0), b = f.In(1), cin = f.In(2), d = f.In(3);
    if (AnyMissing({a, b, cin, d, h[0]})) return f.Fail(ST_CONFIG);
    const double result = a + b + cin - d;
    return f.Done(result < h[0] ? 0.0 : result);
}

double Formula606(FormulaCall& c) {
    PlantValue f(c);
    const double a = f.In(0), b = f.In(1), cin = f.In(2);
    if (AnyMissing({a, b, cin})) return f.Fail(ST_CONFIG);
    if (cin == 0.0) return f.Fail(ST_DIVZERO);
    return f.Done((1.0 - b) * a * 0.99 / (cin * 0.00917));
}

double Formula750(FormulaCall& c) {
    PlantValue f(c);
    const double a = Input(c, 0), b = Input(c, 1);
    if (AnyMissing({a, b})) return f.Fail(ST_CONFIG);
    constexpr double c0 = -6.205298, c1 = 0.6358036, c2 = -0.002679167, c3 = 0.06366134, c4 = 0.004244224,
                     c5 = 8.40179e-05, c6 = -1.60836e-05, c7 = -6.0226e-06, c8 = -5.72262e-07;
    const double result = c1 * b + c0 + c2 * b * b + c3 * a + c4 * b * a + c5 * b * b * a + c6 * a * a +
                          c7 * b * a * a + c8 * b * b * a * a;
    return f.Done(result);
}

constexpr FormulaEntry kArithmetic[] = {
    {1, Formula1},     {4, Formula4},     {10, Formula10},   {19, Formula19},   {20, Formula20},
    {30, Formula30},   {34, Formula34},   {35, Formula34},   {50, Formula50},   {100, Formula100},
    {114, Formula114}, {200, Formula200}, {501, Formula501}, {502, Formula502}, {511, Formula511},
    {600, Formula600}, {601, Formula601}, {602, Formula602}, {603, Formula603}, {604, Formula604},
    {605, Formula605}, {606, Formula606}, {750, Formula750},
};

}  // namespace

std::span<const FormulaEntry> ArithmeticFormulas() { return kArithmetic; }

}  // namespace calc
