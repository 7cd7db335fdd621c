// The closed-form step along one coordinate, used by the driver; not installed.
#ifndef BRELVANE_RATIO_STEP_H
#define BRELVANE_RATIO_STEP_H

namespace brelvane {

// The step t that moves to the stationary point of lower value of
//   r(t) = (a2 t^2 + a1 t + a0) / (b2 t^2 + b1 t + b0),
// found from the roots of h t^2 + g t + l, the numerator of r'(t). NaN when
// r has no real stationary point; +-Inf or NaN when h = g = 0.
double ratioStep(double a0, double a1, double a2, double b0, double b1, double b2);

}  // namespace brelvane

#endif
