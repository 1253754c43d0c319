// Monte-Carlo coverage of a verification's U (k = 2): how often the
// interval mean +- U of n frames holds the true value, for the spread alone
// (expected: Student's t with n - 1 degrees of freedom at 2) and with a
// calibrator's uncertainty as large as the frames' standard error (whose
// error is drawn too). k = 2 gives 95 % only for many frames; with the
// plan's default 8 frames it is 91 %.
#include "Decision.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

// P(|T| <= 2) for Student's t with df degrees of freedom.
double TCoverage(int df)
{
    // The regularised incomplete beta function by its continued fraction is
    // more than this needs: integrate the density.
    const double nu = df;
    const double c = std::tgamma((nu + 1) / 2) / (std::sqrt(nu * M_PI) * std::tgamma(nu / 2));
    const int steps = 200000;
    double sum = 0.0;
    for (int i = 0; i < steps; ++i) {
        const double t = 2.0 * (i + 0.5) / steps;
        sum += c * std::pow(1.0 + t * t / nu, -(nu + 1) / 2);
    }
    return 2.0 * sum * 2.0 / steps;
}

double Coverage(std::mt19937_64& rng, int frames, double referenceSigma, int trials)
{
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> values(static_cast<std::size_t>(frames));
    int covered = 0;
    for (int t = 0; t < trials; ++t) {
        // The calibrator's own error is the same in every frame of a trial.
        const double offset = referenceSigma * noise(rng);
        for (double& v : values) {
            v = offset + noise(rng);
        }
        const verify::Spread s = verify::SpreadOf(values);
        const double u = verify::ExpandedUncertainty({s.StandardError, referenceSigma, 0.0});
        covered += std::fabs(s.Mean) <= u ? 1 : 0;
    }
    return static_cast<double>(covered) / trials;
}

}  // namespace

int main(int argc, char** argv)
{
    const int trials = argc > 1 ? std::atoi(argv[1]) : 200000;
    std::mt19937_64 rng(20261210);
    std::printf("trials %d per row; binomial sd of a coverage near 0.95: %.4f\n", trials,
                std::sqrt(0.95 * 0.05 / trials));
    std::printf("%6s  %12s  %12s  %22s\n", "frames", "coverage", "t(n-1) at 2",
                "with u_ref = sd/sqrt(n)");
    for (int n : {2, 4, 8, 16, 32, 128}) {
        const double spread = Coverage(rng, n, 0.0, trials);
        const double withReference = Coverage(rng, n, 1.0 / std::sqrt(n), trials);
        std::printf("%6d  %12.4f  %12.4f  %22.4f\n", n, spread, TCoverage(n - 1), withReference);
    }
    return 0;
}
