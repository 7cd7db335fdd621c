// A plain second evaluation of the solve with checkpoints: the descent one step at a
// time over whole vectors, and the Ritz step formed afresh from the kept points.
#ifndef BRELVANE_STRAIGHTFORWARD_ACCELERATED_H
#define BRELVANE_STRAIGHTFORWARD_ACCELERATED_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "random_problems.h"
#include "ritz_step.h"
#include "straightforward_solver.h"

// A point with its products, and the scales of those (the largest
// magnitude their entries were summed at since they were last formed afresh).
struct PlainPoint {
    std::vector<double> x, Px, Qx;
    double scaleP = 0, scaleQ = 0;
};

struct PlainRun {
    std::vector<double> x, ratios;  // ratios: R after each iteration, R(x0) first
    std::int64_t iterations = 0;
    brelvane::RatioDescentStop stop = brelvane::ratioDescentStopIterations;
    double gradient = 0, residual = 0;
    std::int64_t accelerations = 0;
};

class PlainAcceleratedDescent {
public:
    // w: the weights of the choice, or empty for none.
    PlainAcceleratedDescent(const Problem& p, const brelvane::RatioDescentOptions& o,
                            std::vector<double> w)
        : p_(p), o_(o), w_(std::move(w)), rw_(weightsOf(p)), n_(p.n), L_(p.n > 2 ? p.n : 2) {
        rwBorder_ = 1.0;
        const auto usable = [](double q) { return std::isnormal(q) && q > 0.0; };
        if (usable(2.0 * p.beta)) rwBorder_ = powerOfTwoFor(2.0 * p.beta);
        else if (usable(std::fabs(2.0 * p.alpha))) rwBorder_ = powerOfTwoFor(std::fabs(2.0 * p.alpha));
    }

    template <class Product>
    PlainRun run(std::int64_t iterations, Product product) {
        product_ = [&](const std::vector<double>& A, const std::vector<double>& x) {
            return product(A, x, n_);
        };
        cur_.x = p_.x0;
        formAfresh(0);
        ritz_ = o_.acceleration == brelvane::ratioDescentAccelerationRitz;
        if (ritz_) kept_.push_front(cur_);
        const bool checkpoints = ritz_ || o_.tolerance > 0.0;
        PlainRun r;
        r.ratios.push_back(R());
        if (iterations <= 0) return finish(r, 0, brelvane::ratioDescentStopIterations, 0);
        brelvane::RatioDescentStop stop;
        if (checkpoints && (stop = tests(r, 0)) != brelvane::ratioDescentStopIterations)
            return finish(r, 0, stop, iterations);
        for (std::int64_t t = 1; t <= iterations; ++t) {
            if (o_.gradientTolerance > 0.0 && meetsGradientTolerance(t - 1))
                return finish(r, t - 1, brelvane::ratioDescentStopGradient, iterations);
            const bool same = step(choice());
            r.ratios.push_back(R());
            if (same) {
                // Changed nothing: every iteration repeats it up to the next
                // checkpoint, where a Ritz step or fresh products may go on.
                const std::int64_t c = (t + L_ - 1) / L_ * L_;
                if (ritz_ && c <= iterations) {
                    r.ratios.resize(static_cast<std::size_t>(c) + 1, R());
                    bool changed = checkpoint(r, c);
                    if ((stop = tests(r, c, &changed)) != brelvane::ratioDescentStopIterations)
                        return finish(r, c, stop, iterations);
                    if (changed) {
                        if (c == iterations)
                            return finish(r, c, brelvane::ratioDescentStopIterations, iterations);
                        t = c;
                        continue;
                    }
                }
                return finish(r, t, brelvane::ratioDescentStopStationary, iterations);
            }
            if (checkpoints && t % L_ == 0) {
                checkpoint(r, t);
                if ((stop = tests(r, t)) != brelvane::ratioDescentStopIterations)
                    return finish(r, t, stop, iterations);
            }
        }
        return finish(r, iterations, brelvane::ratioDescentStopIterations, iterations);
    }

private:
    double N() const { return (0.5 * xPx_ + cx_) + p_.alpha; }
    double D() const { return (0.5 * xQx_ + dx_) + p_.beta; }
    double R() const { return N() / D(); }

