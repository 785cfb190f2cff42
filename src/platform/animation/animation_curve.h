#pragma once

// The two ways a value moves from one place to another: a cubic-Bézier timing curve over a fixed
// duration, or a damped spring. Pure math, no clock; the animation kit (animation.h) drives them.

namespace platform {

// A cubic-Bézier timing function through (0, 0), (x1, y1), (x2, y2) and (1, 1).
struct TimingCurve {
    double x1 = 0.0;
    double y1 = 0.0;
    double x2 = 1.0;
    double y2 = 1.0;

    // The curve's output for the time fraction `x` (clamped to 0 ... 1); the curve's x is solved
    // for its parameter to near double precision.
    double valueAt(double x) const;
    // d(output)/d(time fraction) at `x`.
    double slopeAt(double x) const;

    static constexpr TimingCurve linear() { return {0.0, 0.0, 1.0, 1.0}; }
    static constexpr TimingCurve easeIn() { return {0.42, 0.0, 1.0, 1.0}; }
    static constexpr TimingCurve easeOut() { return {0.0, 0.0, 0.58, 1.0}; }
    static constexpr TimingCurve easeInOut() { return {0.42, 0.0, 0.58, 1.0}; }

    friend bool operator==(const TimingCurve&, const TimingCurve&) = default;
};

// A spring of mass 1 described the way designers tune it: `response` is the period in seconds
// of the undamped oscillation, `dampingFraction` 1 is critical damping, and `blendDuration` is
// how long a retargeted spring takes to move from the previous spring's response to this one's.
struct Spring {
    double response = 0.55;
    double dampingFraction = 0.825;
    double blendDuration = 0.0;

    double stiffness() const;  // (2π / response)²
    double damping() const;    // 4π · dampingFraction / response

    friend bool operator==(const Spring&, const Spring&) = default;
};

// One component of a spring's motion towards rest at 0, from displacement x0 and velocity v0,
// in closed form. Its amplitude sqrt(x² + v²/k) never grows (the spring only loses energy),
// which makes the settle time a clean search.
class SpringMotion {
public:
    SpringMotion(const Spring& spring, double x0, double v0);

    double position(double t) const;
    double velocity(double t) const;
    double amplitude(double t) const;

private:
    enum class Regime { underdamped, critical, overdamped };

    double omega0_;
    Regime regime_;
    // x(t) = e^(-decay·t)·(p·cos(wd·t) + q·sin(wd·t))   underdamped
    //        e^(-decay·t)·(p + q·t)                     critical (decay = ω0)
    //        p·e^(r1·t) + q·e^(r2·t)                    overdamped
    double decay_ = 0.0;
    double wd_ = 0.0;
    double r1_ = 0.0;
    double r2_ = 0.0;
    double p_ = 0.0;
    double q_ = 0.0;
};

// Seconds until every component's amplitude has dropped below `threshold`; `components` motions
// given by their initial displacements and velocities. Infinity when the spring never settles
// (no damping), 0 when it is already at rest.
double springSettleTime(const Spring& spring, const double* x0, const double* v0, int components,
                        double threshold);

}  // namespace platform
