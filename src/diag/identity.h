#pragma once
// The unit's identity: the read batch that fetches it and the five lines the
// "Device" view shows. Nothing here writes to the unit.

#include "link/link.h"
#include "unit/registers.h"

#include <QLocale>
#include <QString>
#include <QStringList>

namespace gp {

class LangDll;

// The identity batch in send order: its own frames (registers 00 and 01,
// identity items U00..U04, register 02, the comms register 21 and register
// 23), then the reads appended behind them, each for one field of the Device
// view: the BACnet device instance register 24, so the comms frame shows
// what the unit holds for every register it writes; the serial number (03);
// the vendor id (04) that decides whether the device instance applies; the
// product name (0D..0F).
QStringList identityFrames();
// The registers read behind the identity's own frames, in send order.
QList<int> identityAppendedRegisters();

// How the identity batch last run on the poll cycle went. A unit that does
// not answer an appended read must not cost the Device view its identity:
// that read only leaves its own field empty.
struct IdentityOutcome {
    bool identityBatch = false;     // the queue holds the identity batch
    bool ownFramesAnswered = false; // it ended and every own frame got its reply
    QList<int> unreadAppended;      // appended registers whose reply was lost
};
IdentityOutcome identityOutcome(const PollCycle& poll);
// True when the identity batch has just ended without a reply to its last
// frame (queue position -2) while all its own frames were answered: the
// view's completion step is due all the same.
bool identityCompletesDespiteLoss(const PollCycle& poll);
// Progress divisor of the identity batch: one more than its frames, as the
// unit tool has always counted it.
int identityProgressDivisor();

// Starts the identity batch (progress reset, first frame sent). Answers the
// batch id, 0 when nothing was started.
int IdentityRead(Link& link);

// The five identity lines, as plain text.
struct IdentityLines {
    QString uniqueId;
    QString firmwareVersion;
    QString productType;
    QString serialNumber; // empty when the unit has none
    QString dateCode;     // empty when the unit has no serial number
    // False when register 03 is 0: the serial number and date code lines are
    // hidden then (and shown again by a later read with a serial number).
    bool serialVisible = true;
};

IdentityLines ShowIdentity(const DeviceState& state, const LangDll& lang,
                           const QLocale& locale = QLocale());

} // namespace gp
