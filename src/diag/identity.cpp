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
    // starts at entry 0 and ends with the empty entry behind its frames.
    for (int i = 0; i < frames.size(); ++i)
        if (poll.CmdQueue[static_cast<size_t>(i)] != frames[i])
            return out;
    if (!poll.CmdQueue[static_cast<size_t>(frames.size())].isEmpty())
        return out;
    const BatchStats& s = poll.stats();
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
    if (poll.CmdQueuePos != -2)
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

QString formatFirmwareVersion(int versionTimes100, const QLocale& locale) {
    QLocale l = locale;
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l.toString(versionTimes100 / 100.0, 'f', 2);
}

int appIdOf(const DeviceState& state) {
    return static_cast<int>((static_cast<uint32_t>(state.RegRecord.asInt(1)) >> 28) & 0x0F);
}

bool hasFeature(const DeviceState& state, uint32_t bit) {
    return (static_cast<uint32_t>(state.RegRecord.asInt(1)) & bit) != 0;
}

QStringList featureNames(int32_t reg01) {
    static constexpr const char* kNames[28] = {
        "0",   "MODBUS", "BACNET", "CO2", "Buzzer", "Humdity", "R-180", "Triac",  "PIR", "WIFI",
        "RTC", "USA",    "CE",     "13",  "AO1",    "AO2",     "AO3",   "AO4",    "DO1", "DO2",
        "DI1", "DI2",    "RI1",    "RI2", "AI",     "TVOC",    "26",    "INT NTC"};
    QStringList out;
    for (int bit = 0; bit < 28; ++bit)
        if ((static_cast<uint32_t>(reg01) >> bit) & 1u)
            out << QString::fromLatin1(kNames[bit]);
    return out;
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

QString productNameOf(const DeviceState& s) {
    QByteArray name;
    for (int i = 0; i < 12; ++i) {
        const uint8_t b = s.RegRecord.byte(0x0D + i / 4, i % 4);
        if (b == 0)
            break;
        name.append(static_cast<char>(b));
    }
    return QString::fromLatin1(name).toUpper();
}

QString serialNumberOf(const DeviceState& s) {
    const auto serial = static_cast<uint32_t>(s.RegRecord.asInt(0x03));
    if (serial == 0)
        return QString();
    const auto letter = static_cast<char>(serial >> 24);
    const QString number = QString::number(serial & 0xFFFFFFu);
    return letter == 0 ? number : QString(QChar::fromLatin1(letter)) + '-' + number;
}

} // namespace gp
