#include "site/unit_apply.h"

#include "app/app_context.h"
#include "config/comms_settings.h"
#include "config/config_load.h"
#include "config/profile_change.h"
#include "flash/firmware_backup.h"
#include "flash/firmware_update.h"
#include "link/codec.h"
#include "link/link.h"
#include "platform/firmware_image.h"
#include "site/site_apply.h"
#include "unit/bulk_transfer.h"
#include "unit/registers.h"

#include <QFile>
#include <QLocale>
#include <QUuid>
#include <utility>

namespace gp::site {

// The guided runs ask for their file: the row's. Their questions go to the
// engineer; their messages too, and the last one is the visit's reason when
// the run fails.
class UnitApply::RowPrompts : public Prompts {
  public:
    explicit RowPrompts(Prompts& engineer) : engineer_(engineer) {}
    bool askYesNo(const QString& title, const QString& text, bool warning,
                  bool defaultNo) override {
        return engineer_.askYesNo(title, text, warning, defaultNo);
    }
    void message(const QString& title, const QString& text, MessageKind kind) override {
        said = text;
        engineer_.message(title, text, kind);
    }
    QString openFile(const QString&, const QString&) override {
        return std::exchange(file, QString());
    }
    QString saveFile(const QString&, const QString&) override { return QString(); }

    QString file;
    QString said;

