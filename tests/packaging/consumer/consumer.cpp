// The worked example through the installed library, against its closed form:
// R(x) = (x1^2 + 2 x2^2 + x1 + 1) / (x1^2/2 + x2^2/2 + 1) from x0 = (1, 1).
// The first step (along x2) gives R = 2 exactly; the second moves x1 to the
// stationary point 1 - sqrt(3), where R = (6 - 3 sqrt(3)) / (3 - sqrt(3)),
// and x2 = 0 is returned as 1e-100.
#include <cmath>
#include <cstdio>
#include <limits>

#include "ratio_descent.h"

int main() {
    const double x0[] = {1.0, 1.0}, P[] = {2.0, 0.0, 0.0, 4.0}, c[] = {1.0, 0.0};
    const double Q[] = {1.0, 0.0, 0.0, 1.0}, d[] = {0.0, 0.0};
    const int iterations = 10;
    double x[2], r[iterations + 1];
    if (ratioDescentTrace(x, r, x0, P, c, 1.0, Q, d, 1.0, 2, iterations) != ratioDescentOk) {
        std::fprintf(stderr, "consumer: ratioDescentTrace failed\n");
        return 1;
    }
    const double eps = std::numeric_limits<double>::epsilon();
    const double s3 = std::sqrt(3.0);
    const double x1 = 1.0 - s3, minimum = (6.0 - 3.0 * s3) / (3.0 - s3);
    std::printf("x = (%.17g, %.17g), r(0) = %.17g, r(1) = %.17g, r(end) = %.17g\n", x[0], x[1],
                r[0], r[1], r[iterations]);
    const bool ok = std::fabs(x[0] - x1) <= 4 * eps * std::fabs(x1) && x[1] == 1e-100 &&
                    r[0] == 2.5 && r[1] == 2.0 &&
                    std::fabs(r[iterations] - minimum) <= 4 * eps * minimum;
    if (!ok) std::fprintf(stderr, "consumer: expected x = (%.17g, 1e-100), r(end) = %.17g\n", x1,
                          minimum);
    return ok ? 0 : 1;
}
