#pragma once
// What the main window's parts share: the link to the unit, the settings
// store, the language strings, the prompts, the operating mode and the view
// tabs. The main window owns all of it; views and windows take it by
// reference. The command-line front end builds the same for its runs.

#include "app/lang_dll.h"
#include "app/persist.h"
#include "app/view_tabs.h"
#include "link/link.h"
#include "platform/prompts.h"

#include <functional>

namespace gp {

class ProcessRunner;

struct OperatingMode {
    bool calibration = false;
    bool advanced = false;
};
// The modes the settings file switches on: section [default], CALIBRATION=
// or ADVANCED= followed by the access word of the unit's service
// documentation (letter case counts).
OperatingMode operatingModeFrom(Persist& persist);

struct AppContext {
    Link& link;
    Persist& persist;
    LangDll& lang;
    Prompts& prompts;
    ViewTabs& tabs;
    OperatingMode mode;
    // The unit's application id (high nibble of register 01's top byte);
    // -1 until first computed.
    int appid = -1;

    // A language text, or the given caption when the id is unknown.
    QString text(int id, const QString& fallback = QStringLiteral("?")) const {
        return lang.GetLangStringOr(id, fallback);
    }

    // The warning asked before a guided run (firmware update, profile
    // change) takes the unit out of service: default Yes.
    bool confirmGuidedRun() {
        return prompts.askYesNo(QString(),
                                text(7010, QStringLiteral("WARNING")) + QStringLiteral("\r\r") +
                                    text(7011, QStringLiteral("Do you wish to continue?")),
                                true, true);
    }
};

} // namespace gp
