#pragma once
// A site plan applied to the one unit on a link, as the command line and the
// desktop's site panel run it, step by step from tick(): find the unit's row
// (its identity must have been read), read the whole unit and record it as
// found, bring its firmware and profile to the row's when they differ (the
// guided update and profile change, with the update's backup), load the
// row's template with its bus settings and device id, read every register
// written back, and record the unit as left. A unit already as planned is
// recorded and not written; a unit without a row is refused before anything
// is sent.

#include "site/site_plan.h"
#include "site/site_record.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace gp {
struct AppContext;
class ConfigLoad;
class FirmwareUpdate;
class Link;
class ProcessRunner;
class ProfileChange;
} // namespace gp

namespace gp::site {

class UnitApply {
  public:
    enum class State { Idle, ReadingUnit, Firmware, Profile, Loading, Done };
    // Replies of the whole-unit read lost are read again this often.
    static constexpr int kReadRetries = 2;

    // The runner starts the flashing tool; without one a row that asks for
    // a firmware image the unit does not run fails before anything is sent.
    UnitApply(AppContext& ctx, const SitePlan& plan, SiteRecord& record,
              ProcessRunner* runner = nullptr);
    ~UnitApply();
    UnitApply(const UnitApply&) = delete;
    UnitApply& operator=(const UnitApply&) = delete;

    // The unit's row in the plan, from the identity the link holds; null
    // when the plan has none.
    const PlanRow* row(const QString& port) const;
    // Starts on the unit; false (with failure() saying why, nothing sent)
    // when the unit has no row or the record cannot take its visit.
    bool start(const QString& port, const QString& engineer);
    void tick();
    // How often tick() wants to be called: the guided update and profile
    // change count their waits in ticks of their own interval.
    int intervalMs() const;
    State state() const { return state_; }
    bool finished() const { return state_ == State::Done || state_ == State::Idle; }
    // "done", "already as planned" or "failed" once finished; empty when
    // refused at the start.
    const QString& result() const { return visit_.result; }
    const QString& failure() const { return failure_; }
    const Visit& visit() const { return visit_; }
    int writes() const { return writes_; }
    // Read as found, the unit's settings differ from its last as-left:
    // "changed since its as-left of ...: 25, 28"; empty otherwise.
    const QString& changedSince() const { return changedSince_; }
    // What the apply does now, in words.
    QString activity() const;

    // The firmware of the row's image differs from the unit's: by the
    // version the image carries, else by the image the record last saw the
    // unit left running. Empty: the same; otherwise why it is flashed.
    QString firmwareDiffers() const;
    // Where the update puts its backups.
    QString backupFolder;

  private:
    class RowPrompts;
    void readUnit();
    void readEnded();
    void nextStep();
    void startFirmware(const QString& why);
    void startProfile();
    void guidedRunEnded(bool succeeded, const QString& what);
    void startLoad();
    void loadEnded();
    void end(const QString& result, const QString& reason);

    AppContext& ctx_;
    Link& link_;
    ProcessRunner* runner_;
    std::unique_ptr<RowPrompts> prompts_;
    std::unique_ptr<AppContext> rowCtx_;
    std::unique_ptr<FirmwareUpdate> firmware_;
    std::unique_ptr<ProfileChange> profile_;
    bool foundRecorded_ = false;
    bool firmwareDone_ = false;
    bool profileDone_ = false;
    const SitePlan& plan_;
    SiteRecord& record_;
    State state_ = State::Idle;
    PlanRow planned_;
    QList<int> alsoWrite_;
    int32_t unitComms_ = 0;
    int batchId_ = 0;
    QStringList reading_;
    int retries_ = 0;
    std::unique_ptr<ConfigLoad> load_;
    Visit visit_;
    QString failure_;
    QString changedSince_;
    int writes_ = 0;
    bool holding_ = false;
};

} // namespace gp::site
