#pragma once
// A site plan applied to the one unit on a link, as the command line and the
// desktop's site panel run it, step by step from tick(): find the unit's row
// (its identity must have been read), read the whole unit and record it as
// found, load the row's template with its bus settings and device id, read
// every register written back, and record the unit as left. A unit already as
// planned is recorded and not written; a unit without a row is refused before
// anything is sent.

#include "site/site_plan.h"
#include "site/site_record.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace gp {
class ConfigLoad;
class Link;
} // namespace gp

namespace gp::site {

class UnitApply {
  public:
    enum class State { Idle, ReadingUnit, Loading, Done };
    // Replies of the whole-unit read lost are read again this often.
    static constexpr int kReadRetries = 2;

    UnitApply(Link& link, const SitePlan& plan, SiteRecord& record);
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
    State state() const { return state_; }
    bool finished() const { return state_ == State::Done || state_ == State::Idle; }
    // "done", "already as planned" or "failed" once finished; empty when
    // refused at the start.
    const QString& result() const { return visit_.result; }
    const QString& failure() const { return failure_; }
    const Visit& visit() const { return visit_; }
    int writes() const { return writes_; }
    // What the apply does now, in words.
    QString activity() const;

  private:
    void readEnded();
    void startLoad();
    void loadEnded();
    void end(const QString& result, const QString& reason);

    Link& link_;
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
    int writes_ = 0;
    bool holding_ = false;
};

} // namespace gp::site
