#include "diag/identity.h"

#include "app/lang_dll.h"
#include "app/printable_text.h"
#include "link/codec.h"

#include <iterator>

namespace gp {

namespace {

// Reads appended behind the identity proper, each filling one field of the
// Device view: register 24 holds the BACnet device instance that the comms
// frame edits, 03 the serial number (the date code is in 02), 04 the vendor
// id on which setting the device instance depends, 0D..0F the product name.
// Without them the product type and serial number stayed empty until an
// advanced diagnostics read.
constexpr int kAppendedRegisters[] = {0x24, 0x03, 0x04, 0x0D, 0x0E, 0x0F};

QString lang(const LangDll& l, int id, const char* english) {
    return l.GetLangStringOr(id, QString::fromLatin1(english));
}

QStringList ownFrames() {
    return {BuildRead(0x00),       BuildRead(0x01),       BuildItemRead('U', 0),
            BuildItemRead('U', 1), BuildItemRead('U', 2), BuildItemRead('U', 3),
            BuildItemRead('U', 4), BuildRead(0x02),       BuildRead(0x21),
            BuildRead(0x23)};
}

} // namespace

QStringList identityFrames() {
    QStringList frames = ownFrames();
    for (int reg : kAppendedRegisters)
        frames << BuildRead(reg);
    return frames;
}

QList<int> identityAppendedRegisters() {
    return QList<int>(std::begin(kAppendedRegisters), std::end(kAppendedRegisters));
}

IdentityOutcome identityOutcome(const PollCycle& poll) {
    IdentityOutcome out;
    const QStringList frames = identityFrames();
    // The queue still holds the batch after its end; an identity batch
    // starts at entry 0.
    if (poll.batchFirstEntry() != 0 || poll.batchFrames() != frames)
        return out;
    const BatchOutcome s = poll.outcome(poll.stats().id);
    out.identityBatch = true;
    out.ownFramesAnswered = s.finished;
    const int own = static_cast<int>(ownFrames().size());
    for (int entry : s.lostEntries) {
        if (entry < own)
            out.ownFramesAnswered = false;
        else if (entry < frames.size())
            out.unreadAppended << kAppendedRegisters[entry - own];
    }
    return out;
}

bool identityCompletesDespiteLoss(const PollCycle& poll) {
    if (!poll.outcome(poll.stats().id).lastReplyLost)
        return false;
    const IdentityOutcome o = identityOutcome(poll);
    return o.identityBatch && o.ownFramesAnswered;
}

int identityProgressDivisor() {
    return static_cast<int>(identityFrames().size()) + 1;
}

int IdentityRead(Link& link) {
    return link.startBatch(identityFrames(), identityProgressDivisor());
}

IdentityLines ShowIdentity(const DeviceState& s, const LangDll& l, const QLocale& locale) {
    IdentityLines out;
    // The unit's texts are shown only with their unprintable characters
    // replaced: a line break or an escape sequence from the wire must not
    // reach a label or a terminal.
    out.uniqueId = lang(l, 2501, "UniqueID:") + ' ' +
                   printableText(s.IdentStrings[0] + '-' + s.IdentStrings[1] + '-' +
                                 s.IdentStrings[2] + '-' + s.IdentStrings[3]);
    out.firmwareVersion =
        lang(l, 2502, "Firmware Version:") + ' ' + formatFirmwareVersion(s.FirmwareVersion, locale);

    out.productType = lang(l, 2500, "Product Type:") + ' ' + printableText(productNameOf(s));

    const QString serial = serialNumberOf(s);
    if (serial.isEmpty()) {
        out.serialVisible = false;
        return out;
    }
    out.serialNumber = lang(l, 2503, "S/N:") + ' ' + serial;
    auto two = [&](int i) {
        return QStringLiteral("%1").arg(s.RegRecord.byte(0x02, i), 2, 10, QLatin1Char('0'));
    };
    out.dateCode = lang(l, 2504, "Date Code:") + ' ' + two(0) + '/' + two(1) + '/' + two(2);
    return out;
}

} // namespace gp
