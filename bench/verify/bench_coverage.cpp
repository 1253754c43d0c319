// Monte-Carlo coverage of a verification's U (k = 2): how often the
// interval mean +- U of n frames holds the true value, for the spread alone
// (expected: Student's t with n - 1 degrees of freedom at 2) and with a
// calibrator's uncertainty as large as the frames' standard error (whose
// error is drawn too). k = 2 gives 95 % only for many frames; with the
// plan's default 8 frames it is 91 %. Where the frames carry their own
// standard uncertainty u (each frame's noise estimate, from NoiseBins bins of
// its spectrum, so itself a little uncertain), U takes the larger of the
// spread and sqrt(mean(u^2) / n): at least the 95.45 % of a known sigma for
// any n.
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

// The noise bins a frame's u is read from (a small frame's spectrum).
constexpr double NoiseBins = 1000.0;

double Coverage(std::mt19937_64& rng, int frames, double referenceSigma, int trials,
                bool frameU = false)
{
    std::normal_distribution<double> noise(0.0, 1.0);
    // u^2 / sigma^2 of a frame: chi-square with NoiseBins degrees over NoiseBins.
    std::gamma_distribution<double> noiseEstimate(NoiseBins / 2.0, 2.0 / NoiseBins);
    std::vector<double> values(static_cast<std::size_t>(frames));
    std::vector<double> us;
    int covered = 0;
    for (int t = 0; t < trials; ++t) {
        // The calibrator's own error is the same in every frame of a trial.
        const double offset = referenceSigma * noise(rng);
        us.clear();
        for (double& v : values) {
            v = offset + noise(rng);
            if (frameU) {
                us.push_back(std::sqrt(noiseEstimate(rng)));
            }
        }
        const verify::Spread s = verify::SpreadOf(values);
        const double u = verify::ExpandedUncertainty(
            {s.StandardError, referenceSigma, verify::ReadingsMeanU(us, values.size())});
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
    std::printf("%6s  %12s  %12s  %22s  %16s  %22s\n", "frames", "coverage", "t(n-1) at 2",
                "with u_ref = sd/sqrt(n)", "with frames' u", "frames' u and u_ref");
    for (int n : {2, 4, 8, 16, 32, 128}) {
        const double spread = Coverage(rng, n, 0.0, trials);
        const double withReference = Coverage(rng, n, 1.0 / std::sqrt(n), trials);
        const double withFrameU = Coverage(rng, n, 0.0, trials, true);
        const double withBoth = Coverage(rng, n, 1.0 / std::sqrt(n), trials, true);
        std::printf("%6d  %12.4f  %12.4f  %22.4f  %16.4f  %22.4f\n", n, spread, TCoverage(n - 1),
                    withReference, withFrameU, withBoth);
    }
    return 0;
}
