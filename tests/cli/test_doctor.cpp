// The doctor's judgement of a machine's facts, and one run of the command on
// this machine.

#include "cli/doctor.h"
#include "support/cli_run.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <sys/stat.h>

using namespace gp::cli;

namespace {

// An engineer's laptop where everything is in order.
DoctorFacts healthy() {
    DoctorFacts f;
    f.user = QStringLiteral("eng");
    f.sessionGroups = {QStringLiteral("eng"), QStringLiteral("dialout")};
    f.accountGroups = f.sessionGroups;
    f.ports = {{QStringLiteral("ttyUSB0"), QStringLiteral("/dev/ttyUSB0"), true, true,
                QStringLiteral("root"), QStringLiteral("dialout"), QStringLiteral("crw-rw----")}};
    f.bossacPath = QStringLiteral("/usr/bin/bossac");
    f.bossacVersion = QStringLiteral("1.9.1");
    return f;
}

const DoctorCheck* find(const QList<DoctorCheck>& checks, const QString& name) {
    for (const DoctorCheck& c : checks)
        if (c.name == name)
            return &c;
    return nullptr;
}

} // namespace

Q_DECLARE_METATYPE(CheckStatus)
Q_DECLARE_METATYPE(DoctorFacts)

class TestDoctor : public QObject {
    Q_OBJECT
  private slots:
    void healthyMachinePassesEveryCheck();
    void findings_data();
    void findings();
    void bossacVersionFromHelp_data();
    void bossacVersionFromHelp();
    void modeText();
    void commandChecksTheGivenPort();
};

void TestDoctor::healthyMachinePassesEveryCheck() {
    const QList<DoctorCheck> checks = diagnose(healthy());
    QStringList names;
    for (const DoctorCheck& c : checks) {
        names << c.name;
        QCOMPARE(c.status, CheckStatus::Ok);
        QVERIFY2(c.remedy.isEmpty(), qPrintable(c.name + ": " + c.remedy));
    }
    QCOMPARE(names,
             (QStringList{"serial group", "port ttyUSB0", "ModemManager", "brltty", "bossac"}));
}

void TestDoctor::findings_data() {
    QTest::addColumn<DoctorFacts>("facts");
    QTest::addColumn<QString>("check");
    QTest::addColumn<CheckStatus>("status");
    QTest::addColumn<QString>("remedyHas"); // a piece of the advice

    DoctorFacts f = healthy();
    f.sessionGroups = {QStringLiteral("eng")};
    f.accountGroups = f.sessionGroups;
    f.ports[0].canOpen = false;
    QTest::newRow("not in dialout: group")
        << f << "serial group" << CheckStatus::Failed << "sudo usermod -aG dialout eng";
    QTest::newRow("not in dialout: port")
        << f << "port ttyUSB0" << CheckStatus::Failed << "sudo usermod -aG dialout eng";

    f.accountGroups << QStringLiteral("dialout");
    QTest::newRow("added to dialout, same login: group")
        << f << "serial group" << CheckStatus::Failed << "log out and in again";
    QTest::newRow("added to dialout, same login: port")
        << f << "port ttyUSB0" << CheckStatus::Failed << "newgrp dialout";

    f = healthy();
    f.ports[0].group = QStringLiteral("uucp");
    f.ports[0].canOpen = false;
    QTest::newRow("device of another group: that group is asked for")
        << f << "serial group" << CheckStatus::Failed << "sudo usermod -aG uucp eng";

    f = healthy();
    f.ports[0].group = QStringLiteral("root");
    f.ports[0].mode = QStringLiteral("crw-------");
    f.ports[0].canOpen = false;
    QTest::newRow("device of root only: a udev rule")
        << f << "port ttyUSB0" << CheckStatus::Failed << "udev rule";
    QTest::newRow("device of root only: dialout still checked")
        << f << "serial group" << CheckStatus::Ok << "";

    f = healthy();
    f.ports[0].mode = QStringLiteral("crw-------");
    f.ports[0].canOpen = false;
    QTest::newRow("in the group, but the group may not write: a udev rule")
        << f << "port ttyUSB0" << CheckStatus::Failed << "mode 0660";

    f = healthy();
    f.ports[0].exists = false;
    f.ports[0].canOpen = false;
    QTest::newRow("port gone") << f << "port ttyUSB0" << CheckStatus::Failed << "dmesg";

    f = healthy();
    f.ports.clear();
    QTest::newRow("no port at all") << f << "ports" << CheckStatus::Warning << "Plug";

    f = healthy();
    f.root = true;
    f.sessionGroups = {QStringLiteral("root")};
    QTest::newRow("root needs no group") << f << "serial group" << CheckStatus::Ok << "";

    f = healthy();
    f.modemManagerRunning = true;
    QTest::newRow("ModemManager running")
        << f << "ModemManager" << CheckStatus::Warning << "ID_MM_DEVICE_IGNORE";

    f = healthy();
    f.brlttyInstalled = true;
    QTest::newRow("brltty installed")
        << f << "brltty" << CheckStatus::Warning << "sudo apt remove brltty";
    f.brlttyRunning = true;
    QTest::newRow("brltty running")
        << f << "brltty" << CheckStatus::Failed << "brltty-udev.service";

    f = healthy();
    f.bossacPath.clear();
    f.bossacVersion.clear();
    QTest::newRow("bossac missing")
        << f << "bossac" << CheckStatus::Failed << "sudo apt install bossa-cli";
    f.bossacPath = QStringLiteral("/opt/bossa/bossac");
    QTest::newRow("bossac without a version")
        << f << "bossac" << CheckStatus::Warning << "/opt/bossa/bossac --help";
}