  private:
    Prompts& engineer_;
};

namespace {
QString versionText(int versionTimes100) {
    return formatFirmwareVersion(versionTimes100, QLocale::c());
}
} // namespace

UnitApply::UnitApply(AppContext& ctx, const SitePlan& plan, SiteRecord& record,
                     ProcessRunner* runner)
    : ctx_(ctx), link_(ctx.link), runner_(runner),
      prompts_(std::make_unique<RowPrompts>(ctx.prompts)),
      rowCtx_(std::make_unique<AppContext>(
          AppContext{ctx.link, ctx.persist, ctx.lang, *prompts_, ctx.tabs, ctx.mode, ctx.appid})),
      plan_(plan), record_(record) {}

UnitApply::~UnitApply() {
    load_.reset();
    if (firmware_ && firmware_->runInProgress())
        firmware_->abandon();
    firmware_.reset();
    profile_.reset();
    if (holding_)
        link_.releaseTransfer();
}

int UnitApply::intervalMs() const {
    if (state_ == State::Firmware && firmware_)
        return firmware_->intervalMs();
    if (state_ == State::Profile && profile_)
        return profile_->intervalMs();
    return 20;
}

const PlanRow* UnitApply::row(const QString& port) const {
    return plan_.rowFor(serialNumberOf(link_.state), flash::uniqueIdOf(link_.state), port);
}

QString UnitApply::activity() const {
    switch (state_) {
    case State::ReadingUnit:
        return foundRecorded_ ? QStringLiteral("Reading the unit again")
                              : QStringLiteral("Reading the unit as found");
    case State::Firmware:
        return QStringLiteral("Updating the firmware: ") + firmware_->activity();
    case State::Profile:
        return QStringLiteral("Changing the profile: ") + profile_->activity();
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
    foundRecorded_ = firmwareDone_ = profileDone_ = false;
    changedSince_.clear();
    // The live polls pause while the unit is read and written.
    if (!holding_) {
        link_.holdForTransfer();
        holding_ = true;
    }
    readUnit();
    return true;
}

// The whole unit with its status and firmware version: as found, and again
// after a firmware update or profile change.
void UnitApply::readUnit() {
    reading_ = readAllFrames();
    reading_ << BuildStatus() << BuildItemRead(u'U', 4);
    retries_ = 0;
    batchId_ = link_.startBatch(reading_);
    state_ = State::ReadingUnit;
}

void UnitApply::tick() {
    if (state_ == State::ReadingUnit) {
        const BatchOutcome o = link_.poll.outcome(batchId_);
        if (o.displaced || o.finished || !link_.busy())
            readEnded();
    } else if (state_ == State::Firmware) {
        firmware_->tick();
        if (firmware_->finished())
            guidedRunEnded(firmware_->succeeded(), QStringLiteral("firmware update"));
    } else if (state_ == State::Profile) {
        profile_->tick();
        if (profile_->finished())
            guidedRunEnded(profile_->succeeded(), QStringLiteral("profile change"));
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
    if (foundRecorded_) {
        // After a firmware update or profile change: what the unit holds now.
        visit_.left = registersOf(link_.state);
        visit_.firmware = versionText(link_.state.FirmwareVersion);
        if (!missing.isEmpty()) {
            end(QString::fromLatin1(kFailed),
                QStringLiteral("the unit did not answer for %1 after its %2; the template was "
                               "not written")
                    .arg(missing.join(u' '), profileDone_ && profile_
                                                 ? QStringLiteral("profile change")
                                                 : QStringLiteral("firmware update")));
            return;
        }
        firmware_.reset();
        profile_.reset();
        nextStep();
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
    foundRecorded_ = true;
    if (const auto visits = record_.visits(visit_.uid.isEmpty() ? visit_.sn : visit_.uid)) {
        changedSince_ = changedSinceText(previousVisit(*visits, visit_.key), visit_.found);
        if (!changedSince_.isEmpty())
            link_.AddLog(QStringLiteral("The unit has %1.").arg(changedSince_));
    }
    if (!missing.isEmpty()) {
        end(QString::fromLatin1(kFailed),
            QStringLiteral("the unit did not answer for %1; nothing was written")
                .arg(missing.join(u' ')));
        return;
    }
    nextStep();
}

QString UnitApply::firmwareDiffers() const {
    QFile f(planned_.firmware);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("the image %1 cannot be read: %2")
            .arg(planned_.firmware, f.errorString());
    const int unit = link_.state.FirmwareVersion;
    if (const auto image = imageVersion(f.readAll()))
        return *image == unit ? QString()
                              : QStringLiteral("the image holds firmware %1, the unit runs %2")
                                    .arg(versionText(*image), versionText(unit));
    // An image that names no version: the same when this unit was last left
    // running this very image and still runs the firmware it was left with.
    const QString sha = fileSha256(planned_.firmware);
    const auto earlier = record_.visits(visit_.uid.isEmpty() ? visit_.sn : visit_.uid);
    if (earlier)
        for (auto v = earlier->crbegin(); v != earlier->crend(); ++v) {
            if (v->key == visit_.key || !v->ended.isValid())
                continue;
            if (v->imageSha256 == sha && v->firmware == versionText(unit))
                return QString();
            break;
        }
    return QStringLiteral("the image names no version and the record does not show the unit "
                          "left running it");
}

// Firmware first (its write-back restores the settings), then the profile
// (it puts the unit back to its defaults), then the template.
void UnitApply::nextStep() {
    if (!planned_.firmware.isEmpty() && !firmwareDone_) {
        firmwareDone_ = true;
        const QString why = firmwareDiffers();
        if (!why.isEmpty()) {
            startFirmware(why);
            return;
        }
        visit_.imageSha256 = fileSha256(planned_.firmware);
    }
    if (!planned_.profile.isEmpty() && !profileDone_) {
        profileDone_ = true;
        const auto value =
            decodeProfileValue(ctx_.persist
                                   .ReadIniValueEx(QStringLiteral("cfg"),
                                                   QStringLiteral("[profile_0]"), planned_.profile)
                                   .value_or(QString()));
        if (!value) {
            end(QString::fromLatin1(kFailed),
                QStringLiteral("the profile %1 holds no profile value (cfg, eight hex digits); "
                               "the template was not written")
                    .arg(planned_.profile));
            return;
        }
        if (link_.state.RegCache[1] != *value) {
            startProfile();
            return;
        }
    }
    startLoad();
}

void UnitApply::startFirmware(const QString& why) {
    if (!runner_) {
        end(QString::fromLatin1(kFailed),
            QStringLiteral("%1, and no flashing tool can be started here; the template was not "
                           "written")
                .arg(why));
        return;
    }
    link_.AddLog(QStringLiteral("Updating the firmware: %1.").arg(why));
    prompts_->file = planned_.firmware;
    prompts_->said.clear();
    firmware_ = std::make_unique<FirmwareUpdate>(*rowCtx_, *runner_);
    if (!backupFolder.isEmpty())
        firmware_->backupFolder = backupFolder;
    firmware_->clickButton();
    state_ = State::Firmware;
}

void UnitApply::startProfile() {
    link_.AddLog(QStringLiteral("Changing the profile to %1.").arg(planned_.profile));
    prompts_->file = planned_.profile;
    prompts_->said.clear();
    profile_ = std::make_unique<ProfileChange>(*rowCtx_);
    profile_->clickButton();
    state_ = State::Profile;
}

void UnitApply::guidedRunEnded(bool succeeded, const QString& what) {
    if (!succeeded) {
        QString why = prompts_->said.isEmpty()
                          ? (firmware_ ? firmware_->stepText() : profile_->stepText())
                          : prompts_->said;
        end(QString::fromLatin1(kFailed), QStringLiteral("the %1 failed: %2; the template was "
                                                         "not written")
                                              .arg(what, why.simplified()));
        return;
    }
    if (firmware_)
        visit_.imageSha256 = fileSha256(planned_.firmware);
    readUnit();
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
    firmware_.reset();
    profile_.reset();
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
