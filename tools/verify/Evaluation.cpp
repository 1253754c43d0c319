#include "Evaluation.h"

#include "VerifyTexts.h"

#include <cmath>
#include <functional>

namespace verify {

namespace {

using measure::ChannelReading;
using measure::ReadingStatus;

// The phase wrapped once into (-180, 180].
double Wrapped(double degrees)
{
    double d = std::fmod(degrees, 360.0);
    if (d > 180.0) {
        d -= 360.0;
    } else if (d <= -180.0) {
        d += 360.0;
    }
    return d;
}

bool IsReading(const ChannelReading& r)
{
    return r.Status == ReadingStatus::Ok && r.InBand && r.Voltage.has_value();
}

class PointEvaluator {
public:
    PointEvaluator(const Plan& plan, int pointNumber, const PointData& data)
        : plan_(plan), point_(pointNumber), data_(data)
    {}

    PointEvaluation Run()
    {
        for (std::size_t c = 0; c < ChannelCount; ++c) {
            if (data_.Point.Channels[c]) {
                Summarise(c);
            }
        }
        for (std::size_t c = 0; c < ChannelCount; ++c) {
            if (!data_.Point.Channels[c]) {
                continue;
            }
            if (plan_.Reference[c]) {
                Driven(c);
            } else {
                Idle(c);
            }
        }
        return std::move(result_);
    }

private:
    bool Fft() const { return data_.Point.ReadsSpectrum(); }

    // The first frame without a reading of channel c, or none.
    const ChannelReading* Missing(std::size_t c) const
    {
        for (const auto& frame : data_.Frames) {
            if (!IsReading(frame.Channels[c])) {
                return &frame.Channels[c];
            }
        }
        return data_.Frames.empty() ? &empty_ : nullptr;
    }

    static std::string WhyMissing(const ChannelReading& r)
    {
        if (r.Status == ReadingStatus::Ok && !r.InBand) {
            return std::string(ReportText::OutOfBand);
        }
        return std::string(ReportText::NoReading) + " (" +
               std::string(measure::ReadingStatusText(r.Status)) + ")";
    }

    using FrameValue = std::function<std::optional<double>(const ChannelReading&, std::size_t)>;

    std::vector<double> Values(std::size_t c, const FrameValue& of) const
    {
        std::vector<double> values;
        for (std::size_t f = 0; f < data_.Frames.size(); ++f) {
            if (auto v = of(data_.Frames[f].Channels[c], f)) {
                values.push_back(*v);
            }
        }
        return values;
    }

    void Summarise(std::size_t c)
    {
        ChannelSummary s;
        s.Channel = static_cast<int>(c) + 1;
        s.Driven = plan_.Reference[c].has_value();
        std::vector<double> mv;
        std::vector<double> mvU;
        std::vector<double> khz;
        std::vector<double> deg;
        s.Status = "ok";
        for (const auto& frame : data_.Frames) {
            const ChannelReading& r = frame.Channels[c];
            if (!r.Voltage) {
                if (s.Status == "ok") {
                    s.Status = measure::ReadingStatusText(r.Status);
                }
                continue;
            }
            if (r.Status != ReadingStatus::Ok && s.Status == "ok") {
                s.Status = measure::ReadingStatusText(r.Status);
            }
            ++s.Readings;
            mv.push_back(*r.Voltage * 1000.0);
            if (r.VoltageU) {
                mvU.push_back(*r.VoltageU * 1000.0);
            }
            if (r.Frequency) {
                khz.push_back(*r.Frequency / 1000.0);
            }
            if (r.Phase) {
                deg.push_back(*r.Phase);
            }
        }
        if (!mv.empty()) {
            const Spread v = SpreadOf(mv);
            s.VoltageMv = v.Mean;
            s.VoltageUMv =
                ExpandedUncertainty({v.StandardError, 0.0, ReadingsMeanU(mvU, mv.size())});
        }
        if (!khz.empty()) {
            s.FrequencyKhz = SpreadOf(khz).Mean;
        }
        if (!deg.empty()) {
            s.PhaseDeg = SpreadOf(deg).Mean;
        }
        result_.Channels.push_back(s);
    }

    ResultRow Row(std::size_t c, const char* figure, const char* unit, LimitKind kind,
                  double limit) const
    {
        ResultRow row;
        row.Point = point_;
        row.Channel = static_cast<int>(c) + 1;
        row.Figure = figure;
        row.Unit = unit;
        row.Kind = kind;
        row.Limit = limit;
        return row;
    }

    // A figure of channel c from its frames; reference is the standard
    // uncertainty the calibrator adds, frameU the frames' own standard
    // uncertainties of the figure (those that carry one).
    void Decided(ResultRow row, const std::vector<double>& values, double reference,
                 const std::vector<double>& frameU = {})
    {
        const Spread s = SpreadOf(values);
        const double u =
            ExpandedUncertainty({s.StandardError, reference, ReadingsMeanU(frameU, values.size())});
        row.Value = s.Mean;
        row.U = u;
        row.Verdict = Decide(s.Mean, u, row.Kind, row.Limit);
        result_.Rows.push_back(std::move(row));
    }

