#include "config/save_config.h"

#include "link/codec.h"
#include "link/link.h"
#include "platform/prompts.h"
#include "unit/bulk_transfer.h"
#include "unit/cfg_file.h"
#include "unit/registers.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace gp {

namespace {
const QString kTitle = QStringLiteral("Save Configuration");
constexpr int kU05Entry = 256; // the read-all batch ends with identity item 05
} // namespace

SaveConfig::SaveConfig(Link& link, Prompts& prompts, bool saveAllNonvol)
    : link_(link), prompts_(prompts), saveAllNonvol_(saveAllNonvol) {
    // The live polls pause for the save: they would keep the link busy and
    // the save waiting for an idle link for ever.
    link_.holdForTransfer();
    holding_ = true;
}

SaveConfig::~SaveConfig() {
    release();
}

void SaveConfig::release() {
    if (!holding_)
        return;
    holding_ = false;
    link_.releaseTransfer();
}

void SaveConfig::tick() {
    switch (SaveState) {
    case WaitIdle:
        if (!link_.busy())
            SaveState = StartRead;
        break;
    case StartRead:
        status_ = QStringLiteral("Reading Data.");
        batchId_ = ReadAllRegisters(link_);
        ++reads_;
        rereading_.clear();
        retries_ = 0;
        SaveState = Reading;
        break;
    case Reading:
        // The read ends with or without a reply to its last frame; either
        // way the window goes on. A read displaced by another batch ends
        // too, with everything after the displacement unread; so does one
        // whose port went away, at once rather than frame by frame.
        if (!link_.serial.isOpen() && link_.busy()) {
            link_.poll.abandon();
        } else if (const BatchOutcome o = link_.poll.outcome(batchId_);
                   !o.displaced && !o.finished && link_.busy()) {
            break;
        }
        readEnded();
        break;
    case ReadingStatus:
        if (const BatchOutcome o = link_.poll.outcome(batchId_);
            !o.displaced && !o.finished && link_.busy())
            break;
        statusEnded();
        break;
    default:
        break;
    }
    if (SaveState == Done)
        release();
}

void SaveConfig::cancel() {
    if ((SaveState == Reading || SaveState == ReadingStatus) &&
        !link_.poll.outcome(batchId_).displaced && link_.busy())
        link_.poll.abandon();
    if (SaveState != Done && failure_.isEmpty() && savedPath_.isEmpty())
        failure_ = QStringLiteral("The save was cancelled.");
    SaveState = Done;
    release();
}

void SaveConfig::readEnded() {
    const BatchOutcome o = link_.poll.outcome(batchId_);
    if (!rereading_.isEmpty()) {
        // A read again of single registers: what it still lacks.
        unread_.clear();
        for (int e : o.missingEntries(static_cast<int>(rereading_.size())))
            unread_ << rereading_.at(e);
    } else {
        unreadOfTheWholeBank(o);
    }
    // Only from a unit that answers, on a port still there: a silent unit
    // or a vanished adapter is asked about at once rather than after a
    // minute of single reads.
    if (!unread_.isEmpty() && retries_ < kRegisterRetries && o.answered > 0 &&
        link_.serial.isOpen()) {
        ++retries_;
        rereading_ = unread_;
        QStringList frames;
        for (int r : rereading_)
            frames << BuildRead(r);
        status_ = QStringLiteral("Reading again: %1").arg(registerNames(rereading_));
        batchId_ = link_.startBatch(frames);
        SaveState = Reading;
        return;
    }
    askOrWrite();
}

void SaveConfig::unreadOfTheWholeBank(const BatchOutcome& o) {
    unread_.clear();
    bool u05Lost = false;
    if (o.unsentFrom >= 0) {
        // Displaced or stopped short: everything from the awaited entry on
        // is unknown.
        for (int e : o.missingEntries(256))
            unread_ << e;
    } else {
        for (int e : o.lostEntries) {
            if (e == kU05Entry)
                u05Lost = true;
            else if (e >= 0 && e < 256)
                unread_ << e;
        }
    }
    u05Lost_ = u05Lost;
}

