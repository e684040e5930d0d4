#include "cli/doctor.h"

#include "flash/bossac.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gp::cli {

namespace {

const QString kRulesExample =
    QStringLiteral("/usr/share/doc/glimmerpane/examples/60-glimmerpane-serial.rules");

QString groupAdvice(const DoctorFacts& f, const QString& group) {
    if (f.accountGroups.contains(group))
        return QStringLiteral("%1 is in group %2 since this login began: log out and in again "
                              "(or run 'newgrp %2' in this shell).")
            .arg(f.user, group);
    return QStringLiteral("sudo usermod -aG %1 %2, then log out and in again.").arg(group, f.user);
}

// The groups serial devices belong to here: those of the listed ports, or
// the usual one when no port is there to ask.
QStringList serialGroups(const DoctorFacts& f) {
    QStringList groups;
    for (const DoctorPort& p : f.ports)
        if (p.exists && !p.group.isEmpty() && p.group != QLatin1String("root") &&
            !groups.contains(p.group))
            groups << p.group;
    if (groups.isEmpty())
        groups << QString::fromLatin1(kSerialGroup);
    return groups;
}

DoctorCheck groupCheck(const DoctorFacts& f) {
    DoctorCheck c{QStringLiteral("serial group"), CheckStatus::Ok, {}, {}};
    if (f.root) {
        c.finding = QStringLiteral("running as root: every port may be opened");
        return c;
    }
    QStringList missing;
    for (const QString& g : serialGroups(f))
        if (!f.sessionGroups.contains(g))
            missing << g;
    if (missing.isEmpty()) {
        c.finding = QStringLiteral("%1 is in group %2").arg(f.user, serialGroups(f).join(", "));
        return c;
    }
    c.status = CheckStatus::Failed;
    const QString& g = missing.first();
    c.finding = f.accountGroups.contains(g)
                    ? QStringLiteral("%1 was added to group %2, but this login does not have it "
                                     "yet")
                          .arg(f.user, g)
                    : QStringLiteral("%1 is not in group %2, which serial devices belong to")
                          .arg(f.user, g);
    c.remedy = groupAdvice(f, g);
    return c;
}

DoctorCheck portCheck(const DoctorFacts& f, const DoctorPort& p) {
    DoctorCheck c{QStringLiteral("port %1").arg(p.name), CheckStatus::Ok, {}, {}};
    if (!p.exists) {
        c.status = CheckStatus::Failed;
        c.finding = QStringLiteral("%1 does not exist").arg(p.path);
        c.remedy = QStringLiteral("Plug the adapter in again; 'sudo dmesg | tail' shows whether "
                                  "the kernel saw it, and whether brltty took it over.");
        return c;
    }
    const QString details = QStringLiteral("%1 %2 %3:%4").arg(p.path, p.mode, p.owner, p.group);
    if (p.canOpen) {
        c.finding = details + QStringLiteral(", readable and writable");
        return c;
    }
    c.status = CheckStatus::Failed;
    c.finding = details + QStringLiteral(", %1 may not open it").arg(f.user);
    // Joining the device's group helps unless the group is root's or the
    // group may not read and write it either.
    const bool groupMayUse = p.mode.mid(4, 2) == QLatin1String("rw");
    if (!p.group.isEmpty() && p.group != QLatin1String("root") && groupMayUse &&
        !f.sessionGroups.contains(p.group))
        c.remedy = groupAdvice(f, p.group);
    else
        c.remedy = QStringLiteral("Give the device to group %1 with mode 0660 by a udev rule "
                                  "(example: %2), then plug the adapter in again.")
                       .arg(QString::fromLatin1(kSerialGroup), kRulesExample);
    return c;
}

DoctorCheck noPortsCheck() {
    return {QStringLiteral("ports"), CheckStatus::Warning,
            QStringLiteral("no serial port is listed"),
            QStringLiteral("Plug the USB serial adapter in; 'sudo dmesg | tail' shows whether the "
                           "kernel saw it, and whether brltty took it over.")};
}

DoctorCheck modemManagerCheck(const DoctorFacts& f) {
    if (!f.modemManagerRunning)
        return {QStringLiteral("ModemManager"), CheckStatus::Ok, QStringLiteral("not running"), {}};
    return {QStringLiteral("ModemManager"), CheckStatus::Warning,
            QStringLiteral("running: it sends modem commands to USB serial adapters for some "
                           "seconds after they appear and holds the port meanwhile"),
            QStringLiteral("Make it leave the adapter alone with a udev rule setting "
                           "ENV{ID_MM_DEVICE_IGNORE}=\"1\" (example: %1), or, when this machine "
                           "uses no modem: sudo systemctl disable --now ModemManager.")
                .arg(kRulesExample)};
}

DoctorCheck brlttyCheck(const DoctorFacts& f) {
    const QString remedy = QStringLiteral(
        "When no braille display is used: sudo apt remove brltty. Otherwise: sudo systemctl "
        "mask brltty-udev.service, then plug the adapter in again.");
    if (f.brlttyRunning)
        return {QStringLiteral("brltty"), CheckStatus::Failed,
                QStringLiteral("running: it takes over some USB serial adapters (CH340, CP210x "
                               "and others) as braille displays, and their port disappears"),
                remedy};
    if (f.brlttyInstalled)
        return {QStringLiteral("brltty"), CheckStatus::Warning,
                QStringLiteral("installed: its udev rules start it when certain USB serial "
                               "adapters are plugged in, and their port disappears"),
                remedy};
    return {QStringLiteral("brltty"), CheckStatus::Ok, QStringLiteral("not installed"), {}};
}

DoctorCheck bossacCheck(const DoctorFacts& f) {
    const QString name = QString::fromLatin1(flash::kBossacProgram);
    if (f.bossacPath.isEmpty())
        return {name, CheckStatus::Failed,
                QStringLiteral("not installed: firmware updates need it"),
                QStringLiteral("sudo apt install %1").arg(QLatin1String(flash::kBossacPackage))};
    if (f.bossacVersion.isEmpty())
        return {name, CheckStatus::Warning,
                QStringLiteral("%1, but its version could not be read").arg(f.bossacPath),
                QStringLiteral("Check that '%1 --help' runs; reinstall %2 if it does not.")
                    .arg(f.bossacPath, QLatin1String(flash::kBossacPackage))};
    return {name,
            CheckStatus::Ok,
            QStringLiteral("version %1 at %2").arg(f.bossacVersion, f.bossacPath),
            {}};
}

// Groups by name for a list of ids; unnamed ids are left out.
QStringList groupNames(const QList<gid_t>& ids) {
    QStringList names;
    for (gid_t id : ids)
        if (const group* g = ::getgrgid(id)) {
            const QString name = QString::fromLocal8Bit(g->gr_name);
            if (!names.contains(name))
                names << name;
        }
    return names;
}

// Whether a process of this name runs (the kernel's short name in
// /proc/PID/comm).
bool processRunning(const QString& name) {
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!pid.front().isDigit())
            continue;
        QFile comm(proc.filePath(pid + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name.toLocal8Bit())
            return true;
    }
    return false;
}

} // namespace

