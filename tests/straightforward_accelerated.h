// A plain second evaluation of the solve with checkpoints: the descent one step at a
// time over whole vectors, and the Ritz step formed afresh from the kept points.
#ifndef BRELVANE_STRAIGHTFORWARD_ACCELERATED_H
#define BRELVANE_STRAIGHTFORWARD_ACCELERATED_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <vector>

#include "brelvane/ratio_descent.h"
#include "random_problems.h"
#include "ritz_step.h"
#include "straightforward_solver.h"

// A point with its products.
struct PlainPoint {
    std::vector<double> x, Px, Qx;
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
        : p_(p), o_(o), w_(std::move(w)), n_(p.n), L_(p.n > 2 ? p.n : 2) {}

    template <class Product>
    PlainRun run(std::int64_t iterations, Product product) {
        cur_.x = p_.x0;
        cur_.Px = product(p_.P, cur_.x, n_);
        cur_.Qx = product(p_.Q, cur_.x, n_);
        fresh(cur_, xPx_, cx_, xQx_, dx_);
        const bool ritz = o_.acceleration == brelvane::ratioDescentAccelerationRitz;
        if (ritz) kept_.push_front(cur_);
        const bool checkpoints = ritz || o_.tolerance > 0.0;
        PlainRun r;
        r.ratios.push_back(R());
        if (checkpoints && meetsTolerance()) return finish(r, 0, brelvane::ratioDescentStopTolerance);
        for (std::int64_t t = 1; t <= iterations; ++t) {
            const std::int64_t k = choice();
            if (o_.gradientTolerance > 0.0 && gradient() <= o_.gradientTolerance)
                return finish(r, t - 1, brelvane::ratioDescentStopGradient);
            if (step(k)) {
                // Changed nothing: every iteration repeats it up to the next
                // checkpoint, where a Ritz step or fresh scalars may go on.
                r.ratios.push_back(R());
                const std::int64_t c = (t + L_ - 1) / L_ * L_;
                if (ritz && c <= iterations) {
                    r.ratios.resize(static_cast<std::size_t>(c) + 1, R());
                    if (checkpoint(r)) {
                        r.ratios.back() = R();
                        if (meetsTolerance()) return finish(r, c, brelvane::ratioDescentStopTolerance);
                        t = c;
                        continue;
                    }
                }
                const double repeated = r.ratios[t];
                r.ratios.resize(static_cast<std::size_t>(iterations) + 1, repeated);
                return finish(r, t, brelvane::ratioDescentStopStationary);
            }
            r.ratios.push_back(R());
            if (checkpoints && t % L_ == 0) {
                checkpoint(r);
                r.ratios.back() = R();
                if (meetsTolerance()) return finish(r, t, brelvane::ratioDescentStopTolerance);
            }
        }
        return finish(r, iterations, brelvane::ratioDescentStopIterations);
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
        return same;
    }

    static std::uint64_t bits(double v) {
        std::uint64_t u;
        std::memcpy(&u, &v, sizeof u);
        return u;
    }

    double residual() const {
        double top = 0, gN = 0, gD = 0;
        for (std::int64_t j = 0; j < n_; ++j) {
            const double a = cur_.Px[j] + p_.c[j], b = cur_.Qx[j] + p_.d[j];
            const double e = std::fabs(a - R() * b);
            if (std::isnan(e)) return std::numeric_limits<double>::quiet_NaN();
            top = std::fmax(top, e), gN = std::fmax(gN, std::fabs(a)), gD = std::fmax(gD, std::fabs(b));
        }
        const double bottom = gN + std::fabs(R()) * gD;
        return bottom == 0.0 ? 0.0 : top / bottom;
    }
    bool meetsTolerance() const { return o_.tolerance > 0.0 && residual() <= o_.tolerance; }

