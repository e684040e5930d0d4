#pragma once
// The guided profile change: read every register, let the engineer choose a
// device profile (".pro"), write its feature flags to register 01, burn,
// restore defaults, reset, wait until the unit answers again and read
// register 01 back. A state machine with named states advanced by tick()
// every 200 ms.

#include <QString>
#include <cstdint>
#include <optional>

namespace gp {

struct AppContext;

// A ".pro" value: exactly eight hex digits, least significant byte first.
// Anything else is not a value.
std::optional<int32_t> decodeProfileValue(const QString& text);

class ProfileChange {
  public:
    explicit ProfileChange(AppContext& ctx);

    // "Start" begins a run; "Exit" after success closes. Answers true when
    // the window should close.
    bool clickButton();
    void tick();

    // The run's states, each with the number the window shows.
    enum class State {
        Idle = 0,
        Failed = -1,   // shown once, then back to Idle
        Complete = -2, // "Update Complete"; the button says "Exit"
        Start = 1,
        Reading = 2,
        ChoosingProfile = 3,
        WaitingForUnit = 4, // writing, burning, defaults, reset, then the wait
        CheckingRegister01 = 5,
    };
    State state() const { return state_; }
    int stateNumber() const { return static_cast<int>(state_); }
    // At rest: before a run, after a failed or cancelled one, after success.
    bool finished() const { return state_ == State::Idle || state_ == State::Complete; }
    bool succeeded() const { return state_ == State::Complete; }
    int intervalMs() const { return 200; }
    // How long the unit may stay silent after its reset before the change
    // gives up, in ticks of intervalMs(): the unit restarts in a few seconds,
    // and one that does not answer in 30 s needs the engineer, not more
    // status requests.
    static constexpr int kResetWaitTicks = 150;
    // Reads of register 01 after the change before a lost reply fails it.
    static constexpr int kCheckReads = 3;
    const QString& stepText() const { return stepText_; }
    // What the run is doing, in words: "Reading settings", "Writing
    // settings", "Waiting for the unit", "Checking", "Cancelled"; empty
    // before a run.
    QString activity() const;
    const QString& buttonCaption() const { return caption_; }
    bool buttonEnabled() const { return enabled_; }
    int32_t profileCfg() const { return profileCfg_; }
    const QString& profileName() const { return profileName_; }

  private:
    void fail(const QString& detail = QString());
    // Answers the file's profile value read, or why not: cancelled (no
    // file chosen) or a file without a valid value.
    enum class ProfileRead { Ok, Cancelled, Invalid };
    ProfileRead readProfile();
    QString text(int id, const char* fallback) const;

    AppContext& ctx_;
    State state_ = State::Idle;
    int waitTicks_ = 0;
    int checkReads_ = 0;
    QString stepText_;
    QString caption_;
    bool enabled_ = true;
    int32_t profileCfg_ = 0;
    QString profileName_;
    bool cancelled_ = false;
};

} // namespace gp
