// Commands of the unit's identity and field-bus settings.
#include "cli/cli_session.h"
#include "config/comms_settings.h"
#include "diag/identity.h"
#include "link/codec.h"

#include <QJsonArray>
#include <optional>

namespace gp::cli {

// The identity read, as the desktop tool does it on connecting; a reply lost
// is read again on its own. False (with a message naming the frames) only
// when a frame is still unread at the end that does not read one of the
// `unneeded` registers: a lost value the command does not print costs it
// nothing.
bool readIdentity(CliSession& s, const QList<int>& unneeded) {
    const QStringList frames = identityFrames();
    const int id = IdentityRead(s.link());
    s.waitBatch(10000);
    // Ended before its end: what was not yet sent is unknown.
    const BatchOutcome o = s.link().poll.outcome(id);
    if (!o.displaced && o.unsentFrom >= 0)
        s.link().poll.abandon();
    const QStringList lost = o.missingFrames(frames);
    const QStringList unread = lost.isEmpty() ? QStringList() : s.readFrames(lost);
    QStringList needed = unread;
    for (int reg : unneeded)
        needed.removeAll(BuildRead(reg));
    if (needed.isEmpty())
        return true;
    // Every frame still unanswered is named, the ones the command could do
    // without included: they tell the engineer what the line did.
    s.err(QStringLiteral("The unit did not answer the identity read for %1 frame(s): %2. "
                         "Nothing is shown.")
              .arg(unread.size())
              .arg(unread.join(QStringLiteral(", "))));
    s.set(QStringLiteral("unread"), QJsonArray::fromStringList(unread));
    return false;
}

namespace {

// The baud code of a rate in bits per second; -1 for a rate the unit has not.
int baudCodeOfRate(int rate) {
    switch (rate) {
    case 9600:
        return 0;
    case 19200:
        return 1;
    case 38400:
        return 2;
    case 57600:
    case 76800: // one code, whose rate depends on the unit's field bus
        return 3;
    default:
        return -1;
    }
}

// The value of an identity line, without its caption ("Product Type: X").
QString valueOf(const QString& line) {
    const qsizetype at = line.indexOf(QStringLiteral(": "));
    return at < 0 ? QString() : line.mid(at + 2);
}

int identity(CliSession& s, const QStringList& args) {
    if (!args.isEmpty()) {
        s.err(QStringLiteral("identity: unexpected argument '%1'").arg(args.first()));
        return s.finish(ExitUsage);
    }
    // The comms registers, the device instance and the vendor id are read
    // for the other views; the identity does not print them.
    if (!s.connect() || !readIdentity(s, {0x04, 0x21, 0x23, 0x24}))
        return s.finish(ExitFailed);
    const DeviceState& st = s.link().state;
    const IdentityLines lines = ShowIdentity(st, s.ctx().lang);
    QStringList shown{lines.uniqueId, lines.firmwareVersion, lines.productType};
    if (lines.serialVisible)
        shown << lines.serialNumber << lines.dateCode;
    for (const QString& l : shown)
        s.out(l);
    const QStringList features = featureNames(st.RegRecord.asInt(1));
    s.out(QStringLiteral("Features: ") + features.join(QStringLiteral(", ")));
    s.set(QStringLiteral("lines"), QJsonArray::fromStringList(shown));
    s.set(QStringLiteral("features"), QJsonArray::fromStringList(features));
    s.set(QStringLiteral("appId"), appIdOf(st));
    s.set(QStringLiteral("firmwareVersion"), st.FirmwareVersion);
    s.set(QStringLiteral("productType"), valueOf(lines.productType));
    // A unit without a serial number has neither line: null, not "".
    s.set(QStringLiteral("serialNumber"),
          lines.serialVisible ? QJsonValue(valueOf(lines.serialNumber)) : QJsonValue());
    s.set(QStringLiteral("dateCode"),
          lines.serialVisible ? QJsonValue(valueOf(lines.dateCode)) : QJsonValue());
    return s.finish(ExitOk);
}

void printComms(CliSession& s) {
    const DeviceState& st = s.link().state;
    const CommsSettings c = decodeComms(st.RegRecord.asInt(kCommsRegister));
    auto caption = [](const QStringList& list, int i) {
        return i >= 0 && i < list.size() ? list.at(i) : QStringLiteral("?");
    };
    const int32_t instance = st.RegRecord.asInt(kDeviceIdRegister);
    s.out(QStringLiteral("address\t%1").arg(c.address));
    s.out(QStringLiteral("baud\t%1\t%2").arg(c.baud).arg(caption(baudCaptions(), c.baud)));
    s.out(QStringLiteral("parity\t%1\t%2")
              .arg(c.parity)
              .arg(caption(parityCaptions(s.ctx().lang), c.parity)));
    s.out(QStringLiteral("stop\t%1\t%2")
              .arg(c.stop)
              .arg(caption(stopBitCaptions(s.ctx().lang), c.stop)));
    s.out(QStringLiteral("device-id\t%1%2")
              .arg(instance)
              .arg(deviceIdApplies(st) ? QString() : QStringLiteral("\t(not settable)")));
    s.set(QStringLiteral("address"), c.address);
    s.set(QStringLiteral("baud"), c.baud);
    s.set(QStringLiteral("parity"), c.parity);
    s.set(QStringLiteral("stop"), c.stop);
    s.set(QStringLiteral("deviceId"), instance);
    s.set(QStringLiteral("deviceIdSettable"), deviceIdApplies(st));
}

int comms(CliSession& s, const QStringList& args) {
    if (!args.isEmpty()) {
        s.err(QStringLiteral("comms: unexpected argument '%1' (did you mean 'comms set'?)")
                  .arg(args.first()));
        return s.finish(ExitUsage);
    }
    if (!s.connect() || !readIdentity(s))
        return s.finish(ExitFailed);
    printComms(s);
    return s.finish(ExitOk);
}

int commsSet(CliSession& s, QStringList args) {
    struct Field {
        const char* option;
        int max;
        std::optional<int> value;
    };
    Field fields[] = {{"--address", kMaxAddress, {}},
                      {"--baud", 3, {}},
                      {"--parity", 2, {}},
                      {"--stop", 1, {}},
                      {"--device-id", kMaxDeviceInstance, {}}};
    for (Field& f : fields) {
        const QString name = QString::fromLatin1(f.option);
        if (args.contains(name)) {
            const auto text = CliSession::takeOption(args, name);
            bool ok = false;
            int v = text ? text->toInt(&ok) : 0;
            // The rate itself is taken for the baud code that stands for it.
            if (ok && &f == &fields[1] && v > f.max)
                v = baudCodeOfRate(v);
            if (!ok || v < 0 || v > f.max) {
                s.err(&f == &fields[1]
                          ? QStringLiteral("comms set: --baud needs a rate (9600, 19200, 38400, "
                                           "57600 or 76800) or its code 0..3")
                          : QStringLiteral("comms set: %1 needs a number 0..%2")
                                .arg(name)
                                .arg(f.max));
                return s.finish(ExitUsage);
            }
            f.value = v;
        }
    }
    if (!args.isEmpty()) {
        s.err(QStringLiteral("comms set: unexpected argument '%1'").arg(args.first()));
        return s.finish(ExitUsage);
    }
    // The unit's present settings first: what is not named on the command
    // line is written back as the unit holds it.
    if (!s.connect() || !readIdentity(s))
        return s.finish(ExitFailed);
    // Whether the device id applies hangs on the vendor id in register 04,
    // which the identity read holds too.
    DeviceState& st = s.link().state;
    if (fields[4].value && !deviceIdApplies(st)) {
        s.err(QStringLiteral("comms set: the device id can only be set on a BACnet unit with "
                             "vendor id %1; nothing was written.")
                  .arg(OwnVendorId));
        return s.finish(ExitFailed);
    }
    CommsControls c = ReadCommsControls(st, s.ctx().lang);
    if (fields[0].value)
        c.address = QString::number(*fields[0].value);
    if (fields[1].value)
        c.baud = *fields[1].value;
    if (fields[2].value)
        c.parity = *fields[2].value;
    if (fields[3].value)
        c.stop = *fields[3].value;
    if (fields[4].value)
        c.deviceId = QString::number(*fields[4].value);
    // A register byte beyond a list would otherwise be written as 0.
    const CommsSettings present = decodeComms(st.RegRecord.asInt(kCommsRegister));
    if (c.baud < 0 || c.parity < 0 || c.stop < 0) {
        s.err(QStringLiteral("comms set: the unit holds settings this tool does not know "
                             "(register 21 = %1); name all of --baud, --parity and --stop.")
                  .arg(static_cast<uint32_t>(encodeComms(present)), 8, 16, QLatin1Char('0')));
        return s.finish(ExitFailed);
    }
    writeComms(s.link(), c);
    const int32_t wanted21 = st.RegCache[kCommsRegister];
    const int32_t wanted24 = st.RegCache[kDeviceIdRegister];
    if (!s.waitBatch(10000)) {
        s.err(QStringLiteral("The unit did not confirm the comms write."));
        return s.finish(ExitFailed);
    }
    // Read back: the settings only count when the unit holds them.
    if (!readIdentity(s))
        return s.finish(ExitFailed);
    printComms(s);
    if (st.RegCache[kCommsRegister] != wanted21 || st.RegCache[kDeviceIdRegister] != wanted24) {
        s.err(QStringLiteral("The unit's settings differ from what was written."));
        return s.finish(ExitFailed);
    }
    return s.finish(ExitOk);
}

} // namespace

QList<Command> identityCommands() {
    return {
        {QStringLiteral("identity"),
         QStringLiteral("identity                   the unit's identity lines and features"),
         identity},
        {QStringLiteral("comms"),
         QStringLiteral("comms                      the field-bus settings"), comms},
        {QStringLiteral("comms set"),
         QStringLiteral("comms set [--address N] [--baud RATE] [--parity I] [--stop I] "
                        "[--device-id N]"),
         commsSet,
         QStringLiteral(
             "Writes the field-bus settings and reads them back; what is not named is\n"
             "written back as the unit holds it.\n"
             "  --address N     the field-bus address, 0..247\n"
             "  --baud RATE     9600, 19200, 38400, 57600 or 76800 (57600 and 76800 share\n"
             "                  one setting); the codes 0..3 are taken too\n"
             "  --parity I      0 none, 1 even, 2 odd\n"
             "  --stop I        0 one stop bit, 1 two\n"
             "  --device-id N   the BACnet device id, 0..4194303; only on a BACnet unit of\n"
             "                  our own vendor id")},
    };
}

} // namespace gp::cli