    void Undecided(ResultRow row, std::string note, Decision verdict = Decision::Fail)
    {
        row.Note = std::move(note);
        row.Verdict = verdict;
        result_.Rows.push_back(std::move(row));
    }

    // Gain error of channel c in each frame, %.
    std::optional<double> GainError(const ChannelReading& r, std::size_t c) const
    {
        const double nominal = plan_.Reference[c]->RmsV();
        return (*r.Voltage - nominal) / nominal * 100.0;
    }

    // Its standard uncertainty from the frame's noise, %.
    std::optional<double> GainErrorU(const ChannelReading& r, std::size_t c) const
    {
        if (!r.VoltageU) {
            return std::nullopt;
        }
        return *r.VoltageU / plan_.Reference[c]->RmsV() * 100.0;
    }

    void Driven(std::size_t c)
    {
        const ReferenceSignal& ref = *plan_.Reference[c];
        const Tolerances& t = plan_.Limits;
        const auto reference = static_cast<std::size_t>(plan_.ReferenceChannel);
        std::vector<ResultRow> wanted;
        if (t.GainPercent) {
            wanted.push_back(Row(c, "gain_error", "%", LimitKind::Symmetric, *t.GainPercent));
        }
        if (Fft() && t.FrequencyPpm) {
            wanted.push_back(
                Row(c, "frequency_error", "ppm", LimitKind::Symmetric, *t.FrequencyPpm));
        }
        if (c != reference && t.GainMatchPercent) {
            wanted.push_back(
                Row(c, "gain_match", "%", LimitKind::Symmetric, *t.GainMatchPercent));
        }
        if (Fft() && c != reference && t.PhaseMatchDeg) {
            wanted.push_back(
                Row(c, "phase_match", "deg", LimitKind::Symmetric, *t.PhaseMatchDeg));
        }
        if (Fft() && t.ThdMaxPercent) {
            wanted.push_back(Row(c, "thd", "%", LimitKind::Maximum, *t.ThdMaxPercent));
        }
        if (Fft() && t.SnrMinDb) {
            wanted.push_back(Row(c, "snr", "dB", LimitKind::Minimum, *t.SnrMinDb));
        }
        if (Fft() && t.EnobMinBits) {
            wanted.push_back(Row(c, "enob", "bit", LimitKind::Minimum, *t.EnobMinBits));
        }
        if (const ChannelReading* missing = Missing(c)) {
            for (ResultRow& row : wanted) {
                Undecided(std::move(row), WhyMissing(*missing));
            }
            return;
        }
        const ChannelReading* refMissing = Missing(reference);
        for (ResultRow& row : wanted) {
            const std::string& f = row.Figure;
            if (f == "gain_error") {
                Decided(std::move(row),
                        Values(c, [&](const ChannelReading& r,
                                      std::size_t) { return GainError(r, c); }),
                        ref.AmplitudeUPercent / CoverageFactor,
                        Values(c, [&](const ChannelReading& r, std::size_t) {
                            return GainErrorU(r, c);
                        }));
            } else if (f == "frequency_error") {
                Decided(
                    std::move(row),
                    Values(c,
                           [&](const ChannelReading& r, std::size_t) -> std::optional<double> {
                               if (!r.Frequency) {
                                   return std::nullopt;
                               }
                               return (*r.Frequency - ref.FrequencyHz) / ref.FrequencyHz * 1e6;
                           }),
                    ref.FrequencyUPpm / CoverageFactor,
                    Values(c, [&](const ChannelReading& r, std::size_t) -> std::optional<double> {
                        if (!r.Frequency || !r.FrequencyU) {
                            return std::nullopt;
                        }
                        return *r.FrequencyU / ref.FrequencyHz * 1e6;
                    }));
            } else if (f == "gain_match" || f == "phase_match") {
                if (refMissing != nullptr) {
                    Undecided(std::move(row), std::string(ReportText::NoReferenceReading));
                    continue;
                }
                const ReferenceSignal& refSignal = *plan_.Reference[reference];
                if (f == "gain_match") {
                    // One signal split over both inputs: its own error cancels.
                    const bool sameSignal = refSignal.AmplitudeV == ref.AmplitudeV;
                    const double u = sameSignal ? 0.0
                                                : std::hypot(ref.AmplitudeUPercent,
                                                             refSignal.AmplitudeUPercent) /
                                                      CoverageFactor;
                    Decided(std::move(row),
                            Values(c,
                                   [&](const ChannelReading& r, std::size_t frame) {
                                       const ChannelReading& rr =
                                           data_.Frames[frame].Channels[reference];
                                       return std::optional<double>(*GainError(r, c) -
                                                                    *GainError(rr, reference));
                                   }),
                            u,
                            // The two channels' noise is independent.
                            Values(c,
                                   [&](const ChannelReading& r,
                                       std::size_t frame) -> std::optional<double> {
                                       const auto own = GainErrorU(r, c);
                                       const auto other = GainErrorU(
                                           data_.Frames[frame].Channels[reference], reference);
                                       if (!own || !other) {
                                           return std::nullopt;
                                       }
                                       return std::hypot(*own, *other);
                                   }));
                } else {
                    const double nominal = Wrapped(ref.PhaseDeg - refSignal.PhaseDeg);
                    const std::vector<double> errors =
                        Values(c, [&](const ChannelReading& r, std::size_t) {
                            return r.Phase ? std::optional<double>(Wrapped(*r.Phase - nominal))
                                           : std::nullopt;
                        });
                    if (errors.size() != data_.Frames.size()) {
                        Undecided(std::move(row), std::string(ReportText::NoPhase));
                        continue;
                    }
                    // PhaseU is already that of the difference against the
                    // reference channel.
                    Decided(std::move(row), errors, ref.PhaseUDeg / CoverageFactor,
                            Values(c, [](const ChannelReading& r, std::size_t) {
                                return r.Phase ? r.PhaseU : std::nullopt;
                            }));
                }
            } else if (f == "thd" || f == "enob") {
                const bool enob = f == "enob";
                const std::vector<double> values =
                    Values(c, [&](const ChannelReading& r, std::size_t) {
                        return enob ? r.EnobBits : r.ThdPercent;
                    });
                if (values.size() != data_.Frames.size()) {
                    Undecided(std::move(row), std::string(ReportText::NoFigures));
                    continue;
                }
                Decided(std::move(row), values, 0.0);
            } else if (f == "snr") {
                const std::vector<double> values = Values(
                    c, [](const ChannelReading& r, std::size_t) { return r.SnrDb; });
                if (values.empty()) {
                    // No noise seen in any frame: above every minimum.
                    Undecided(std::move(row), std::string(ReportText::NoNoise), Decision::Pass);
                    continue;
                }
                Decided(std::move(row), values, 0.0);
            }
        }
    }

