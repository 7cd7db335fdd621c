// Closed-form step along one coordinate of a ratio of quadratics.
#include <cmath>

#include "ratio_step.h"

namespace brelvane {

namespace {

// r(t) = (a2 t^2 + a1 t + a0) / (b2 t^2 + b1 t + b0), terms added left to right.
double ratioAt(double t, double a0, double a1, double a2, double b0, double b1, double b2) {
    return ((t * a2) * t + t * a1 + a0) / ((t * b2) * t + t * b1 + b0);
}

}  // namespace

// r'(t) = 0  <=>  h t^2 + g t + l = 0 with
//   h = a2 b1 - a1 b2,  g = 2 (a2 b0 - a0 b2),  l = a1 b0 - a0 b1.
// Returns the root at which r is smaller (t2 on ties and NaN comparisons).
double ratioStep(double a0, double a1, double a2, double b0, double b1, double b2) {
    const double h = a2 * b1 - a1 * b2;
    const double g = (a2 * 2.0) * b0 - (b2 * 2.0) * a0;
    const double l = a1 * b0 - a0 * b1;
    // The root of the discriminant is taken first, whatever h is: a negative
    // discriminant makes both quadratic candidates NaN.
    const double m = std::sqrt(g * g - (h * 4.0) * l);
    double t1;
    double t2;
    if (h != 0.0) {  // true for NaN
        t1 = (m - g) / (h * 2.0);
        t2 = (-g - m) / (h * 2.0);
    } else {
        // Linear case g t + l = 0; both candidates coincide.
        t1 = -(l / g);
        t2 = t1;
    }
    const double r1 = ratioAt(t1, a0, a1, a2, b0, b1, b2);
    const double r2 = ratioAt(t2, a0, a1, a2, b0, b1, b2);
    return r2 > r1 ? t1 : t2;
}

}  // namespace brelvane