void TestDoctor::findings() {
    QFETCH(DoctorFacts, facts);
    QFETCH(QString, check);
    QFETCH(CheckStatus, status);
    QFETCH(QString, remedyHas);
    const QList<DoctorCheck> checks = diagnose(facts);
    const DoctorCheck* c = find(checks, check);
    QVERIFY2(c, qPrintable("no check " + check));
    QCOMPARE(c->status, status);
    if (remedyHas.isEmpty())
        QVERIFY2(c->remedy.isEmpty(), qPrintable(c->remedy));
    else
        QVERIFY2(c->remedy.contains(remedyHas), qPrintable(c->remedy));
    // Whatever is not in order says what to do about it.
    for (const DoctorCheck& each : checks)
        QCOMPARE(each.remedy.isEmpty(), each.status == CheckStatus::Ok);
}

void TestDoctor::bossacVersionFromHelp_data() {
    QTest::addColumn<QString>("help");
    QTest::addColumn<QString>("version");
    QTest::newRow("Debian 12's bossac")
        << "Usage: bossac [OPTION...] [FILE]\nBasic Open Source SAM-BA Application (BOSSA) "
           "Version 1.9.1\nFlash programmer for Atmel SAM devices.\n"
        << "1.9.1";
    QTest::newRow("two-part version") << "BOSSA Version 1.7\n"
                                      << "1.7";
    QTest::newRow("no version line") << "bossac: unrecognized option\n"
                                     << "";
    QTest::newRow("word without a number") << "Version unknown\n"
                                           << "";
}

void TestDoctor::bossacVersionFromHelp() {
    QFETCH(QString, help);
    QFETCH(QString, version);
    QCOMPARE(bossacVersionFrom(help).value_or(QString()), version);
}

void TestDoctor::modeText() {
    QCOMPARE(gp::cli::modeText(S_IFCHR | 0660), QStringLiteral("crw-rw----"));
    QCOMPARE(gp::cli::modeText(S_IFREG | 0755), QStringLiteral("-rwxr-xr-x"));
}

void TestDoctor::commandChecksTheGivenPort() {
    const QString missing = QStringLiteral("/dev/glimmerpane-no-such-port");
    const gp::test::Run r = gp::test::cli({"--port", missing, "--json", "doctor"});
    QCOMPARE(r.status, 1); // the port is not there
    const QJsonObject doc = QJsonDocument::fromJson(r.out.toUtf8()).object();
    QCOMPARE(doc.value("status").toInt(), 1);
    QStringList names;
    for (const QJsonValue& v : doc.value("checks").toArray()) {
        const QJsonObject c = v.toObject();
        names << c.value("check").toString();
        if (c.value("check").toString() == "port " + missing) {
            QCOMPARE(c.value("status").toString(), QStringLiteral("failed"));
            QVERIFY(c.value("finding").toString().contains("does not exist"));
        }
    }
    QVERIFY2(names.contains("port " + missing), qPrintable(names.join(", ")));
    for (const char* name : {"serial group", "ModemManager", "brltty", "bossac"})
        QVERIFY2(names.contains(name), name);

    // The text form prints a fix under each failure.
    const gp::test::Run text = gp::test::cli({"--port", missing, "doctor"});
    QCOMPARE(text.status, 1);
    QVERIFY2(text.out.contains("failed  port " + missing), qPrintable(text.out));
    QVERIFY(text.out.contains("fix: Plug the adapter in again"));
}

QTEST_GUILESS_MAIN(TestDoctor)
#include "test_doctor.moc"
