#include "platform/animation/animation_curve.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace platform {

namespace {

struct Cubic {
    // b(s) = ((a·s + b)·s + c)·s for one coordinate with end points 0 and 1.
    double a, b, c;
    Cubic(double p1, double p2) : c(3.0 * p1) {
        b = 3.0 * (p2 - p1) - c;
        a = 1.0 - c - b;
    }
    double at(double s) const { return ((a * s + b) * s + c) * s; }
    double derivative(double s) const { return (3.0 * a * s + 2.0 * b) * s + c; }
};

// The parameter is solved to near double precision, so that even a curve with a near-vertical
// stretch gives its output to better than 1e-6.
constexpr double kSolveEpsilon = 1e-13;

// The curve parameter s whose x equals `x`: Newton's method first (fast on ordinary curves),
// bisection when the slope is too flat for it. x(s) is monotonic for x1, x2 in 0 ... 1.
double solveParameter(const Cubic& cx, double x) {
    double s = x;
    for (int i = 0; i < 8; ++i) {
        const double error = cx.at(s) - x;
        if (std::abs(error) < kSolveEpsilon) return s;
        const double slope = cx.derivative(s);
        if (std::abs(slope) < 1e-6) break;
        s -= error / slope;
    }
    double lo = 0.0;
    double hi = 1.0;
    s = x;
    for (int i = 0; i < 100 && hi - lo > 1e-15; ++i) {
        const double value = cx.at(s);
        if (std::abs(value - x) < kSolveEpsilon) return s;
        if (value < x) {
            lo = s;
        } else {
            hi = s;
        }
        s = (lo + hi) / 2.0;
    }
    return s;
}

}  // namespace

double TimingCurve::valueAt(double x) const {
    if (!(x > 0.0)) return 0.0;
    if (x >= 1.0) return 1.0;
    if (x1 == y1 && x2 == y2) return x;  // the diagonal: output equals time
    const Cubic cx(x1, x2);
    const Cubic cy(y1, y2);
    return cy.at(solveParameter(cx, x));
}

double TimingCurve::slopeAt(double x) const {
    x = std::clamp(x, 0.0, 1.0);
    const Cubic cx(x1, x2);
    const Cubic cy(y1, y2);
    const double s = solveParameter(cx, x);
    const double dx = cx.derivative(s);
    if (std::abs(dx) > 1e-9) return cy.derivative(s) / dx;
    // A vertical tangent in x: fall back to a one-sided difference.
    const double h = 1e-5;
    const double a = x - h >= 0.0 ? x - h : x;
    const double b = a + h;
    return (valueAt(b) - valueAt(a)) / h;
}

double Spring::stiffness() const {
    const double omega = 2.0 * std::numbers::pi / response;
    return omega * omega;
}

double Spring::damping() const { return 4.0 * std::numbers::pi * dampingFraction / response; }

SpringMotion::SpringMotion(const Spring& spring, double x0, double v0)
    : omega0_(2.0 * std::numbers::pi / spring.response) {
    const double zeta = spring.dampingFraction;
    const double w = omega0_;
    if (zeta < 1.0 - 1e-9) {
        regime_ = Regime::underdamped;
        decay_ = zeta * w;
        wd_ = w * std::sqrt(1.0 - zeta * zeta);
        p_ = x0;
        q_ = (v0 + decay_ * x0) / wd_;
    } else if (zeta <= 1.0 + 1e-9) {
        regime_ = Regime::critical;
        decay_ = w;
        p_ = x0;
        q_ = v0 + w * x0;
    } else {
        regime_ = Regime::overdamped;
        const double root = std::sqrt(zeta * zeta - 1.0);
        r1_ = -w * (zeta - root);
        r2_ = -w * (zeta + root);
        q_ = (v0 - r1_ * x0) / (r2_ - r1_);
        p_ = x0 - q_;
    }
}

double SpringMotion::position(double t) const {
    switch (regime_) {
        case Regime::underdamped: return std::exp(-decay_ * t) * (p_ * std::cos(wd_ * t) + q_ * std::sin(wd_ * t));
        case Regime::critical: return std::exp(-decay_ * t) * (p_ + q_ * t);
        case Regime::overdamped: return p_ * std::exp(r1_ * t) + q_ * std::exp(r2_ * t);
    }
    return 0.0;
}

double SpringMotion::velocity(double t) const {
    switch (regime_) {
        case Regime::underdamped:
            return std::exp(-decay_ * t) * ((q_ * wd_ - decay_ * p_) * std::cos(wd_ * t) -
                                            (p_ * wd_ + decay_ * q_) * std::sin(wd_ * t));
        case Regime::critical: return std::exp(-decay_ * t) * (q_ - decay_ * (p_ + q_ * t));
        case Regime::overdamped: return r1_ * p_ * std::exp(r1_ * t) + r2_ * q_ * std::exp(r2_ * t);
    }
    return 0.0;
}

double SpringMotion::amplitude(double t) const {
    const double x = position(t);
    const double v = velocity(t) / omega0_;
    return std::sqrt(x * x + v * v);
}

double springSettleTime(const Spring& spring, const double* x0, const double* v0, int components,
                        double threshold) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    if (!(spring.response > 0.0) || !std::isfinite(spring.response)) return 0.0;
    auto settledAt = [&](double t) {
        for (int i = 0; i < components; ++i) {
            if (SpringMotion(spring, x0[i], v0[i]).amplitude(t) >= threshold) return false;
        }
        return true;
    };
    if (settledAt(0.0)) return 0.0;
    if (!(spring.dampingFraction > 0.0)) return kInfinity;

    double hi = 0.05;
    while (!settledAt(hi)) {
        hi *= 2.0;
        if (hi > 3600.0) return kInfinity;
    }
    double lo = hi / 2.0 > 0.05 ? hi / 2.0 : 0.0;
    while (hi - lo > 1e-7) {
        const double mid = (lo + hi) / 2.0;
        if (settledAt(mid)) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return hi;
}

}  // namespace platform
