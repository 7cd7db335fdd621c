// The worked example through the installed library, against its closed form:
// R(x) = (x1^2 + 2 x2^2 + x1 + 1) / (x1^2/2 + x2^2/2 + 1) from x0 = (1, 1).
// The first step (along x2) gives R = 2 exactly; the second moves x1 to the
// stationary point 1 - sqrt(3), where R = (6 - 3 sqrt(3)) / (3 - sqrt(3)),
// and x2 = 0 is returned as 1e-100.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include <brelvane/ratio_descent.h>

// The program's own dotProduct, with the signature of the solver's internal
// one: the library keeps that in namespace brelvane, out of its header, so
// neither the compiler nor the linker sees two of them.
double dotProduct(const double* p, const double* q, std::int64_t n) {
    double s = 0.0;
    for (std::int64_t i = 0; i < n; ++i) s += p[i] * q[i];
    return s;
}

int main() {
    const double x0[] = {1.0, 1.0}, P[] = {2.0, 0.0, 0.0, 4.0}, c[] = {1.0, 0.0};
    const double Q[] = {1.0, 0.0, 0.0, 1.0}, d[] = {0.0, 0.0};
    const int iterations = 10;
    double x[2], r[iterations + 1];
    if (brelvane::ratioDescentTrace(x, r, x0, P, c, 1.0, Q, d, 1.0, 2, iterations) !=
        brelvane::ratioDescentOk) {
        std::fprintf(stderr, "consumer: ratioDescentTrace failed\n");
        return 1;
    }
    const double eps = std::numeric_limits<double>::epsilon();
    const double s3 = std::sqrt(3.0);
    const double x1 = 1.0 - s3, minimum = (6.0 - 3.0 * s3) / (3.0 - s3);
    // R at the returned x, evaluated afresh (P and Q are diagonal).
    const double Px[] = {P[0] * x[0], P[3] * x[1]}, Qx[] = {Q[0] * x[0], Q[3] * x[1]};
    const double R = (0.5 * dotProduct(x, Px, 2) + dotProduct(c, x, 2) + 1.0) /
                     (0.5 * dotProduct(x, Qx, 2) + dotProduct(d, x, 2) + 1.0);
    std::printf("x = (%.17g, %.17g), r(0) = %.17g, r(1) = %.17g, r(end) = %.17g, R(x) = %.17g\n",
                x[0], x[1], r[0], r[1], r[iterations], R);
    const bool ok = std::fabs(x[0] - x1) <= 4 * eps * std::fabs(x1) && x[1] == 1e-100 &&
                    r[0] == 2.5 && r[1] == 2.0 &&
                    std::fabs(r[iterations] - minimum) <= 4 * eps * minimum &&
                    std::fabs(R - minimum) <= 8 * eps * minimum;
    if (!ok) std::fprintf(stderr, "consumer: expected x = (%.17g, 1e-100), R = %.17g\n", x1,
                          minimum);
    return ok ? 0 : 1;
}
