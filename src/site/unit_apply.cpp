#include "site/unit_apply.h"

#include "config/comms_settings.h"
#include "config/config_load.h"
#include "flash/firmware_backup.h"
#include "link/codec.h"
#include "link/link.h"
#include "site/site_apply.h"
#include "unit/bulk_transfer.h"
#include "unit/registers.h"

#include <QLocale>
#include <QUuid>

namespace gp::site {

UnitApply::UnitApply(Link& link, const SitePlan& plan, SiteRecord& record)
    : link_(link), plan_(plan), record_(record) {}

UnitApply::~UnitApply() {
    load_.reset();
    if (holding_)
        link_.releaseTransfer();
}

const PlanRow* UnitApply::row(const QString& port) const {
    return plan_.rowFor(serialNumberOf(link_.state), flash::uniqueIdOf(link_.state), port);
}

QString UnitApply::activity() const {
    switch (state_) {
    case State::ReadingUnit:
        return QStringLiteral("Reading the unit as found");
    case State::Loading:
        return QStringLiteral("Writing the plan's settings and reading them back");
    case State::Done:
        return visit_.result;
    case State::Idle:
        return failure_;
    }
    return QString();
}

bool UnitApply::start(const QString& port, const QString& engineer) {
    const DeviceState& st = link_.state;
    const QString sn = serialNumberOf(st);
    const QString uid = flash::uniqueIdOf(st);
    const PlanRow* r = row(port);
    failure_.clear();
    if (!r) {
        failure_ = QStringLiteral("The unit on %1 (sn %2, uid %3) has no row in the plan. Nothing "
                                  "was written.")
                       .arg(port, sn.isEmpty() ? QStringLiteral("none") : sn, uid);
        return false;
    }
    if (!r->firmware.isEmpty() || !r->profile.isEmpty()) {
        failure_ = QStringLiteral("Line %1 asks for a firmware image or a profile: this version "
                                  "does not bring them to a unit in a site apply. Update the "
                                  "firmware or change the profile first, then leave the column "
                                  "empty. Nothing was written.")
                       .arg(r->line);
        return false;
    }
    planned_ = *r;
    visit_ = {};
    visit_.key = QUuid::createUuid().toString(QUuid::WithoutBraces);
    visit_.uid = uid;
    visit_.sn = sn;
    visit_.name = r->name;
    visit_.planLine = r->line;
    visit_.started = QDateTime::currentDateTimeUtc();
    visit_.engineer = engineer;
    visit_.port = port;
    visit_.toolVersion = QStringLiteral(GP_VERSION_TEXT);
    visit_.product = productNameOf(st).trimmed();
    visit_.firmware = formatFirmwareVersion(st.FirmwareVersion, QLocale::c());
    visit_.templatePath = r->templatePath;
    visit_.templateSha256 = fileSha256(r->templatePath);
    visit_.address = r->address;
    visit_.deviceId = r->deviceId;
    writes_ = 0;
    // The live polls pause while the unit is read and written.
    if (!holding_) {
        link_.holdForTransfer();
        holding_ = true;
    }
    reading_ = readAllFrames();
    reading_ << BuildStatus();
    retries_ = 0;
    batchId_ = link_.startBatch(reading_);
    state_ = State::ReadingUnit;
    return true;
}

void UnitApply::tick() {
    if (state_ == State::ReadingUnit) {
        const BatchOutcome o = link_.poll.outcome(batchId_);
        if (o.displaced || o.finished || !link_.busy())
            readEnded();
    } else if (state_ == State::Loading && load_ && load_->finished()) {
        loadEnded();
    }
}

// As found: the whole unit, lost replies read again, recorded before
// anything is written.
void UnitApply::readEnded() {
    QStringList missing = link_.poll.outcome(batchId_).missingFrames(reading_);
    missing.removeAll(BuildItemRead(u'U', 5)); // identity item 05 is no register
    if (!missing.isEmpty() && retries_ < kReadRetries && link_.serial.isOpen()) {
        ++retries_;
        reading_ = missing;
        batchId_ = link_.startBatch(missing);
        return;
    }
    visit_.found = registersOf(link_.state);
    visit_.left = visit_.found; // until something is written
    if (const Status begun = record_.begin(visit_); !begun) {
        failure_ = begun.error() + QStringLiteral(" Nothing was written.");
        state_ = State::Idle;
        if (holding_) {
            holding_ = false;
            link_.releaseTransfer();
        }
        return;
    }
    if (!missing.isEmpty()) {
        end(QString::fromLatin1(kFailed),
            QStringLiteral("the unit did not answer for %1; nothing was written")
                .arg(missing.join(u' ')));
        return;
    }
    startLoad();
}

void UnitApply::startLoad() {
    const DeviceState& st = link_.state;
    // The device id is the unit's to take only on a BACnet unit of our
    // vendor id; 0 (automatic) asks for nothing there.
    if (planned_.deviceId && !deviceIdApplies(st)) {
        if (*planned_.deviceId != 0) {
            end(QString::fromLatin1(kFailed),
                QStringLiteral("line %1 gives device id %2, but the unit is no BACnet unit of "
                               "our vendor id and has none to set. Nothing was written.")
                    .arg(planned_.line)
                    .arg(*planned_.deviceId));
            return;
        }
        planned_.deviceId.reset();
    }
    alsoWrite_ = rowRegisters(planned_);
    unitComms_ = st.RegCache[kCommsRegister];
    CfgCheck check = parseCfgFile(planned_.templatePath);
    if (check.ok()) {
        putRowSettings(check.content, planned_, unitComms_);
        checkCfgProduct(check, st);
    }
    if (!check.ok()) {
        end(QString::fromLatin1(kFailed), check.message + QStringLiteral(" Nothing was written."));
        return;
    }
    if (registersToChange(st, check.content, alsoWrite_).isEmpty()) {
        end(QString::fromLatin1(kAlreadyAsPlanned), QString());
        return;
    }
    // The template with the row's settings, checked, written and read back.
    load_ = std::make_unique<ConfigLoad>(link_);
    const PlanRow planned = planned_;
    const int32_t comms = unitComms_;
    load_->start(
        planned_.templatePath, true,
        [planned, comms](CfgContent& c) { putRowSettings(c, planned, comms); }, alsoWrite_);
    state_ = State::Loading;
}

void UnitApply::loadEnded() {
    if (!load_->check().ok()) {
        end(QString::fromLatin1(kFailed), load_->check().message);
        return;
    }
    const LoadReport rep = load_->report();
    writes_ = rep.writes;
    // As left: as found, with every register written as it was read back.
    for (int r : load_->writtenRegisters())
        visit_.left[size_t(r)] = rep.notReadBack.contains(r)
                                     ? std::nullopt
                                     : std::optional<int32_t>(link_.state.RegCache[size_t(r)]);
    end(QString::fromLatin1(rep.ok() ? kDone : kFailed), rep.ok() ? QString() : rep.text());
}

void UnitApply::end(const QString& result, const QString& reason) {
    load_.reset();
    visit_.result = result;
    visit_.reason = reason;
    visit_.ended = QDateTime::currentDateTimeUtc();
    visit_.leftSha256 = registersSha256(link_.state, visit_.left);
    if (const Status recorded = record_.finish(visit_); !recorded)
        failure_ = recorded.error();
    else if (result == QLatin1String(kFailed))
        failure_ = reason;
    state_ = State::Done;
    if (holding_) {
        holding_ = false;
        link_.releaseTransfer();
    }
}

} // namespace gp::site