QString statusWord(CheckStatus s) {
    switch (s) {
    case CheckStatus::Ok:
        return QStringLiteral("ok");
    case CheckStatus::Warning:
        return QStringLiteral("warning");
    case CheckStatus::Failed:
        return QStringLiteral("failed");
    }
    return {};
}

QString modeText(unsigned mode) {
    QString t;
    t += S_ISCHR(mode)   ? 'c'
         : S_ISBLK(mode) ? 'b'
         : S_ISDIR(mode) ? 'd'
         : S_ISLNK(mode) ? 'l'
                         : '-';
    const char* letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        t += (mode & (0400u >> i)) ? QLatin1Char(letters[i]) : QLatin1Char('-');
    return t;
}

std::optional<QString> bossacVersionFrom(const QString& helpText) {
    static const QRegularExpression version(QStringLiteral("\\bVersion\\s+(\\d+(?:\\.\\d+)+)"));
    const QRegularExpressionMatch m = version.match(helpText);
    if (!m.hasMatch())
        return std::nullopt;
    return m.captured(1);
}

QList<DoctorCheck> diagnose(const DoctorFacts& facts) {
    QList<DoctorCheck> checks{groupCheck(facts)};
    for (const DoctorPort& p : facts.ports)
        checks << portCheck(facts, p);
    if (facts.ports.isEmpty())
        checks << noPortsCheck();
    checks << modemManagerCheck(facts) << brlttyCheck(facts) << bossacCheck(facts);
    return checks;
}

DoctorFacts gatherDoctorFacts(const QStringList& portNames) {
    DoctorFacts f;
    const uid_t uid = ::geteuid();
    f.root = uid == 0;
    const passwd* pw = ::getpwuid(uid);
    f.user = pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);

    QList<gid_t> session{::getegid()};
    const int n = ::getgroups(0, nullptr);
    if (n > 0) {
        std::vector<gid_t> ids(static_cast<size_t>(n));
        const int got = ::getgroups(n, ids.data());
        for (int i = 0; i < got; ++i)
            session << ids[static_cast<size_t>(i)];
    }
    f.sessionGroups = groupNames(session);
    if (pw) {
        int count = 64;
        std::vector<gid_t> ids(static_cast<size_t>(count));
        if (::getgrouplist(pw->pw_name, pw->pw_gid, ids.data(), &count) < 0) {
            ids.resize(static_cast<size_t>(count));
            ::getgrouplist(pw->pw_name, pw->pw_gid, ids.data(), &count);
        }
        f.accountGroups = groupNames(QList<gid_t>(ids.begin(), ids.begin() + count));
    }

    for (const QString& name : portNames) {
        DoctorPort p;
        p.name = name;
        p.path = name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
        struct stat st {};
        const QByteArray path = QFile::encodeName(p.path);
        p.exists = ::stat(path.constData(), &st) == 0;
        if (p.exists) {
            p.canOpen = ::access(path.constData(), R_OK | W_OK) == 0;
            p.mode = modeText(st.st_mode);
            const passwd* owner = ::getpwuid(st.st_uid);
            p.owner = owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(st.st_uid);
            const group* g = ::getgrgid(st.st_gid);
            p.group = g ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
        }
        f.ports << p;
    }

    f.modemManagerRunning = processRunning(QStringLiteral("ModemManager"));
    f.brlttyRunning = processRunning(QStringLiteral("brltty"));
    const QStringList systemBins{QStringLiteral("/usr/bin"), QStringLiteral("/usr/sbin"),
                                 QStringLiteral("/bin"), QStringLiteral("/sbin")};
    f.brlttyInstalled =
        !QStandardPaths::findExecutable(QStringLiteral("brltty")).isEmpty() ||
        !QStandardPaths::findExecutable(QStringLiteral("brltty"), systemBins).isEmpty();

    f.bossacPath = QStandardPaths::findExecutable(QString::fromLatin1(flash::kBossacProgram));
    if (!f.bossacPath.isEmpty()) {
        // The tool has no version option; its help text names the version.
        QProcess tool;
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(f.bossacPath, {QStringLiteral("--help")});
        if (tool.waitForFinished(5000))
            f.bossacVersion =
                bossacVersionFrom(QString::fromLocal8Bit(tool.readAll())).value_or(QString());
        else
            tool.kill();
    }
    return f;
}

} // namespace gp::cli