    void fresh(const PlainPoint& a, double& xPx, double& cx, double& xQx, double& dx) const {
        xPx = cx = xQx = dx = 0.0;
        for (std::int64_t j = 0; j < n_; ++j) xPx += a.x[j] * a.Px[j];
        for (std::int64_t j = 0; j < n_; ++j) cx += a.x[j] * p_.c[j];
        for (std::int64_t j = 0; j < n_; ++j) xQx += a.x[j] * a.Qx[j];
        for (std::int64_t j = 0; j < n_; ++j) dx += p_.d[j] * a.x[j];
    }
    static double largest(const std::vector<double>& v) {
        double m = 0;
        for (double e : v) m = std::fmax(m, std::fabs(e));
        return m;
    }
    // The products of a point formed afresh, with their scales.
    void formProducts(PlainPoint& a) const {
        a.Px = product_(p_.P, a.x);
        a.Qx = product_(p_.Q, a.x);
        a.scaleP = largest(a.Px), a.scaleQ = largest(a.Qx);
    }
    void formAfresh(std::int64_t t) {
        formProducts(cur_);
        fresh(cur_, xPx_, cx_, xQx_, dx_);
        fresh_ = true, unverified_ = false, formedAt_ = t;
    }
    // How many times their largest entries a point's products were summed at.
    static double amplification(double sP, double bigP, double sQ, double bigQ) {
        return std::fmax(sP > bigP ? sP / bigP : 1.0, sQ > bigQ ? sQ / bigQ : 1.0);
    }
    // ratioMagnitude: how far R moves with the rounding of N and D.
    double magnitude(double xPx, double cx, double xQx, double dx, double R, double D) const {
        const double sN = 0.5 * std::fabs(xPx) + std::fabs(cx) + std::fabs(p_.alpha);
        const double sD = 0.5 * std::fabs(xQx) + std::fabs(dx) + std::fabs(p_.beta);
        return (sN + std::fabs(R) * sD) / std::fabs(D);
    }

    double value(std::int64_t j) const {
        const double g = (cur_.Px[j] + p_.c[j]) / D() - ((cur_.Qx[j] + p_.d[j]) * R()) / D();
        return w_.empty() ? g : w_[j] * g;
    }
    double magnitude(std::int64_t k) const { return std::fabs(value(k)); }
    std::int64_t choice() const {
        std::int64_t k = 0;
        for (std::int64_t j = 1; j < n_; ++j)
            if (std::fabs(value(j)) > std::fabs(value(k))) k = j;
        return k;
    }
    // The magnitude at the choice, or NaN when any value is NaN.
    double gradient() const {
        for (std::int64_t j = 0; j < n_; ++j)
            if (std::isnan(value(j))) return std::numeric_limits<double>::quiet_NaN();
        return magnitude(choice());
    }
    bool meetsGradientTolerance(std::int64_t t) {
        if (!(gradient() <= o_.gradientTolerance)) return false;
        if (ritz_ && !fresh_ && (unverified_ || t - formedAt_ >= L_)) {
            formAfresh(t);
            return gradient() <= o_.gradientTolerance;
        }
        return true;
    }

    // One iteration along k; true when it changed nothing, bit for bit.
    bool step(std::int64_t k) {
        const double Pkk = p_.P[k + k * n_], Qkk = p_.Q[k + k * n_];
        const double t = plainRatioStep(N(), cur_.Px[k] + p_.c[k], Pkk * 0.5, D(),
                                        cur_.Qx[k] + p_.d[k], Qkk * 0.5);
        const PlainPoint before = cur_;
        const double scalars[] = {xPx_, xQx_, cx_, dx_};
        cur_.x[k] += t;
        xQx_ = (t * 2.0 * cur_.Qx[k] + xQx_) + t * t * Qkk;
        xPx_ = (t * 2.0 * cur_.Px[k] + xPx_) + t * t * Pkk;
        bool same = !std::isnan(t) && bits(cur_.x[k]) == bits(before.x[k]);
        for (std::int64_t j = 0; j < n_; ++j) {
            cur_.Px[j] += t * p_.P[j + k * n_];
            cur_.Qx[j] += t * p_.Q[j + k * n_];
            same = same && !std::isnan(cur_.Px[j]) && !std::isnan(cur_.Qx[j]) &&
                   bits(cur_.Px[j]) == bits(before.Px[j]) && bits(cur_.Qx[j]) == bits(before.Qx[j]);
        }
        cx_ += t * p_.c[k];
        dx_ += t * p_.d[k];
        const double after[] = {xPx_, xQx_, cx_, dx_};
        for (int i = 0; i < 4; ++i) same = same && bits(after[i]) == bits(scalars[i]);
        fresh_ = false;
        return same;
    }

