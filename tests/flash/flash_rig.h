#pragma once
// A unit in-process in virtual time, the program's link to it, and a fake
// flashing tool, for the state machines of the flash and profile windows.

#include "app/app_context.h"
#include "platform/process_runner.h"
#include "sim/sim_port.h"
#include "sim/sim_unit.h"
#include "sim/virtual_wire.h"
#include "support/scripted_prompts.h"

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <memory>

namespace gp::test {

// Stands in for bossac: finishes a few steps after it was started with the
// exit code asked for, after printing a progress line and doing `effect`.
// Asked for its help, it prints its version line and exits with 1, as
// bossac does.
class FakeProcessRunner : public ProcessRunner {
  public:
    void start(const QString& program, const QStringList& arguments) override {
        const bool help = arguments == QStringList{QStringLiteral("--help")};
        if (help) {
            ++helpRuns;
        } else {
            this->program = program;
            this->arguments = arguments;
        }
        if (failToStart) {
            if (onFailedToStart)
                onFailedToStart(QStringLiteral("execvp: No such file or directory"));
            return;
        }
        running_ = true;
        stepsLeft = 3;
        helping_ = help;
        if (help)
            return;
        ++starts;
        if (onStart)
            onStart();
    }
    bool running() const override { return running_; }
    void kill() override {
        if (!running_)
            return;
        running_ = false;
        if (onFinished)
            onFinished(-1);
    }
    // One step of the rig's loop.
    void step() {
        if (running_ && helping_ && --stepsLeft <= 0) {
            running_ = false;
            helping_ = false;
            if (onLine)
                onLine(
                    QStringLiteral("Basic Open Source SAM-BA Application (BOSSA) Version 1.9.1"));
            if (onFinished)
                onFinished(1);
            return;
        }
        if (!running_ || helping_ || hang || --stepsLeft > 0)
            return;
        if (onLine)
            onLine(QStringLiteral("[===============               ] 50% (12/24 pages)"));
        if (effect)
            effect();
        running_ = false;
        if (onFinished)
            onFinished(exitCode);
    }

    int exitCode = 0;
    bool failToStart = false;
    bool hang = false;
    std::function<void()> effect;
    std::function<void()> onStart; // what the tool does to the unit at once (erase)
    QString program;
    QStringList arguments;
    int starts = 0;   // flashing runs
    int helpRuns = 0; // looks at the tool's version

  private:
    bool running_ = false;
    bool helping_ = false;
    int stepsLeft = 0;
};

struct FlashRig {
    explicit FlashRig(sim::SimProfile profile = {})
        : unit(std::make_shared<sim::SimUnit>(profile)), persist(dir.filePath("rig.ini")),
          tabs(link), ctx{link, persist, lang, prompts, tabs, OperatingMode{}, -1} {
        auto p = std::make_unique<sim::SimPort>(unit);
        port = p.get();
        link.serial.setPort(std::move(p));
        link.serial.choosePort(QStringLiteral("/dev/ttySIM0"));
        wire = std::make_unique<sim::VirtualWire>(*port, link);
    }

    // The fast link: the next frame of a batch leaves once the reply is in
    // and the unit's turnaround has passed, not at the next tick.
    void setFast() { link.setFast(true); }

    // One poll period of virtual time (see VirtualWire).
    void period() { wire->period(); }

    // Advances 20 ms of virtual time: the line, the poll cycle, the fake
    // tool, and the machine when its interval has passed.
    template <typename Machine>
    bool run(Machine& machine, const std::function<bool()>& done, double maxMs = 600000) {
        double t = 0;
        double nextTick = 0;
        while (!done() && t < maxMs) {
            period();
            link.tick();
            runner.step();
            t += 20;
            if (t >= nextTick) {
                machine.tick();
                nextTick = t + machine.intervalMs();
            }
        }
        return done();
    }

    QString writeFile(const QString& name, const QByteArray& content) {
        const QString path = dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(content);
        return path;
    }

    QTemporaryDir dir;
    std::shared_ptr<sim::SimUnit> unit;
    sim::SimPort* port = nullptr;
    Link link;
    Persist persist;
    LangDll lang;
    ScriptedPrompts prompts;
    ViewTabs tabs;
    AppContext ctx;
    FakeProcessRunner runner;
    std::unique_ptr<sim::VirtualWire> wire;
};

} // namespace gp::test
