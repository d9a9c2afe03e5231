// The power-factor characteristic of the set-value formulas, on its own so
// that it can be checked apart from the formula that uses it.
#pragma once

// The power factor on the characteristic from 1 at power p0 down to |cmax| at
// p1, with a hysteresis band p2 wide toward higher power; g is the previous
// power factor.  The result carries the sign of cmax; NaN for p1 = p0 or a
// negative band.
double PhiHysteresisArea(double p0, double p1, double p2, double cmax, double P, double g);