    static std::uint64_t bits(double v) {
        std::uint64_t u;
        std::memcpy(&u, &v, sizeof u);
        return u;
    }

    // The bordered residual, weighted as in the diagonally scaled variables.
    double residual() const {
        const double lN = cx_ + 2.0 * p_.alpha, lD = dx_ + 2.0 * p_.beta;
        double top = rwBorder_ * std::fabs(lN - R() * lD);
        double gN = rwBorder_ * std::fabs(lN), gD = rwBorder_ * std::fabs(lD);
        if (std::isnan(top)) return std::numeric_limits<double>::quiet_NaN();
        for (std::int64_t j = 0; j < n_; ++j) {
            const double a = cur_.Px[j] + p_.c[j], b = cur_.Qx[j] + p_.d[j];
            const double e = rw_[j] * std::fabs(a - R() * b);
            if (std::isnan(e)) return std::numeric_limits<double>::quiet_NaN();
            top = std::fmax(top, e), gN = std::fmax(gN, rw_[j] * std::fabs(a)),
            gD = std::fmax(gD, rw_[j] * std::fabs(b));
        }
        const double bottom = gN + std::fabs(R()) * gD;
        return bottom == 0.0 ? 0.0 : top / bottom;
    }

    // The tests of a checkpoint, after its Ritz step: R finite, the
    // tolerance (decided on fresh products with Ritz steps), the stall.
    brelvane::RatioDescentStop tests(PlainRun& r, std::int64_t t, bool* changed = nullptr) {
        r.ratios.back() = R();
        if (!std::isfinite(R())) return brelvane::ratioDescentStopNotFinite;
        if (o_.tolerance <= 0.0) return brelvane::ratioDescentStopIterations;
        double eta = residual();
        if (eta <= o_.tolerance && ritz_ && !fresh_) {
            formAfresh(t);
            r.ratios.back() = R();
            eta = residual();
            if (changed) *changed = true;
        }
        if (eta <= o_.tolerance) return brelvane::ratioDescentStopTolerance;
        if (stalled(eta, R(), 0x1p-49 * magnitude(xPx_, cx_, xQx_, dx_, R(), D())))
            return brelvane::ratioDescentStopStalled;
        return brelvane::ratioDescentStopIterations;
    }

    // Over the window [start, c] (at least 5 checkpoints, and half as many
    // as before it): no fall of R beyond the rounding of its corrections, and eta, at the rate its
    // lowest fell, needing more checkpoints than c to reach the tolerance
    // (log2 read off the exponent and mantissa). A window as long as what
    // came before it ends there.
    static double roughLog2(double v) {
        int e = 0;
        const double m = std::frexp(v, &e);
        return (e - 1) + (2.0 * m - 1.0);
    }
    bool stalled(double eta, double R, double rounding) {
        etas_.push_back(eta), Rs_.push_back(R), roundings_.push_back(rounding);
        const std::int64_t c = static_cast<std::int64_t>(etas_.size()) - 1, span = c - start_;
        bool stall = false;
        const double gathered = std::sqrt(static_cast<double>(span * L_));
        if (span >= 5 && 2 * span >= start_ && !(Rs_[start_] - R > (roundings_[start_] + rounding) * gathered)) {
            double before = std::numeric_limits<double>::infinity(), since = before;
            for (std::int64_t i = 0; i <= start_; ++i) before = std::fmin(before, etas_[i]);
            for (std::int64_t i = start_ + 1; i <= c; ++i) since = std::fmin(since, etas_[i]);
            stall = !(since < before) || roughLog2(since) - roughLog2(o_.tolerance) >
                                             (roughLog2(before) - roughLog2(since)) / static_cast<double>(span) *
                                                 static_cast<double>(c);
        }
        if (span >= 5 && span >= start_) start_ = c;
        return stall;
    }

