// Commands of configuration transfer: .cfg save, load and compare, the
// product configuration write, and the logo bank to and from .lgo files.
#include "cli/cli_prompts.h"
#include "cli/cli_session.h"
#include "cli/unit_file_name.h"
#include "config/config_load.h"
#include "config/product_config.h"
#include "config/save_config.h"
#include "diag/identity.h"
#include "flash/firmware_backup.h"
#include "link/codec.h"
#include "platform/atomic_file.h"
#include "unit/bulk_transfer.h"
#include "unit/cfg_file.h"
#include "unit/logo_transfer.h"

#include <QFileInfo>
#include <QJsonArray>

namespace gp::cli {

// Connects and reads the identity, as the desktop tool holds it from the
// moment the unit was connected: registers 00 and 01 name the product.
// Before a transfer, what the desktop tool holds by then: the identity, with
// every frame answered (the file's comment lines and name come from it).
bool connectAndIdentify(CliSession& s) {
    return s.connect() && readIdentity(s);
}

QJsonArray regArray(const QList<int>& regs) {
    QJsonArray a;
    for (int r : regs)
        a.append(HexByte(r));
    return a;
}

namespace {

constexpr int kConfigBatchTimeoutMs = 180000;

CliPrompts& prompts(CliSession& s) {
    return static_cast<CliPrompts&>(s.ctx().prompts);
}

// Exactly one positional argument, no unknown options.
std::optional<QString> onePath(CliSession& s, const QStringList& args, const QString& usage) {
    if (args.size() != 1 || args.first().startsWith(QLatin1String("--"))) {
        s.err(QStringLiteral("usage: ") + usage);
        return std::nullopt;
    }
    return args.first();
}

QString regList(const QList<int>& regs) {
    QStringList names;
    for (int r : regs)
        names << HexByte(r);
    return names.join(QStringLiteral(", "));
}

const QString kSaveUsage = QStringLiteral("config save FILE [--all-nonvol]");

int configSave(CliSession& s, QStringList args) {
    const bool all = CliSession::takeFlag(args, QStringLiteral("--all-nonvol"));
    const auto path = onePath(s, args, kSaveUsage);
    if (!path)
        return s.finish(ExitUsage);
    // A target that cannot take the file is said before the unit is read.
    // A name that hangs on the unit's identity is checked as far as it is
    // known: its folder, when the folder does not hang on it too.
    const QString port = s.options().port;
    const QString known =
        expandUnitPlaceholders(*path, {port.isEmpty() ? QStringLiteral("port") : port,
                                       QStringLiteral("uid"), QStringLiteral("sn")})
            .toOptional()
            .value_or(*path);
    if (!needsIdentity(QFileInfo(*path).path())) {
        if (const Status writable = checkWritableTarget(known); !writable) {
            s.err(writable.error());
            s.set(QStringLiteral("error"), writable.error());
            return s.finish(ExitUsage);
        }
    }
    if (!connectAndIdentify(s))
        return s.finish(ExitFailed);
    // The file's name, now that the unit has said who it is.
    const DeviceState& unit = s.link().state;
    const auto target =
        expandUnitPlaceholders(*path, {s.portName(), flash::uniqueIdOf(unit),
                                       unit.known(3) ? serialNumberOf(unit) : QString()});
    if (!target) {
        s.err(target.error() + QStringLiteral(" Nothing was saved."));
        return s.finish(ExitFailed);
    }
    if (*target != *path) {
        if (const Status writable = checkWritableTarget(*target); !writable) {
            s.err(writable.error());
            s.set(QStringLiteral("error"), writable.error());
            return s.finish(ExitUsage);
        }
    }
    // Two units of one run never write one file: the second would replace
    // the first one's settings.
    if (const QString other = s.claimFile(*target); !other.isEmpty()) {
        s.err(QStringLiteral("Not saved: %1 is the file of the unit on %2 too; give FILE a "
                             "placeholder that tells the units apart ({port}, {uid}, {sn}).")
                  .arg(*target, other));
        return s.finish(ExitFailed);
    }
    prompts(s).files = QStringList{*target};
    SaveConfig save(s.link(), s.ctx().prompts, all);
    s.runUntil(
        [&] {
            save.tick();
            return save.finished();
        },
        15 * 60000);
    save.cancel(); // stops a read still running after the time-out
    s.set(QStringLiteral("unread"), regArray(save.unreadRegisters()));
    if (!save.unreadRegisters().isEmpty())
        s.out(QStringLiteral("Registers not read: ") + registerRanges(save.unreadRegisters()));
    if (!save.saved()) {
        s.err(save.failure().isEmpty() ? QStringLiteral("Nothing was saved.") : save.failure());
        return s.finish(ExitFailed);
    }
    s.set(QStringLiteral("file"), save.savedPath());
    s.out(QStringLiteral("Saved ") + save.savedPath());
    return s.finish(ExitOk);
}

// Exit status of a refused file: the product check is a failed check, the
// rest is bad input.
int refused(CliSession& s, const CfgCheck& check) {
    s.err(check.message);
    s.set(QStringLiteral("error"), check.message);
    const bool unitFault =
        check.status == CfgCheck::WrongProduct || check.status == CfgCheck::NoAnswer;
    return s.finish(unitFault ? ExitFailed : ExitUsage);
}

bool readable(CliSession& s, const QString& path) {
    QFileInfo fi(path);
    if (fi.isFile() && fi.isReadable())
        return true;
    s.err(QStringLiteral("Cannot read %1. Nothing was sent.").arg(path));
    return false;
}

// Line numbers and the like, as JSON numbers.
QJsonArray numberArray(const QList<int>& numbers) {
    QJsonArray out;
    for (int n : numbers)
        out.append(n);
    return out;
}

int configLoad(CliSession& s, QStringList args) {
    const bool verify = CliSession::takeFlag(args, QStringLiteral("--verify"));
    const auto path = onePath(s, args, QStringLiteral("config load FILE [--verify]"));
    if (!path)
        return s.finish(ExitUsage);
    if (!readable(s, *path))
        return s.finish(ExitUsage);
    if (!connectAndIdentify(s))
        return s.finish(ExitFailed);
    ConfigLoad load(s.link());
    if (!load.start(*path, verify).ok())
        return refused(s, load.check());
    s.runUntil([&] { return load.finished(); }, kConfigBatchTimeoutMs);
    if (!load.check().ok())
        return refused(s, load.check());
    const LoadReport rep = load.report();
    s.out(rep.text());
    s.set(QStringLiteral("writes"), rep.writes);
    s.set(QStringLiteral("confirmed"), rep.confirmed);
    s.set(QStringLiteral("unconfirmed"), regArray(rep.unconfirmed));
    s.set(QStringLiteral("resent"), rep.resent);
    s.set(QStringLiteral("registersInFile"), load.check().registersGiven);
    s.set(QStringLiteral("skippedLines"), numberArray(load.check().skippedLines));
    s.set(QStringLiteral("duplicateLines"), numberArray(load.check().duplicateLines));
    s.set(QStringLiteral("settingsStored"), rep.settingsStored);
    if (rep.verified) {
        s.set(QStringLiteral("differing"), regArray(rep.differing));
        s.set(QStringLiteral("notReadBack"), regArray(rep.notReadBack));
    }
    if (!rep.ok()) {
        // Every frame whose answer the load lacks, and why it failed.
        s.set(QStringLiteral("lost"), QJsonArray::fromStringList(rep.lostFrames));
        s.set(QStringLiteral("error"), rep.text());
    }
    return s.finish(rep.ok() ? ExitOk : ExitFailed);
}

int configDiff(CliSession& s, QStringList args) {
    const auto path = onePath(s, args, QStringLiteral("config diff FILE"));
    if (!path)
        return s.finish(ExitUsage);
    if (!readable(s, *path))
        return s.finish(ExitUsage);
    if (!connectAndIdentify(s))
        return s.finish(ExitFailed);
    const int readId = ReadAllRegisters(s.link());
    s.waitBatch(kConfigBatchTimeoutMs);
    const BatchOutcome stats = s.link().poll.outcome(readId);
    const DeviceState& unit = s.link().state;
    const CfgCheck check = readCfgFile(*path, unit);
    if (!check.ok())
        return refused(s, check);
    // What a load would send, against what the unit holds now.
    DeviceState loaded = unit;
    applyCfg(loaded, check.content);
    QList<int> unread;
    for (int e : stats.lostEntries)
        if (e < 256)
            unread << e;
    QJsonArray diffs;
    for (int r : cfgWriteRegisters(loaded, check.content)) {
        const int32_t want = loaded.RegCache[static_cast<size_t>(r)];
        const int32_t have = unit.RegCache[static_cast<size_t>(r)];
        if (unread.contains(r) || want != have) {
            const QString unitText =
                unread.contains(r) ? QStringLiteral("not read") : HexLong(have);
            s.out(QStringLiteral("%1: file %2, unit %3")
                      .arg(cfgRegisterLabel(r), HexLong(want), unitText));
            diffs.append(QJsonObject{{"register", HexByte(r)},
                                     {"cfgLine", r},
                                     {"file", HexLong(want)},
                                     {"unit", unitText}});
        }
    }
    s.set(QStringLiteral("differences"), diffs);
    if (diffs.isEmpty())
        s.out(QStringLiteral("No difference."));
    return s.finish(diffs.isEmpty() ? ExitOk : ExitFailed);
}

const QString kProductUsage =
    QStringLiteral("product set [--app N] [--features NAME,...|--feature-bits HEX] [--vendor-id N] "
                   "[--vendor NAME] [--product NAME] [--clamp]");

int productSet(CliSession& s, QStringList args) {
    const auto app = CliSession::takeOption(args, QStringLiteral("--app"));
    const auto features = CliSession::takeOption(args, QStringLiteral("--features"));
    const auto bits = CliSession::takeOption(args, QStringLiteral("--feature-bits"));
    const auto vendorId = CliSession::takeOption(args, QStringLiteral("--vendor-id"));
    auto vendor = CliSession::takeOption(args, QStringLiteral("--vendor"));
    auto product = CliSession::takeOption(args, QStringLiteral("--product"));
    const bool clamp = CliSession::takeFlag(args, QStringLiteral("--clamp"));
    auto bad = [&](const QString& why) {
        s.err(why + QStringLiteral("\nusage: ") + kProductUsage);
        return s.finish(ExitUsage);
    };
    if (!args.isEmpty())
        return bad(QStringLiteral("unexpected: ") + args.join(' '));
    if (features && bits)
        return bad(QStringLiteral("--features and --feature-bits exclude each other"));
    int appId = -1;
    if (app) {
        bool ok = false;
        appId = app->toInt(&ok);
        if (!ok || appId < 0 || appId > 15)
            return bad(QStringLiteral("--app takes 0..15"));
    }
    std::optional<uint32_t> featureValue;
    if (bits) {
        bool ok = false;
        const uint32_t v = bits->toUInt(&ok, 16);
        if (!ok || v > 0x0FFFFFFFu)
            return bad(QStringLiteral("--feature-bits takes hex bits 0..27"));
        featureValue = v;
    }
    if (features) {
        uint32_t v = 0;
        for (const QString& name : features->split(',', Qt::SkipEmptyParts)) {
            const int bit = featureBitNamed(name);
            if (bit < 0)
                return bad(QStringLiteral("unknown feature '%1'; the features are %2")
                               .arg(name, featureNamesAccepted().join(QStringLiteral(", "))));
            v |= 1u << bit;
        }
        featureValue = v;
    }
    // A name longer than its field would reach the unit cut short.
    for (auto [option, name, length] : {std::tuple{"--vendor", &vendor, kVendorNameLength},
                                        std::tuple{"--product", &product, kProductNameLength}}) {
        if (!*name || (*name)->size() <= length)
            continue;
        if (!clamp)
            return bad(QStringLiteral("%1 takes at most %2 characters; '%3' has %4 (--clamp "
                                      "writes '%5')")
                           .arg(QLatin1String(option))
                           .arg(length)
                           .arg(**name)
                           .arg((*name)->size())
                           .arg((*name)->left(length)));
        **name = (*name)->left(length);
        s.err(QStringLiteral("%1: '%2' is written.").arg(QLatin1String(option), **name));
    }
    if (vendorId && vendorIdFromText(*vendorId) == 0)
        return bad(QStringLiteral("--vendor-id takes 1..32656"));
    if (!connectAndIdentify(s))
        return s.finish(ExitFailed);
    // Start from what the unit holds, read right now, so that every field
    // not given goes back exactly as the unit holds it.
    ProductFieldsGiven given;
    given.appId = app.has_value();
    given.features = featureValue.has_value();
    given.vendorId = vendorId.has_value();
    given.vendorName = vendor.has_value();
    given.productName = product.has_value();
    QStringList frames;
    QString refusal;
    int writeId = 0;
    const QList<int> regs = productConfigRegisters();
    const WriteStart w = s.link().writes.request(
        regs,
        [&](DeviceState& state) {
            ProductConfig config = productConfigFromRegisters(state.RegRecord);
            if (app)
                config.appId = appId;
            if (featureValue)
                config.features = *featureValue;
            if (vendorId)
                config.vendorIdText = *vendorId;
            if (vendor)
                config.vendorName = *vendor;
            if (product)
                config.productName = *product;
            WriteBatch b;
            frames = productConfigFramesKeeping(config, state, given);
            b.frames = frames;
            b.divisor = static_cast<int>(frames.size()) + 1;
            b.started = [&](int id) { writeId = id; };
            return b;
        },
        regs, [&](const QString& why) { refusal = why; });
    if (w.refused())
        refusal = w.refusal();
    if (refusal.isEmpty())
        s.waitBatch(kConfigBatchTimeoutMs);
    if (refusal.isEmpty() && writeId == 0)
        refusal = QStringLiteral("The unit did not answer the read of its product configuration.");
    if (!refusal.isEmpty()) {
        s.link().writes.cancel();
        s.err(refusal);
        return s.finish(ExitFailed);
    }
    const QStringList lost = s.link().poll.stats().lostFrames;
    QJsonArray report;
    bool ok = true;
    for (const QString& f : frames) {
        // The unit resets on ":SR#" and so never answers it.
        const bool reset = f == BuildSystem(QStringLiteral("R"));
        const bool answered = !lost.contains(f);
        if (!answered && !reset)
            ok = false;
        const QString state = answered ? QStringLiteral("confirmed")
                                       : (reset ? QStringLiteral("sent (the unit resets)")
                                                : QStringLiteral("no reply"));
        s.out(f + QStringLiteral("  ") + state);
        report.append(QJsonObject{{"frame", f}, {"result", state}});
    }
    s.set(QStringLiteral("frames"), report);
    return s.finish(ok ? ExitOk : ExitFailed);
}

int logoRead(CliSession& s, QStringList args) {
    const auto path = onePath(s, args, QStringLiteral("logo read FILE"));
    if (!path)
        return s.finish(ExitUsage);
    if (const Status writable = checkWritableTarget(*path); !writable) {
        s.err(writable.error());
        s.set(QStringLiteral("error"), writable.error());
        return s.finish(ExitUsage);
    }
    if (!connectAndIdentify(s))
        return s.finish(ExitFailed);
    const int readId = ReadLogo(s.link());
    s.waitBatch(kConfigBatchTimeoutMs);
    const BatchOutcome st = s.link().poll.outcome(readId);
    // A block whose reply was lost is read again, as every read is.
    QStringList lost = st.missingFrames(s.link().poll.batchFrames());
    if (!lost.isEmpty() && !s.interrupted())
        lost = s.readFrames(lost);
    if (!lost.isEmpty()) {
        QList<int> blocks;
        for (const QString& f : lost)
            blocks << ParseHexByte(f.mid(2));
        s.err(
            QStringLiteral("Logo blocks not read: %1. No file was written.").arg(regList(blocks)));
        s.set(QStringLiteral("unread"), regArray(blocks));
        return s.finish(ExitFailed);
    }
    if (const Status written = writeLogoFile(*path, s.link().state); !written) {
        s.err(written.error());
        return s.finish(ExitFailed);
    }
    s.out(QStringLiteral("Saved the logo (128 blocks) to ") + *path);
    s.set(QStringLiteral("file"), *path);
    return s.finish(ExitOk);
}

int logoWrite(CliSession& s, QStringList args) {
    const auto path = onePath(s, args, QStringLiteral("logo write FILE"));
    if (!path)
        return s.finish(ExitUsage);
    const LogoFile file = readLogoFile(*path);
    if (!file.ok() || file.frames.isEmpty()) {
        s.err(file.ok() ? QStringLiteral("%1 holds no logo frames; nothing was sent.").arg(*path)
                        : file.error);
        return s.finish(ExitUsage);
    }
    if (!connectAndIdentify(s))
        return s.finish(ExitFailed);
    sendLogoFrames(s.link(), file.frames);
    s.waitBatch(kConfigBatchTimeoutMs);
    const BatchStats& st = s.link().poll.stats();
    if (s.interrupted()) {
        s.err(QStringLiteral("Interrupted after %1 of %2 logo frames (%3 answered): the unit "
                             "holds part of the new logo. Write the file again.")
                  .arg(st.answered + st.lost)
                  .arg(file.frames.size())
                  .arg(st.answered));
        s.set(QStringLiteral("answered"), st.answered);
        return s.finish(ExitInterrupted);
    }
    s.out(QStringLiteral("Sent %1 logo frames, %2 answered.")
              .arg(file.frames.size())
              .arg(st.answered));
    for (const QString& f : st.lostFrames)
        s.out(QStringLiteral("No reply: ") + f);
    s.set(QStringLiteral("sent"), static_cast<int>(file.frames.size()));
    s.set(QStringLiteral("answered"), st.answered);
    s.set(QStringLiteral("lost"), QJsonArray::fromStringList(st.lostFrames));
    return s.finish(st.lost == 0 ? ExitOk : ExitFailed);
}

} // namespace

QList<Command> configCommands() {
    return {
        {QStringLiteral("config save"),
         kSaveUsage + QStringLiteral("  read every register, save a .cfg file"), configSave,
         QStringLiteral(
             "Reads every register and saves a .cfg file; prints the registers that were\n"
             "not read, if any. FILE may hold {port} (the port's base name), {uid} (the\n"
             "unit's unique id) or {sn} (its serial number): each unit gets its own file,\n"
             "as it must when several ports are given.\n"
             "  --all-nonvol    save every non-volatile register, not only the settings")},
        {QStringLiteral("config load"),
         QStringLiteral("config load FILE [--verify]  check a .cfg file, write its settings"),
         configLoad,
         QStringLiteral("Checks FILE against the unit and writes the registers it gives, then\n"
                        ":SU#. A write whose reply is lost is sent again, at most twice; the\n"
                        "summary says how many were. Exit status 1 when any write stays\n"
                        "unconfirmed.\n"
                        "  --verify        read back every register written and compare it with\n"
                        "                  the file; a difference fails the load, naming it")},
        {QStringLiteral("config diff"),
         QStringLiteral("config diff FILE           compare the unit with what a load would write"),
         configDiff},
        {QStringLiteral("product set"), kProductUsage, productSet,
         QStringLiteral(
             "The product configuration write; what is not named stays as the unit holds it.\n"
             "  --app N              the application id, 0..15\n"
             "  --features NAME,...  the feature names to set, comma-separated, as the unit\n"
             "                       spells them (Humdity) or as they are spelled (Humidity)\n"
             "  --feature-bits HEX   or the feature bits 0..27 in hexadecimal\n"
             "  --vendor-id N        the vendor id, 1..32656\n"
             "  --vendor NAME        the vendor name, at most 31 characters\n"
             "  --product NAME       the product name, at most 11 characters\n"
             "  --clamp              write a name too long cut to its field, saying so,\n"
             "                       instead of refusing it")},
        {QStringLiteral("logo read"),
         QStringLiteral("logo read FILE             save the logo bank as a .lgo file"), logoRead},
        {QStringLiteral("logo write"),
         QStringLiteral("logo write FILE            send a .lgo file to the unit"), logoWrite},
    };
}

} // namespace gp::cli