    // The largest RMS the calibrator applies to a channel of the point.
    double Aggressor() const
    {
        double largest = 0.0;
        for (std::size_t c = 0; c < ChannelCount; ++c) {
            if (data_.Point.Channels[c] && plan_.Reference[c]) {
                largest = std::max(largest, plan_.Reference[c]->RmsV());
            }
        }
        return largest;
    }

    void Idle(std::size_t c)
    {
        if (!plan_.Limits.CrosstalkMaxDb) {
            return;
        }
        ResultRow row = Row(c, "crosstalk", "dB", LimitKind::Maximum, *plan_.Limits.CrosstalkMaxDb);
        const double aggressor = Aggressor();
        std::vector<double> volts;
        std::vector<double> voltsU;
        for (const auto& frame : data_.Frames) {
            const ChannelReading& r = frame.Channels[c];
            // An idle input may read no tone at all: its level is then its noise.
            if ((r.Status == ReadingStatus::Ok || r.Status == ReadingStatus::NoTone) &&
                r.Voltage) {
                volts.push_back(*r.Voltage);
                if (r.VoltageU) {
                    voltsU.push_back(*r.VoltageU);
                }
            } else {
                Undecided(std::move(row), WhyMissing(r), Decision::Indeterminate);
                return;
            }
        }
        if (volts.empty() || aggressor <= 0.0) {
            Undecided(std::move(row), std::string(ReportText::NoReading),
                      Decision::Indeterminate);
            return;
        }
        const Spread s = SpreadOf(volts);
        const double uVolts =
            ExpandedUncertainty({s.StandardError, 0.0, ReadingsMeanU(voltsU, volts.size())});
        if (s.Mean <= 0.0) {
            Undecided(std::move(row), std::string(ReportText::NoReading), Decision::Pass);
            return;
        }
        row.Value = 20.0 * std::log10(s.Mean / aggressor);
        // The level's U in dB, from the upper side of the voltage's.
        row.U = 20.0 * std::log10((s.Mean + uVolts) / s.Mean);
        row.Verdict = Decide(*row.Value, *row.U, row.Kind, row.Limit);
        result_.Rows.push_back(std::move(row));
    }

    const Plan& plan_;
    int point_;
    const PointData& data_;
    ChannelReading empty_{};
    PointEvaluation result_;
};

}  // namespace

PointEvaluation EvaluatePoint(const Plan& plan, int pointNumber, const PointData& data)
{
    return PointEvaluator(plan, pointNumber, data).Run();
}

Decision OverallVerdict(const std::vector<ResultRow>& rows) noexcept
{
    bool indeterminate = false;
    for (const ResultRow& row : rows) {
        if (row.Verdict == Decision::Fail) {
            return Decision::Fail;
        }
        indeterminate = indeterminate || row.Verdict == Decision::Indeterminate;
    }
    return indeterminate ? Decision::Indeterminate : Decision::Pass;
}

std::string FigureTitle(const std::string& figure)
{
    for (const auto& [key, title] : ReportText::Figures) {
        if (figure == key) {
            return std::string(title);
        }
    }
    return figure;
}

}  // namespace verify