    // The Ritz step of the checkpoint after t iterations; true when it
    // changed the state.
    bool checkpoint(PlainRun& r, std::int64_t t) {
        if (!ritz_) return false;
        const double start[] = {xPx_, xQx_, cx_, dx_};
        bool refreshed = false;
        const double bigP = largest(cur_.Px), bigQ = largest(cur_.Qx);
        cur_.scaleP = std::fmax(cur_.scaleP, bigP), cur_.scaleQ = std::fmax(cur_.scaleQ, bigQ);
        double ay = amplification(cur_.scaleP, bigP, cur_.scaleQ, bigQ);
        if (ay > brelvane::ritzTrustedAmplification) {
            formAfresh(t);
            refreshed = true;
            ay = 1.0;
        }
        std::vector<const PlainPoint*> b{&cur_};
        for (const PlainPoint& k : kept_) b.push_back(&k);
        const int m = static_cast<int>(b.size());
        std::vector<double> xPx(m * m), xQx(m * m), cx(m), dx(m);
        for (int i = 0; i < m; ++i) {
            double unused;
            fresh(*b[i], xPx[i + i * m], cx[i], xQx[i + i * m], dx[i]);
            for (int j = i + 1; j < m; ++j) {  // i newer than j
                fresh(PlainPoint{b[i]->x, b[j]->Px, b[j]->Qx}, xPx[i + j * m], unused,
                      xQx[i + j * m], unused);
                xPx[j + i * m] = xPx[i + j * m], xQx[j + i * m] = xQx[i + j * m];
            }
        }
        const double Dy = (0.5 * xQx[0] + dx[0]) + p_.beta;
        const double Ry = ((0.5 * xPx[0] + cx[0]) + p_.alpha) / Dy;
        const double sign = Dy < 0 ? -1.0 : 1.0;
        std::vector<double> A(m * m), B(m * m), u(m);
        for (int i = 0; i < m; ++i)
            for (int j = 0; j < m; ++j) {
                const int a = i < j ? i : j, c = i < j ? j : i;
                A[i + j * m] = sign * (((xPx[a + c * m] + cx[a]) + cx[c]) + 2.0 * p_.alpha);
                B[i + j * m] = sign * (((xQx[a + c * m] + dx[a]) + dx[c]) + 2.0 * p_.beta);
            }
        double rho = 0;
        bool ok = (Dy > 0 || Dy < 0) && brelvane::lowestRitzVector(m, A.data(), B.data(), u.data(), &rho) &&
                  Ry - rho > 0.5 * brelvane::ritzLeastFall * std::fabs(Ry);
        if (ok) {
            bool homogeneous = p_.alpha == 0.0 && p_.beta == 0.0;
            for (std::int64_t j = 0; j < n_; ++j) homogeneous = homogeneous && p_.c[j] == 0.0 && p_.d[j] == 0.0;
            if (homogeneous) {
                const double g = std::sqrt(B[0]), f = u[0] < 0 ? -g : g;
                for (double& v : u) v = f * v;
            } else {
                double s = 0;
                for (double v : u) s = s + v;
                ok = s != 0.0 && std::isfinite(s);
                for (double& v : u) v = v / s;
            }
            for (double v : u) ok = ok && std::isfinite(v);
        }
        bool accepted = false;
        if (ok) {
            PlainPoint next{std::vector<double>(n_), std::vector<double>(n_), std::vector<double>(n_)};
            for (std::int64_t j = 0; j < n_; ++j) {
                double x = u[m - 1] * b[m - 1]->x[j], Px = u[m - 1] * b[m - 1]->Px[j],
                       Qx = u[m - 1] * b[m - 1]->Qx[j];
                for (int i = m - 2; i >= 0; --i) {
                    x = x + u[i] * b[i]->x[j];
                    Px = Px + u[i] * b[i]->Px[j];
                    Qx = Qx + u[i] * b[i]->Qx[j];
                }
                next.x[j] = x, next.Px[j] = Px, next.Qx[j] = Qx;
                ok = ok && std::isfinite(x);
            }
            double nPx = 0, ncx = 0, nQx = 0, ndx = 0, margin = 0, an = 1.0;
            bool verified = false;
            if (ok) {
                double sP = u[0] * b[0]->scaleP, sQ = u[0] * b[0]->scaleQ;
                double mP = std::fabs(u[0]) * largest(b[0]->Px), mQ = std::fabs(u[0]) * largest(b[0]->Qx);
                for (int i = 1; i < m; ++i)
                    sP = sP + u[i] * b[i]->scaleP, sQ = sQ + u[i] * b[i]->scaleQ,
                    mP = mP + std::fabs(u[i]) * largest(b[i]->Px), mQ = mQ + std::fabs(u[i]) * largest(b[i]->Qx);
                sP = std::fmax(std::fabs(sP), mP), sQ = std::fmax(std::fabs(sQ), mQ);
                next.scaleP = sP, next.scaleQ = sQ;
                fresh(next, nPx, ncx, nQx, ndx);
                const double Rn = ((0.5 * nPx + ncx) + p_.alpha) / ((0.5 * nQx + ndx) + p_.beta);
                margin = std::fabs(Rn - rho);
                an = amplification(sP, largest(next.Px), sQ, largest(next.Qx));
                verified = an > brelvane::ritzTrustedAmplification ||
                           !(margin <= brelvane::ritzAgreement * std::fmax(std::fabs(Rn), std::fabs(rho)));
                if (verified) {
                    formProducts(next);
                    fresh(next, nPx, ncx, nQx, ndx);
                    margin = 0, an = 1.0;
                }
            }
            const double Dn = (0.5 * nQx + ndx) + p_.beta;
            const double Rn = ((0.5 * nPx + ncx) + p_.alpha) / Dn;
            const double rounding = 0x1p-49 * (std::sqrt(ay) * magnitude(xPx[0], cx[0], xQx[0], dx[0], Ry, Dy) +
                                               std::sqrt(an) * magnitude(nPx, ncx, nQx, ndx, Rn, Dn));
            accepted = ok && ((Dn > 0 && Dy > 0) || (Dn < 0 && Dy < 0)) &&
                       Ry - Rn > std::fmax(std::fmax(brelvane::ritzLeastFall * std::fabs(Ry), 4.0 * margin),
                                           rounding);
            if (accepted) {
                cur_ = next;
                xPx_ = nPx, cx_ = ncx, xQx_ = nQx, dx_ = ndx;
                ++r.accelerations;
                fresh_ = verified;
                unverified_ = !verified;
                if (verified) formedAt_ = t;
            }
        }
        if (!accepted && std::isfinite(Ry) && !(std::fabs(Ry - R()) <= brelvane::ritzDrift * std::fabs(Ry)))
            xPx_ = xPx[0], cx_ = cx[0], xQx_ = xQx[0], dx_ = dx[0];
        kept_.push_front(cur_);
        if (static_cast<int>(kept_.size()) > brelvane::ritzKeptStarts) kept_.pop_back();
        const double end[] = {xPx_, xQx_, cx_, dx_};
        bool changed = accepted || refreshed;
        for (int i = 0; i < 4; ++i) changed = changed || bits(start[i]) != bits(end[i]);
        return changed;
    }

