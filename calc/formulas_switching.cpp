// Switching, timing and actuator formulas: two-point switches with delays
// (2, 3), delayed pass-through by local time (21), actuators with feedback
// (31, 33), the enable chain with its restart command (36), debounce (40),
// the one-shot command (504) and the pulse output (510).  Outputs go to raw
// values, where the output links pick them up; all state lives in the tag.
#include "formulas_switching.hpp"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "clock.hpp"
#include "formula_families.hpp"
#include "qx/frame.h"
#include "values.hpp"

int SekHeute(int n) {
    if (n == 0) return 0;
    const int s = calc::LocalSecondOfDay();
    return (s + n / 2) / n * n;
}

namespace calc {
namespace {

int RunShell(const char* command) { return std::system(command); }

int WriteEvent(uint32_t event_number, const char* text) { return VelmoWriteEvent(event_number, text); }

double Input(const FormulaCall& c, int k) { return c.inputs != nullptr ? c.inputs[k] : kNan; }

Tags* TagAt(const FormulaCall& c, long number) { return ValidTagRef(c.sys, number) ? &c.tags[number] : nullptr; }

Rohwerte* RawAt(const FormulaCall& c, long number) {
    return c.roh != nullptr && ValidRohRef(c.sys, number) ? &c.roh[number] : nullptr;
}

Rohwerte* RawAt(const FormulaCall& c, double number) { return RawAt(c, RefFromDouble(number)); }

// A value taken "as int": truncated; NaN and values beyond the int range give 0.
int32_t AsInt(double value) { return static_cast<int32_t>(RefFromDouble(value)); }

// Counters in the tag's integer state wrap instead of overflowing.
void Increment(int32_t& counter) { counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1u); }

// ---- Two-point switch (2, 3) ---------------------------------------------------------------

// The switch's tag references exclude the highest tag number.
Tags* SwitchTagAt(const FormulaCall& c, int32_t number) {
    return number >= 1 && number < TagLimit(c.sys) ? &c.tags[number] : nullptr;
}

// Deadline of a timer: now + delay in whole seconds.  A negative delay counts
// as none (it would leave a timer that never expires and blocks the switch),
// and a deadline is never 0, which means "not running".
int32_t TimerDeadline(long now, double delay) {
    long seconds = RefFromDouble(delay);
    if (seconds < 0) seconds = 0;
    long long deadline = static_cast<long long>(now) + seconds;
    if (deadline < 1) deadline = 1;
    if (deadline > std::numeric_limits<int32_t>::max()) deadline = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(deadline);
}

void CountSwitchOn(Tags* counter) {
    if (counter == nullptr) return;
    counter->Ist = (IsMissing(counter->Ist) ? 0.0 : counter->Ist) + 1.0;
}

double TwoPointSwitch(FormulaCall& c, bool minimum_on_time) {
    Tags& t = *c.tag;
    double* h = t.Hdouble;
    const long now = Uptime();
    Tags* measured = SwitchTagAt(c, t.Zeiger[0]);
    Tags* counter = SwitchTagAt(c, t.Zeiger[1]);
    Tags* maximum = SwitchTagAt(c, t.Zeiger[2]);

    double x = Input(c, 0);
    if (measured != nullptr && h[3] == 1.0) {
        if (measured->Anz > 0.0) {
            h[6] = measured->Summe / measured->Anz;
            x = h[6];
        }
    } else {
        h[6] = kNan;
    }

    if (IsMissing(h[8])) {
        h[8] = 1.0;
        t.Hint[3] = 1;
    }
    int32_t off = t.Hint[3];

    if (t.Hint[0] >= 1 && t.Hint[0] < now) {
        t.Hint[0] = 0;
        if (!minimum_on_time) {
            t.Hint[3] = 0;
            off = 0;
            CountSwitchOn(counter);
        }
    }
    if (t.Hint[1] >= 1 && t.Hint[1] < now) {
        t.Hint[1] = 0;
        Increment(t.Hint[5]);
        t.Hint[3] = 1;
        off = 1;
    }
    if (x < h[0] && h[8] != 0.0 && t.Hint[0] == 0) {
        h[8] = 0.0;
        t.Hint[0] = TimerDeadline(now, h[4]);
        if (minimum_on_time) {
            t.Hint[3] = 0;
            off = 0;
            CountSwitchOn(counter);
        }
    }
    // A running on-timer blocks the off-delay.
    if (x >= h[1] && h[8] != 1.0 && t.Hint[1] == 0 && t.Hint[0] == 0) {
        h[8] = 1.0;
        t.Hint[1] = TimerDeadline(now, h[5]);
    }

    const double output = off != 0 ? 0.0 : 1.0;
    t.Ist = output;
    *c.status = measured != nullptr ? measured->Status : ST_CONFIG;

    // Largest output within the archive interval, restarted at each boundary.
    const int32_t inter = c.sys->inter;
    if (inter > 0 && c.sec_of_day % inter == 0) t.Hint[2] = static_cast<int32_t>(output);
    if (output > t.Hint[2]) t.Hint[2] = static_cast<int32_t>(output);
    if (maximum != nullptr) maximum->Ist = t.Hint[2];

    if (Rohwerte* out = RawAt(c, h[2])) out->Ist = output;
    return output;
}

double Formula2(FormulaCall& c) { return TwoPointSwitch(c, false); }
double Formula3(FormulaCall& c) { return TwoPointSwitch(c, true); }

// ---- Delayed pass-through by local time (21) -------------------------------------------------

constexpr double kSecondsPerDay = 86400.0;

double Formula21(FormulaCall& c) {
    Tags& t = *c.tag;
    double* h = t.Hdouble;
    const int n = c.sys->takt;
    double result = 0.0;
    if (t.Zeiger[0] < 1 || t.Zeiger[1] < 1) {
        *c.status = 3;
    } else {
        const double in0 = Input(c, 0);
        if (in0 == 1.0) {
            if (h[7] == 0.0) {
                h[7] = 1.0;
                h[0] = Input(c, 1) * 60.0 + SekHeute(n);  // the switching second
                if (h[0] > kSecondsPerDay) h[6] = h[0] - kSecondsPerDay;
            } else {
                // Just after midnight the switching second moves to the new day.
                if (SekHeute(n) < 10) h[0] = h[6];
                result = h[0] <= SekHeute(n) ? in0 : t.Ist;
            }
        } else {
            h[6] = 0.0;
            h[7] = 0.0;
        }
        *c.status = 0;
    }
    h[4] = SekHeute(n);
    return result;
}

// ---- Actuators (31, 33) ----------------------------------------------------------------------

double Formula31(FormulaCall& c) {
    Tags& t = *c.tag;
    double* h = t.Hdouble;
    Rohwerte* k = RawAt(c, h[0]);  // coil for command 0
    Rohwerte* j = RawAt(c, h[1]);  // coil for command 1
    Rohwerte* v = RawAt(c, h[2]);  // feedback of k
    Rohwerte* w = RawAt(c, h[3]);  // feedback of j
    const Rohwerte* ready = RawAt(c, h[4]);

    *c.status = 0;
    if (ready != nullptr && ready->Ist != 1.0) *c.status |= ST_NOTREADY;
    if (IsMissing(h[5])) h[5] = 1.0;
    if (IsMissing(h[7])) h[7] = 0.0;

    // Release once R(j) carries a write time other than the one remembered.
    if (h[5] == 1.0 && k != nullptr && j != nullptr) {
        const double written = j->WriteTime;
        if (written != h[7]) {
            k->Ist = 0.0;
            j->Ist = 0.0;
            t.Ist = -1.0;
            h[5] = 0.0;
            h[7] = written;
        }
    }

    double remembered = t.Ist;
    if (k != nullptr && j != nullptr && v != nullptr && w != nullptr && !IsMissing(t.Ist)) {
        if (h[5] == 0.0 && (t.Ist == 1.0 || t.Ist == 0.0)) {
            const bool on = t.Ist == 1.0;
            k->Ist = on ? 0.0 : 1.0;
            j->Ist = on ? 1.0 : 0.0;
            h[5] = 1.0;
            remembered = j->WriteTime;
        }
        h[7] = remembered;
        k->Status = 0;
        j->Status = 0;
        const bool numbers = !IsMissing(k->Ist) && !IsMissing(j->Ist) && !IsMissing(v->Ist) && !IsMissing(w->Ist);
        if (numbers && k->Ist == v->Ist && j->Ist == w->Ist) *c.status &= ~ST_FEEDBACK;
        else *c.status |= ST_FEEDBACK;
        *c.status |= v->Status | w->Status;
    }
    return t.Ist;
}

double Formula33(FormulaCall& c) {
    Tags& t = *c.tag;
    double* h = t.Hdouble;
    Rohwerte* coil = RawAt(c, h[0]);
    const Rohwerte* feedback = RawAt(c, h[2]);

    if (IsMissing(h[3])) h[3] = 1.0;
    if (IsMissing(h[4])) h[4] = 0.0;
    if (IsMissing(h[7])) h[7] = 0.0;

    // Without both numbers nothing is executed: a coil switched on without its
    // feedback number could never be released again.
    if (coil != nullptr && feedback != nullptr) {
        if (h[3] == 1.0) {
            const double written = coil->WriteTime;
            if (written != h[7]) {
                t.Ist = 0.0;
                coil->Ist = 0.0;
                h[3] = 0.0;
                h[7] = written;
            }
        }
        if (t.Ist == 1.0 && h[3] == 0.0) {
            coil->Ist = 1.0;
            h[3] = 1.0;
            h[7] = coil->WriteTime;
        }
    }
    if (feedback != nullptr) h[4] = feedback->Ist;
    return t.Ist;
}

// ---- Enable chain with restart command (36) ----------------------------------------------------

// "Reading" a flag turns a missing value into 0 in the tag itself.
double ReadFlag(Tags& flag) {
    if (IsMissing(flag.Ist)) flag.Ist = 0.0;
    return flag.Ist;
}

void RunRestartCommand() {
    char directory[256] = {};
    GetVelmo98WorkingDir(directory);
    char command[320];
    std::snprintf(command, sizeof command, kRestartCommandFormat, directory);
    SwitchingCommands& io = switching_commands();
    io.write_event(kRestartEventInfo, command);
    if (io.run_shell(command) == 0) io.write_event(kRestartEventInfo, "Neustart erfolgreich");
    else io.write_event(kRestartEventError, "Neustart fehlgeschlagen!");
}

double Formula36(FormulaCall& c) {
    Tags& t = *c.tag;
    const double* h = t.Hdouble;
    const long first = RefFromDouble(h[0]), second = RefFromDouble(h[1]);
    const long latch = RefFromDouble(h[2]), copy = RefFromDouble(h[3]);
    if (first == -1 || second == -1 || latch == -1 || copy == -1) {
        t.Ist = kNan;
        return kNan;
    }
    // A reference out of range is neither read nor written; its values count as 0.
    Tags* j = TagAt(c, first);
    Tags* l = TagAt(c, second);
    Tags* m = TagAt(c, latch);
    Tags* a_tag = TagAt(c, copy);
    Tags* done = TagAt(c, RefFromDouble(h[4]));

    double a = 0.0, b = 0.0, cc = 0.0, d = 0.0, e = 0.0;
    if (j != nullptr) {
        a = ReadFlag(*j);
        if (m != nullptr) {
            if (a == 0.0) m->Ist = 0.0;
            else if (ReadFlag(*m) == 0.0) m->Ist = 1.0;
            b = m->Ist;
        }
    }
    if (l != nullptr) {
        cc = ReadFlag(*l);
        d = cc == 0.0 ? 0.0 : 1.0;
        if (a_tag != nullptr) a_tag->Ist = d;
    }
    if (done != nullptr) e = ReadFlag(*done);

    if (a == 0.0 || b == 0.0 || cc == 0.0 || d == 0.0) {
        if (done != nullptr) done->Ist = 0.0;
    } else if (e == 0.0 && done != nullptr) {
        // Only with a done flag: without one the command would run every cycle.
        RunRestartCommand();
        done->Ist = 1.0;
    }
    const double result = a + cc + b + d + e;
    t.Ist = result;
    return result;
}

// ---- Debounce (40) -----------------------------------------------------------------------------

double Formula40(FormulaCall& c) {
    Tags& t = *c.tag;
    const double* h = t.Hdouble;
    const Rohwerte* raw = RawAt(c, h[0]);
    if (raw == nullptr || IsMissing(h[1]) || IsMissing(h[2])) {
        t.Hint[1] = 0;
        t.Hint[2] = 0;
        t.Hint[3] = raw != nullptr ? AsInt(raw->Ist) : 0;
        return kNan;
    }
    const double v = raw->Ist;
    // The marker resets the counters: -1 on a tag never evaluated, or any
    // non-zero value set from outside.  Counting then starts from this sample.
    if (t.Hint[0] != 0) {
        t.Hint[0] = 0;
        t.Hint[1] = 0;
        t.Hint[2] = 0;
        t.Hint[3] = AsInt(v);
    }
    Increment(t.Hint[1]);
    if (t.Hint[1] >= h[1]) {
        t.Hint[1] = 0;
        if (v == t.Hint[3]) {
            Increment(t.Hint[2]);
            if (t.Hint[2] >= h[2]) {
                t.Ist = v;
                t.Hint[1] = 0;
                t.Hint[2] = 0;
                t.Hint[3] = AsInt(v);
            }
        } else {
            t.Hint[3] = AsInt(v);
            t.Hint[2] = 0;
        }
    }
    return t.Ist;
}

// ---- One-shot command (504) and pulse output (510) ---------------------------------------------

double Formula504(FormulaCall& c) {
    double* h = c.tag->Hdouble;
    if (h[0] == 1.0) {
        switching_commands().run_shell(kListingCommand);  // its result is not used
        h[0] = 0.0;
    }
    return 0.0;
}

double Formula510(FormulaCall& c) {
    Tags& t = *c.tag;
    double* h = t.Hdouble;
    // This output may be the last raw value.
    const long number = RefFromDouble(h[0]);
    Rohwerte* out = c.roh != nullptr && ValidRohRefInclusive(c.sys, number) ? &c.roh[number] : nullptr;
    double result = 0.0;
    if (out != nullptr && t.Ist == 1.0) {
        if (h[1] > 0.0) {
            h[1] -= 1.0;
            out->Ist = 1.0;
            result = 1.0;
        } else {
            h[1] = h[2];
            t.Ist = 0.0;
            out->Ist = 0.0;
        }
        out->Status = 0;
        out->ValidUntil = QX_VALID_FOREVER;
        out->WriteTime = 0xFFFFFFFFu;
    }
    *c.status = 0;
    return result;
}

constexpr FormulaEntry kSwitching[] = {
    {2, Formula2},   {3, Formula3},   {21, Formula21},   {31, Formula31},   {33, Formula33},
    {36, Formula36}, {40, Formula40}, {504, Formula504}, {510, Formula510},
};

}  // namespace

SwitchingCommands& switching_commands() {
    static SwitchingCommands commands{RunShell, WriteEvent};
    return commands;
}

void ResetSwitchingCommands() { switching_commands() = SwitchingCommands{RunShell, WriteEvent}; }

std::span<const FormulaEntry> SwitchingFormulas() { return kSwitching; }

}  // namespace calc
