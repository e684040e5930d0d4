#include "config/profile_change.h"

#include "app/app_context.h"
#include "link/codec.h"
#include "unit/bulk_transfer.h"

#include <utility>

namespace gp {

namespace {
constexpr char kProfileFilter[] = "Device Profile{*.pro)|*.pro";
const QString kSection = QStringLiteral("[profile_0]");
} // namespace

std::optional<int32_t> decodeProfileValue(const QString& text) {
    const QString t = text.trimmed();
    if (t.size() != 8)
        return std::nullopt;
    for (const QChar c : t)
        if (!QStringLiteral("0123456789abcdefABCDEF").contains(c))
            return std::nullopt;
    return ParseHexLong(t.toUpper());
}

ProfileChange::ProfileChange(AppContext& ctx) : ctx_(ctx) {
    stepText_ = text(7008, "Press \"start\" to begin.");
    caption_ = text(7001, "Start");
}

QString ProfileChange::text(int id, const char* fallback) const {
    return ctx_.text(id, QString::fromUtf8(fallback));
}

bool ProfileChange::clickButton() {
    if (caption_ == text(7001, "Start")) {
        cancelled_ = false;
        state_ = State::Start;
        caption_ = text(7002, "Next");
        enabled_ = false;
        return false;
    }
    return state_ == State::Complete;
}

void ProfileChange::fail(const QString& detail) {
    QString message = text(10004, "Profile Changed Failed");
    if (!detail.isEmpty())
        message += QStringLiteral("\n") + detail;
    ctx_.prompts.message(text(7020, "Profile Change"), message);
    state_ = State::Failed;
}

ProfileChange::ProfileRead ProfileChange::readProfile() {
    const QString path =
        ctx_.prompts.openFile(text(7021, "Select Profile file."), QLatin1String(kProfileFilter));
    if (path.isEmpty())
        return ProfileRead::Cancelled;
    Persist& ini = ctx_.persist;
    profileName_ = ini.ReadIniValueEx(QStringLiteral("name"), kSection, path).value_or(QString());
    const QString cfg =
        ini.ReadIniValueEx(QStringLiteral("cfg"), kSection, path).value_or(QString());
    // The other keys are read and checked like "cfg" but not applied.
    for (const char* key : {"modelname", "oem", "filters1", "filters2"})
        (void)ini.ReadIniValueEx(QString::fromLatin1(key), kSection, path);
    // Only a value decoded from the file may reach register 01: anything but
    // eight hex digits fails like a missing value.
    const auto value = decodeProfileValue(cfg);
    if (!value)
        return ProfileRead::Invalid;
    profileCfg_ = *value;
    return ProfileRead::Ok;
}

QString ProfileChange::activity() const {
    // What each state does, in words.
    static constexpr std::pair<State, const char*> kActivity[] = {
        {State::Start, "Reading settings"},
        {State::Reading, "Reading settings"},
        {State::ChoosingProfile, "Choosing the profile"},
        {State::WaitingForUnit, "Writing settings, waiting for the unit"},
        {State::CheckingRegister01, "Checking"},
    };
    if (state_ == State::Idle)
        return cancelled_ ? QStringLiteral("Cancelled") : QString();
    for (const auto& [state, words] : kActivity)
        if (state == state_)
            return QString::fromLatin1(words);
    return QString();
}

void ProfileChange::tick() {
    Link& link = ctx_.link;
    const PollCycle& poll = link.poll;
    switch (state_) {
    case State::Idle:
        break;
    case State::Start:
        stepText_ = text(7003, "Reading Current Settings....");
        ReadAllRegisters(link);
        state_ = State::Reading;
        break;
    case State::Reading:
        if (poll.lastBatchAnswered())
            state_ = State::ChoosingProfile;
        else if (poll.queueAtRest())
            fail(QStringLiteral("The unit did not answer the read of its settings; nothing was "
                                "written."));
        break;
    case State::ChoosingProfile:
        stepText_ = text(7021, "Select Profile file.");
        switch (readProfile()) {
        case ProfileRead::Ok:
            break;
        case ProfileRead::Cancelled:
            // The engineer chose no file: nothing was written, nothing failed.
            cancelled_ = true;
            state_ = State::Idle;
            enabled_ = true;
            caption_ = text(7001, "Start");
            stepText_ = QStringLiteral("Cancelled");
            return;
        case ProfileRead::Invalid:
            fail(QStringLiteral("The profile file holds no profile value: its [profile_0] "
                                "section needs cfg= and eight hex digits. Nothing was written."));
            return;
        }
        stepText_ = text(7005, "Writing Settings....");
        link.state.setRegister(1, profileCfg_, ValueSource::File);
        link.startBatch({BuildWrite(link.state, 1), BuildSystem(QStringLiteral("P")),
                         BuildSystem(QStringLiteral("D")), BuildSystem(QStringLiteral("R"))});
        waitTicks_ = 0;
        state_ = State::WaitingForUnit;
        break;
    case State::WaitingForUnit:
        // The wait for the unit after its reset: a batch that ends on a
        // time-out is followed by a status request until one is answered.
        if (poll.lastBatchAnswered()) {
            link.startBatch({BuildRead(1)});
            checkReads_ = 1;
            state_ = State::CheckingRegister01;
        } else if (++waitTicks_ > kResetWaitTicks) {
            link.poll.abandon();
            fail(QStringLiteral("The unit did not answer for %1 s after its reset. Power-cycle "
                                "it, then check its profile with a new read.")
                     .arg(kResetWaitTicks * intervalMs() / 1000));
        } else {
            stepText_ = text(7006, "Forcing Device Reset");
            if (poll.queueAtRest())
                link.startBatch({BuildStatus()}, 0, 0, false);
        }
        break;
    case State::CheckingRegister01:
        if (poll.lastBatchAnswered() && link.state.RegCache[1] == profileCfg_) {
            stepText_ = text(7007, "Update Complete");
            enabled_ = true;
            link.SetProgress(100, 0);
            state_ = State::Complete;
        } else if (poll.queueAtRest() && !poll.lastBatchAnswered() && checkReads_ < kCheckReads) {
            // A reply lost (late on a busy machine) is not a failed change:
            // the read repeats without harm.
            link.startBatch({BuildRead(1)});
            ++checkReads_;
        } else if (poll.queueAtRest()) {
            fail(poll.lastBatchAnswered()
                     ? QStringLiteral("After the change register 01 holds %1, not the profile's "
                                      "%2.")
                           .arg(HexLong(link.state.RegCache[1]), HexLong(profileCfg_))
                     : QStringLiteral("The unit did not answer the read of register 01 after "
                                      "the change."));
        }
        break;
    case State::Complete:
        enabled_ = true;
        caption_ = text(7009, "Exit");
        break;
    case State::Failed:
        enabled_ = true;
        caption_ = text(7001, "Start");
        stepText_ = text(7008, "Press \"start\" to begin.");
        state_ = State::Idle;
        break;
    }
}

} // namespace gp