    // The end: products formed afresh with Ritz steps, the trace cut or
    // filled out at the returned point.
    PlainRun finish(PlainRun& r, std::int64_t iterations, brelvane::RatioDescentStop stop,
                    std::int64_t count) {
        if (ritz_ && !fresh_) formAfresh(iterations);
        r.ratios.resize(static_cast<std::size_t>(stop == brelvane::ratioDescentStopStationary ? count
                                                                                             : iterations) + 1);
        for (std::size_t t = static_cast<std::size_t>(iterations); t < r.ratios.size(); ++t)
            r.ratios[t] = R();
        r.iterations = iterations;
        r.stop = stop;
        r.gradient = gradient();
        r.residual = residual();
        r.x = cur_.x;
        for (double& v : r.x)
            if (v == 0) v = 1e-100;
        return r;
    }

    const Problem& p_;
    brelvane::RatioDescentOptions o_;
    std::vector<double> w_, rw_;
    double rwBorder_;
    std::int64_t n_, L_;
    std::function<std::vector<double>(const std::vector<double>&, const std::vector<double>&)> product_;
    bool ritz_ = false, fresh_ = true, unverified_ = false;
    std::int64_t formedAt_ = 0;
    PlainPoint cur_;
    double xPx_ = 0, cx_ = 0, xQx_ = 0, dx_ = 0;
    std::deque<PlainPoint> kept_;
    std::vector<double> etas_, Rs_, roundings_;
    std::int64_t start_ = 0;
};

#endif