void SaveConfig::askOrWrite() {
    const bool u05Lost = u05Lost_;
    if (!unread_.isEmpty()) {
        const QString list = registerRanges(unread_);
        status_ = QStringLiteral("Registers not read: %1").arg(list);
        if (!link_.serial.isOpen()) {
            // Reading again cannot help until the port is back.
            failure_ =
                QStringLiteral("Not saved: the port went away; registers not read: %1.").arg(list);
            prompts_.message(kTitle, failure_, MessageKind::Warning);
            SaveState = Done;
            return;
        }
        if (reads_ >= kMaxReads) {
            failure_ = QStringLiteral("Not saved: the unit did not answer for register(s) %1 in %2 "
                                      "reads of all registers.")
                           .arg(list)
                           .arg(reads_);
            prompts_.message(kTitle, failure_, MessageKind::Warning);
            SaveState = Done;
            return;
        }
        const bool retry =
            prompts_.askYesNo(kTitle,
                              QStringLiteral("The unit did not answer for %1.\n"
                                             "A file saved now would hold old values for them.\n\n"
                                             "Read all registers again?")
                                  .arg(list),
                              true, false);
        if (retry) {
            SaveState = StartRead;
            return;
        }
        failure_ =
            QStringLiteral("Not saved: the unit did not answer for register(s) %1.").arg(list);
        SaveState = Done;
        return;
    }
    if (u05Lost)
        prompts_.message(kTitle,
                         QStringLiteral("Every register was read; only identity item 05 got no "
                                        "answer, which the file does not hold."),
                         MessageKind::Plain);
    readStatusThenWrite();
}

// The file's status line holds the unit's status word as read now, so that
// a saved file's register and status lines hash as the commissioning report
// of the same unit does.
void SaveConfig::readStatusThenWrite() {
    ++statusReads_;
    status_ = QStringLiteral("Reading the status.");
    batchId_ = link_.startBatch({BuildStatus()});
    SaveState = ReadingStatus;
}

void SaveConfig::statusEnded() {
    const BatchOutcome o = link_.poll.outcome(batchId_);
    if (o.complete()) {
        writeFile();
        return;
    }
    if (statusReads_ <= kRegisterRetries && link_.serial.isOpen()) {
        readStatusThenWrite();
        return;
    }
    failure_ = QStringLiteral("Not saved: the unit did not answer the status read (:S#).");
    prompts_.message(kTitle, failure_, MessageKind::Warning);
    SaveState = Done;
}

QString suggestedConfigName(const DeviceState& s, const QDate& date) {
    QString product = productNameOf(s).trimmed();
    if (product.isEmpty())
        product = QStringLiteral("UNIT");
    QString id = serialNumberOf(s);
    if (id.isEmpty()) {
        QStringList parts;
        for (int i = 0; i < 4; ++i)
            parts << s.IdentStrings[static_cast<size_t>(i)];
        id = parts.join(QLatin1Char('-'));
    }
    QString out = product + '_' + id + '_' + date.toString(QStringLiteral("yyyy-MM-dd"));
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    out.replace(unsafe, QStringLiteral("-"));
    return out + QStringLiteral(".cfg");
}

void SaveConfig::writeFile() {
    SaveState = Done;
    status_ = QStringLiteral("Select Save file and location.");
    QStringList lines = cfgLines(link_.state, saveAllNonvol_);
    lines += cfgCommentLines(link_.state, QDateTime::currentDateTime());
    // The name is asked only now, after the read; a name that cannot take
    // the file must not cost the engineer the read, so the registers read
    // stay and another name is asked until one is written or the dialog is
    // cancelled.
    //
    // The name is suggested now that every register, the identity's too,
    // has been read.
    if (!startFolder.isEmpty())
        prompts_.startPath =
            QDir(startFolder)
                .filePath(suggestedConfigName(link_.state, QDateTime::currentDateTime().date()));
    for (;;) {
        QString path =
            prompts_.saveFile(kTitle, QStringLiteral("Sensor Config files{*.cfg)|*.cfg"));
        if (!startFolder.isEmpty())
            prompts_.startPath.clear();
        if (path.isEmpty())
            return; // failure_ keeps why the last name failed, if one did
        // A name typed without a suffix is still a configuration file.
        if (addMissingSuffix && QFileInfo(path).suffix().isEmpty())
            path += QStringLiteral(".cfg");
        const Status written = writeCfgFile(path, lines);
        if (written) {
            savedPath_ = path;
            failure_.clear();
            return;
        }
        failure_ = written.error();
        prompts_.message(kTitle,
                         written.error() +
                             QStringLiteral(".\nThe registers read are kept: choose another "
                                            "file, or cancel to drop them."),
                         MessageKind::Warning);
    }
}

} // namespace gp
