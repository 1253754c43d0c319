#pragma once

#include "BrokerOptions.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class TMainForm;

namespace measure {
class MeasurementCycle;
class ResultsRecorder;
}  // namespace measure
namespace mqtt {
class ResultsPublisher;
}

// Results that leave the window: the recording into a CSV file (context
// menu) and the MQTT feed (its section of the settings file), with the
// window's section [Precision] that decides their uncertainty columns. Both
// take each frame's record as the headless tool fills it.
//
// Its state is the feed's run, from one reading of the settings (a start, a
// pass's end) to the next:
//   Waiting     no frame has gone to the feed since: the next one sends the
//               run's config first
//   RunBegun    the run's config has gone
//   OutageSaid  the operator has been told of the broker's first outage;
//               the rest goes to standard error only
// The recording keeps its own state in its recorder.
class TResultsOutlet {
public:
    enum class State : std::uint8_t { Waiting, RunBegun, OutageSaid };

    explicit TResultsOutlet(TMainForm& form);
    ~TResultsOutlet();
    TResultsOutlet(const TResultsOutlet&) = delete;
    TResultsOutlet& operator=(const TResultsOutlet&) = delete;

    static bool Allowed(State from, State to) noexcept;
    static const char* Name(State state) noexcept;
    State Current() const noexcept { return state_; }

    // Context menu "Запись результатов в файл...": starts a recording into a
    // file the save dialog picks, or ends the one that runs.
    void RecordResultsClick();
    bool RecordingResults() const noexcept;
    // Window's thread, inside the display step of each frame: the frame's
    // record to the recording and the feed.
    void FrameShown(const measure::MeasurementCycle& cycle);
    // The measurement's end: the recording ends with it.
    void MeasurementStopped();
    // The feed's section of the settings file, read again (with the section
    // [Precision]): the publisher is made, replaced or ended to match it and
    // the open module.
    void ReadFeedSettings();
    const mqtt::ResultsPublisher* FeedPublisher() const noexcept { return publisher_.get(); }
    // The section [Precision]: read again with the feed's; the two ticked
    // items write it at once.
    void ReadPrecisionSettings();
    void PrecisionMethodClick();
    void UncertaintyClick();

private:
    void Enter(State to);
    void EndRecording(bool reportFailure);
    void ShowFeedReports();
    void SavePrecisionSettings();
    // The uncertainty columns of the recording and the feed: the section
    // asks for them (the fit always has them); runUncertainties_ as at the
    // run's first frame.
    bool UncertaintiesChosen() const noexcept;

    TMainForm& form_;
    State state_ = State::Waiting;
    std::unique_ptr<measure::ResultsRecorder> recorder_;
    std::unique_ptr<mqtt::ResultsPublisher> publisher_;
    // Where the publisher sends: a new one only when this changes.
    struct FeedTarget {
        mqtt::BrokerOptions Options;
        std::string CrateSerial;
        int Slot = 0;
        bool operator==(const FeedTarget&) const = default;
    };
    std::optional<FeedTarget> publisherTarget_;
    // The last problem said of each section, so that each is said once.
    QString feedProblemShown_;
    QString precisionProblemShown_;
    bool runUncertainties_ = false;
};
