// A site plan applied to eight simulated units at once, in real time: each a
// glimmerpane-sim on its own pseudo-terminal with its own serial number and
// unique id, each given its own address and device id, read back and
// recorded. Prints the time, per unit, and the wire limit: the bytes one unit
// sent and received at 9600 baud (10 bits a byte) plus the unit's 2 ms
// turnaround a frame, from its traffic log.
#include "support/sim_process.h"
#include "timed_cli.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kUnits = 8;

double cli(const QStringList& args) {
    return gp::bench::timedCli(args, 900000);
}

// The wire time of one unit's traffic log: frames out and replies in.
double wireSeconds(const QString& log) {
    QFile f(log);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    qint64 bytes = 0;
    int frames = 0;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("[Tx] ")) {
            bytes += line.size() - 5;
            ++frames;
        } else if (line.startsWith("[Rx] ")) {
            bytes += line.size() - 5;
        }
    }
    return bytes * 10.0 / 9600.0 + frames * 0.002;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("GP_BUILD_DIR"))
        qputenv("GP_BUILD_DIR", QFile::encodeName(QCoreApplication::applicationDirPath()));
    std::vector<std::unique_ptr<gp::test::SimProcess>> sims;
    QStringList ports;
    QTemporaryDir dir;
    QByteArray plan = "sn,name,bus,template,address,baud,parity,stop_bits,device_id\n";
    for (int i = 1; i <= kUnits; ++i) {
        sims.push_back(std::make_unique<gp::test::SimProcess>(QStringList{
            QStringLiteral("--features"), QStringLiteral("0x2C"), QStringLiteral("--serial"),
            QStringLiteral("Q-20%1").arg(i, 2, 10, QLatin1Char('0')), QStringLiteral("--uid"),
            QStringLiteral("51525531-0A1B2C3D-00420017-000000%1")
                .arg(i, 2, 10, QLatin1Char('0'))}));
        if (sims.back()->path().isEmpty()) {
            std::fprintf(stderr, "site: glimmerpane-sim did not start\n");
            return 1;
        }
        ports << sims.back()->path();
        plan += QStringLiteral("Q-20%1,Room %1,A,tmpl.cfg,%2,19200,even,1,%3\n")
                    .arg(i, 2, 10, QLatin1Char('0'))
                    .arg(10 + i)
                    .arg(200000 + i)
                    .toLatin1();
    }
    if (cli({QStringLiteral("--fast"), QStringLiteral("--port"), ports.first(),
             QStringLiteral("config"), QStringLiteral("save"), dir.filePath("tmpl.cfg")}) < 0)
        return 1;
    QFile f(dir.filePath("plan.csv"));
    f.open(QIODevice::WriteOnly);
    f.write(plan);
    f.close();
    const double s =
        cli({QStringLiteral("--fast"), QStringLiteral("--ports"), ports.join(QLatin1Char(',')),
             QStringLiteral("--log"), dir.filePath("{port}.log"), QStringLiteral("site"),
             QStringLiteral("apply"), f.fileName()});
    if (s <= 0)
        return 1;
    double wire = 0;
    for (const QString& log : QDir(dir.path()).entryList({QStringLiteral("*.log")}))
        wire = std::max(wire, wireSeconds(dir.filePath(log)));
    std::printf("site: units=%d s=%.2f per_unit_s=%.2f wire_s=%.2f ratio=%.2f (real time, "
                "9600 baud, --fast)\n",
                kUnits, s, s / kUnits, wire, wire > 0 ? s / wire : 0.0);
    return 0;
}