    // The checkpoint with acceleration; true when it changed the state.
    bool checkpoint(PlainRun& r) {
        if (o_.acceleration != brelvane::ratioDescentAccelerationRitz) return false;
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
        const double Ry = ((0.5 * xPx[0] + cx[0]) + p_.alpha) / ((0.5 * xQx[0] + dx[0]) + p_.beta);
        const double Dy = (0.5 * xQx[0] + dx[0]) + p_.beta;
        const double sign = Dy < 0 ? -1.0 : 1.0;
        std::vector<double> A(m * m), B(m * m), u(m);
        for (int i = 0; i < m; ++i)
            for (int j = 0; j < m; ++j) {
                const int a = i < j ? i : j, c = i < j ? j : i;
                A[i + j * m] = sign * (((xPx[a + c * m] + cx[a]) + cx[c]) + 2.0 * p_.alpha);
                B[i + j * m] = sign * (((xQx[a + c * m] + dx[a]) + dx[c]) + 2.0 * p_.beta);
            }
        double rho = 0;
        bool ok = (Dy > 0 || Dy < 0) && brelvane::lowestRitzVector(m, A.data(), B.data(), u.data(), &rho);
        if (ok) {
            bool homogeneous = p_.alpha == 0.0 && p_.beta == 0.0;
            for (std::int64_t j = 0; j < n_; ++j) homogeneous = homogeneous && p_.c[j] == 0.0 && p_.d[j] == 0.0;
            if (homogeneous) {
                const double g = std::sqrt(B[0]), f = u[0] < 0 ? -g : g;
                for (double& v : u) v = f * v;
            } else {
                double t = 0;
                for (double v : u) t = t + v;
                ok = t != 0.0 && std::isfinite(t);
                for (double& v : u) v = v / t;
            }
            for (double v : u) ok = ok && std::isfinite(v);
        }
        PlainPoint next{std::vector<double>(n_), std::vector<double>(n_), std::vector<double>(n_)};
        bool accepted = false;
        double nPx = 0, ncx = 0, nQx = 0, ndx = 0;
        if (ok) {
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
            fresh(next, nPx, ncx, nQx, ndx);
            const double Dn = (0.5 * nQx + ndx) + p_.beta;
            const double Rn = ((0.5 * nPx + ncx) + p_.alpha) / Dn;
            const double off = std::fabs(Rn - rho);
            accepted = ok && ((Dn > 0 && Dy > 0) || (Dn < 0 && Dy < 0)) &&
                       off <= brelvane::ritzAgreement * std::fmax(std::fabs(Rn), std::fabs(rho)) &&
                       Ry - Rn > std::fmax(brelvane::ritzLeastFall * std::fabs(Ry), 4.0 * off);
        }
        bool changed = accepted;
        if (accepted) {
            cur_ = next;
            xPx_ = nPx, cx_ = ncx, xQx_ = nQx, dx_ = ndx;
            ++r.accelerations;
        } else if (std::isfinite(Ry) && !(std::fabs(Ry - R()) <= brelvane::ritzDrift * std::fabs(Ry))) {
            const double before[] = {xPx_, xQx_, cx_, dx_};
            xPx_ = xPx[0], cx_ = cx[0], xQx_ = xQx[0], dx_ = dx[0];
            const double after[] = {xPx_, xQx_, cx_, dx_};
            for (int i = 0; i < 4; ++i) changed = changed || bits(before[i]) != bits(after[i]);
        }
        kept_.push_front(cur_);
        if (static_cast<int>(kept_.size()) > brelvane::ritzKeptStarts) kept_.pop_back();
        return changed;
    }

    PlainRun finish(PlainRun& r, std::int64_t iterations, brelvane::RatioDescentStop stop) {
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
    std::vector<double> w_;
    std::int64_t n_, L_;
    PlainPoint cur_;
    double xPx_ = 0, cx_ = 0, xQx_ = 0, dx_ = 0;
    std::deque<PlainPoint> kept_;
};

#endif
