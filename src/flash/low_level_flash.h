#pragma once
// The low-level flash: the unit programmed by hand with the flashing tool.
// Each step is one button of the "SAMBA" window: send the unit into its boot
// monitor, choose the image, build the tool's command line from the write
// options, and run that line (which the engineer may have edited).
//
// The line is run without a shell: it is split into program and arguments
// the way a shell splits quoted words, and nothing in it is expanded. The
// tool runs asynchronously; its lines go to the traffic log and its page
// counts to the progress bar, and its end is handled on the next tick().
// Every way out leaves the link usable: port open at "9600,n,8,1", boot
// probe off.

#include "flash/bossac.h"
#include "flash/tool_run.h"

#include <QString>
#include <functional>

namespace gp {

struct AppContext;
class ProcessRunner;

class LowLevelFlash {
  public:
    LowLevelFlash(AppContext& ctx, ProcessRunner& runner);
    ~LowLevelFlash();
    LowLevelFlash(const LowLevelFlash&) = delete;
    LowLevelFlash& operator=(const LowLevelFlash&) = delete;

    // "Put Device into SAMBA Mode": ":SAMBA#", then the word to power cycle
    // the unit. No reply is awaited.
    void putIntoSamba();
    // "browse": the file dialog; the chosen image (empty when cancelled).
    void browse();
    const QString& firmwarePath() const { return firmwarePath_; }

    // "Build Shell Command": the line from the chosen image (not from what
    // the window shows) and the options.
    QString buildShellCommand(const flash::WriteOptions& options) const;

    // "Execute Shell Command": runs the text. Without a chosen image it does
    // nothing. Answers whether the tool was started.
    bool execute(const QString& commandLine);
    // Handles the end of the tool's run: the message and the link back at
    // the unit's own settings.
    void tick();
    static constexpr int kTickMs = 200;

    bool toolRunning() const { return tool_.running(); }
    // The engineer gave up on the tool.
    void stopTool();
    // The window closes: stop the tool, put the link back.
    void abandon();

    // Each line the tool printed (also written to the traffic log).
    std::function<void(const QString&)> onToolLine;

  private:
    void restoreLink();
    void finishRun();

    AppContext& ctx_;
    QString firmwarePath_;

    flash::ToolRun tool_;
    QString program_;
    bool stopRequested_ = false;
};

} // namespace gp
