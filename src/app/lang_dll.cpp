#include "app/lang_dll.h"

#include "platform/atomic_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace gp {

namespace {

// Translators' tables have always been read into a 256-character buffer.
constexpr qsizetype kMaxTextLength = 255;

struct BuiltInText {
    int id;
    const char* text;
};

// Ascending by id. 116 has never been defined.
constexpr BuiltInText kBuiltIn[] = {
    {101, "Quorvel Touchscreen Configuration Tool"},
    {102, "File"},
    {103, "Open"},
    {104, "Save"},
    {105, "Help"},
    {106, "About"},
    {107, "Defaults"},
    {108, "Reset"},
    {109, "Connect"},
    {110, "Write"},
    {111, "Com Port:"},
    {112, "CO2"},
    {113, "Comms"},
    {114, "Calibration"},
    {115, "Diagnostics"},
    {117, "Device"},
    {118, "Tools"},
    {119, "Firmware Update"},
    {2500, "Product Type:"},
    {2501, "UniqueID:"},
    {2502, "Firmware Version:"},
    {2503, "S/N:"},
    {2504, "Date Code:"},
    {5018, "Comms"},
    {5019, "1 Stop bit"},
    {5020, "2 Stop bits"},
    {5021, "None"},
    {5022, "Even"},
    {5023, "Odd"},
    {5024, "Address"},
    {5025, "Attention: These Address and Baudrate settings only apply when all DIP-Swiches are set "
           "to \"OFF\"."},
    {5026, "Service Pin"},
    {5027, "DeviceID"},
    {5028, "0 = Auto"},
    {7000, "Firmware Update"},
    {7001, "Start"},
    {7002, "Next"},
    {7003, "Reading Current Settings...."},
    {7004, "Flashing Device...."},
    {7005, "Writing Settings...."},
    {7006, "Forcing Device Reset"},
    {7007, "Update Complete"},
    {7008, "Press \"start\" to begin."},
    {7009, "Exit"},
    {7010, "WARNING: Failure to follow the instructions precisely may permently lock your device "
           "and require a factory re-program."},
    {7011, "Do you wish to continue?"},
    {7012, "Select firmware file to download."},
    {7020, "Profile Change"},
    {7021, "Select Profile file."},
    {10000, "Firmware Update Failed"},
    {10001, "Power cycle the device."},
    {10002, "Are you absolutely sure?"},
    {10003, kMakerCompanyLine},
    {10004, "Profile Changed Failed"},
    {10005, "Wrong Product Type."},
};

// The captions the tool shows beyond the product line's own table, with ids
// of their own above it (below 20000, where the exported table ends), so a
// catalogue can translate every window. Ascending by id; the English text is
// what the window shows, mnemonic marks left out.
constexpr BuiltInText kCaptions[] = {
    {12000, "Advanced"},
    {12001, "Commissioning Report..."},
    {12002, "Keyboard Shortcuts"},
    {12003, "Low Level Flash..."},
    {12004, "Quit"},
    {12005, "Restore from backup..."},
    {12006, "Verify after load"},
    {12007, "Open Site Plan..."},
    {12008, "Firmware Update..."},
    {12009, "Profile Change..."},
    {12010, "Baud rate:"},
    {12011, "Parity:"},
    {12012, "Stop bits:"},
    {12013, "Log to file"},
    {12014, "Yes"},
    {12015, "No"},
    {12016, "OK"},
    {12017, "Cancel"},
    {12018, "Close"},
    {12100, "Save log as"},
    {12101, "Copy"},
    {12102, "Clear"},
    {12103, "Timestamps"},
    {12104, "No timestamps"},
    {12105, "Timestamps: ms since port opened"},
    {12106, "Timestamps: wall clock"},
    {12107, "Window"},
    {12108, "Pause"},
    {12109, "Export CSV..."},
    {12110, "1 min"},
    {12111, "10 min"},
    {12112, "60 min"},
    {12113, "Trend"},
    {12200, "Ambient Concentration"},
    {12201, "AutoCalibration Concentration"},
    {12202, "AutoCalibration Interval"},
    {12203, "AutoCalibration Method"},
    {12204, "AutoCalibration Proportion"},
    {12205, "AutoCalibration Threshold"},
    {12206, "CO2 Level"},
    {12207, "CO2 Sensor Settings"},
    {12208, "CO2 Trend"},
    {12209, "Calibrate to ambient level now"},
    {12210, "Command Mode"},
    {12211, "Days"},
    {12212, "Disabled"},
    {12213, "Fast"},
    {12214, "Filter"},
    {12215, "Initial AutoCalibration Interval"},
    {12216, "Medium"},
    {12217, "Slow"},
    {12218, "Read All"},
    {12219, "Set"},
    {12220, "Stream Mode"},
    {12221, "stored:"},
    {12222, "Standard"},
    {12223, "Proportional"},
    {12224, "ppm"},
    {12225, "Set "},
    {12226, "Threshold"},
    {12300, "0-10V Ouputs"},
    {12301, "A0 Calib"},
    {12302, "A1 Calib"},
    {12303, "A2 Calib"},
    {12304, "A3 Calib"},
    {12305, "Calibrate AOs"},
    {12306, "Display"},
    {12307, "Floor"},
    {12308, "Humidity"},
    {12309, "Lock"},
    {12310, "Lux"},
    {12311, "NTC Compensation"},
    {12312, "Network"},
    {12313, "Outside"},
    {12314, "Pressure"},
    {12315, "Res1/Lux"},
    {12316, "Res2/Pot"},
    {12317, "Screen Refresh Rate"},
    {12318, "Security"},
    {12319, "Sensor Characteristics"},
    {12320, "Spread"},
    {12321, "Temperature"},
    {12322, "Trim"},
    {12400, "Last Reset Cause:"},
    {12401, "Processor ChipID"},
    {12402, "Count"},
    {12403, "Max"},
    {12404, "Min"},
    {12405, "Poll"},
    {12406, "Sensors"},
    {12407, "Read"},
    {12408, "Calib."},
    {12409, "Export String Table"},
    {12410, "No Logo Write"},
    {12411, "Fast link"},
    {12412, "Product Config"},
    {12413, "Product"},
    {12414, "Vendor"},
    {12415, "Init Screen"},
    {12416, "Screen off"},
    {12417, "Buzz on"},
    {12418, "Buzz Freq"},
    {12419, "Show XY"},
    {12420, "NTC Temp Sensor"},
    {12421, "Read Logo"},
    {12422, "load logo"},
    {12423, "Humdity"},
    {12424, "Buzzer"},
    {12425, "DEBUG Data"},
    {12426, "DEBUG Flags"},
    {12500, "Boot from Flash"},
    {12501, "Brownout Detect"},
    {12502, "Brownout Reset"},
    {12503, "Build Shell Command"},
    {12504, "Erase All"},
    {12505, "Execute Shell Command"},
    {12506, "Put Device into SAMBA Mode"},
    {12507, "Stop flashing tool"},
    {12508, "Write Options"},
    {12509, "Verify"},
    {12510, "browse"},
    {12511, "Save Configuration"},
    {12512, "Commissioning Report"},
};

// The sentences and patterns the tool composes its messages from, one line
// and at most 255 characters each (what a catalogue line holds): a message
// of several sentences is translated sentence by sentence. %1, %2... stand
// for what is put in (a file, a register list, another message); a
// translation may put them in another order. Ascending by id.
constexpr BuiltInText kComposed[] = {
    {13000, "Language catalogue %1 is not UTF-8; read as Latin-1."},
    {13001, "cannot read %1: %2"},
    {13002, "not a section header: %1"},
    {13003, "a key, value or section holds a line break or another control character"},
    {13004, "%1 min"},
    {13005, "minutes before the newest sample"},
    {13006, "The unit will calibrate its analogue outputs now: they move through their range, so "
            "whatever is wired to them sees it, and the present output trims are replaced."},
    {13007, "Calibrate now?"},
    {13008, "Before the calibration: press Read once the unit is done to see the new values."},
    {13009, "The sensor refused the last write (it answered \"?\") and keeps its old setting."},
    {13010, "Nothing is plotted yet: the sensor has not streamed a level."},
    {13011, "As the sensor stores it: in 1/1728 day"},
    {13012, "Calibrate to ambient level"},
    {13013, "The CO2 sensor will take the air around it now as its fresh-air reference."},
    {13014, "Unless the unit is in fresh outdoor air, every later reading will be off, and the old "
            "calibration cannot be restored."},
    {13015, "Autocalibration threshold"},
    {13016, "Address:"},
    {13017, "Writes the address, line settings and device id shown here"},
    {13018, "\"%1\" is not an address: enter a number from 0 to %2."},
    {13019, "Nothing was written."},
    {13020, "The unit confirmed %1 of %2 register writes."},
    {13021, "%1 write(s) were sent again after their reply was lost."},
    {13022, "Not confirmed: %1."},
    {13023, "The write was interrupted by another command."},
    {13024, "The unit did not confirm storing the settings (:SU#)."},
    {13025, "Read back: every register written holds its value."},
    {13026, "Read back differs from the file for: %1."},
    {13027, "Not read back (no reply): %1."},
    {13028, "Sending %1 write(s) again after a lost reply: %2"},
    {13029, "the unit"},
    {13030, "%1 holds settings for %2."},
    {13031, "Write %1 registers to the unit now?"},
    {13032, "Its present settings are overwritten and cannot be restored unless they were saved."},
    {13033, "Load of %1 cancelled: nothing written."},
    {13034, "Configuration saved to %1"},
    {13035, "The unit did not answer the read of its settings; nothing was written."},
    {13036, "The profile file holds no profile value: its [profile_0] section needs cfg= and eight "
            "hex digits."},
    {13037, "The unit did not answer for %1 s after its reset."},
    {13038, "Power-cycle it, then check its profile with a new read."},
    {13039, "After the change register 01 holds %1, not the profile's %2."},
    {13040, "The unit did not answer the read of register 01 after the change."},
    {13041, "Reading Data."},
    {13042, "The save was cancelled."},
    {13043, "Reading again: %1"},
    {13044, "Registers not read: %1"},
    {13045, "Not saved: the port went away; registers not read: %1."},
    {13046, "Not saved: the unit did not answer for register(s) %1 in %2 reads of all registers."},
    {13047, "The unit did not answer for %1."},
    {13048, "A file saved now would hold old values for them."},
    {13049, "Read all registers again?"},
    {13050, "Not saved: the unit did not answer for register(s) %1."},
    {13051,
     "Every register was read; only identity item 05 got no answer, which the file does not hold."},
    {13052, "Reading the status."},
    {13053, "Not saved: the unit did not answer the status read (:S#)."},
    {13054, "Select Save file and location."},
    {13055, "The registers read are kept: choose another file, or cancel to drop them."},
    {13056, "Not saved:"},
    {13057, "Return from Backup mode"},
    {13058, "Watchdog fault"},
    {13059, "User Reset (NRST taken low)"},
    {13060, "raw input (counts)"},
    {13061, "Not current: the unit did not answer the poll since %1."},
    {13062,
     "The polls go on by themselves once it answers again; check cable, power and port meanwhile."},
    {13063, "Nothing is plotted yet: tick \"Poll\" first."},
    {13064, "The unit confirmed %1 of %2 logo words."},
    {13065, "The unit did not confirm storing the settings (:SP#)."},
    {13066, "%1 register write(s) were sent again after a lost reply."},
    {13067, "Reading the unit...."},
    {13068, "The unit does not answer."},
    {13069, "If it is in its boot loader, power cycle it and flash its firmware first."},
    {13070, "This backup belongs to the unit %1; the connected unit is %2."},
    {13071, "Writing Logo...."},
    {13072, "Storing Settings...."},
    {13073, "a unit it does not name"},
    {13074, "the unit on %1 (not read yet)"},
    {13075, "the unit %1 on %2"},
    {13076, "Write the backup %1 of %2, saved %3, into %4?"},
    {13077, "Its 255 settings%1 replace what the unit holds now."},
    {13078, "A backup of another unit is refused before anything is written."},
    {13079, "and its logo"},
    {13080, "The program \"%1\" could not be started (%2)."},
    {13081, "The flashing tool \"%1\" could not be started (%2)."},
    {13082, "Install the package \"%1\" (apt install %1) so that \"%2\" is on the search path, "
            "then try again."},
    {13083, "The unit may still be in its boot loader: power cycle it before the next try."},
    {13084, "Lock protects the written flash against erasing and writing."},
    {13085,
     "Every later firmware update (the guided update too) then fails, because the flashing tool "
     "erases before it unlocks, until the region is unlocked by a run that only unlocks:"},
    {13086, "build the command line with Lock clear and delete every option but \"-u\", "
            "\"--usb-port=0\" and the port before executing it."},
    {13087, "Cannot create the backup folder %1."},
    {13088, "Cannot create the backup %1: %2"},
    {13089, "The backup %1 does not read back as written."},
    {13090, "Cannot read %1: %2"},
    {13091, "%1 is not a configuration file."},
    {13092, "%1 lacks %2 of the 256 registers; it is not a backup of a whole unit."},
    {13093, "A firmware update writes whole backups itself; one of a unit that answers is saved "
            "with: glimmerpane-cli config save FILE --all-nonvol"},
    {13094, "%1 does not hold all 128 logo words."},
    {13095, "The unit's settings and logo were saved before the update: %1%2."},
    {13096, "The way back:"},
    {13097, "power cycle the unit, then either start the update again (it offers this backup) or "
            "run glimmerpane-cli firmware FILE --backup \"%1\";"},
    {13098, "or flash it in the low-level flash window and then write the backup back (File menu, "
            "\"Restore from backup\", or glimmerpane-cli restore \"%1\"%2)."},
    {13099, "The firmware image %1 cannot be read%2."},
    {13100, "The firmware image %1 is empty."},
    {13101, "The firmware image %1 holds %2 bytes, more than the %3 bytes of this unit's flash."},
    {13102, "Nothing was sent to the unit; it runs its firmware as before."},
    {13103, "It may still be in its boot loader after an update that did not end."},
    {13104, "The backup of this unit (%1) is %2."},
    {13105, "Flash the firmware again and then write this backup's settings and logo back?"},
    {13106, "unique id not read"},
    {13107, "The unit did not answer for: %1."},
    {13108, "No firmware file was chosen."},
    {13109, "Choose a file?"},
    {13110, "Flashing tool:"},
    {13111, "Flashing again; the settings come from %1"},
    {13112, "The settings could not be saved:"},
    {13113, "Settings and logo saved to %1 and %2"},
    {13114, "Device not detected, continue to wait?"},
    {13115, "The boot loader did not answer."},
    {13116, "The flashing tool was stopped."},
    {13117, "The flashing tool ended with exit code %1."},
    {13118, "Device not detected - continue to wait?"},
    {13119, "Try to re-flash device??"},
    {13120, "The new firmware did not answer."},
    {13121, "Sending %1 write(s) again after a lost reply."},
    {13122, "logo word"},
    {13123, "Register 01 read back differs from the saved value."},
    {13124, "The unit did not answer the read-back of register 01."},
    {13125, "and %1 more"},
    {13126, ", but these writes were not confirmed by the unit (write them again):"},
    {13127, "Done: the unit runs firmware %1 from %2."},
    {13128, "Done: the unit runs the firmware from %1."},
    {13129, "Its settings from before are kept in %1."},
    {13130, "Step %1 of %2: %3"},
    {13131, "State %1"},
    {13132, "A firmware update is running."},
    {13133, "The unit may be in its boot loader and need a power cycle afterwards."},
    {13134, "Stop the update and close?"},
    {13135, "Restore from backup"},
    {13136, "firmware load failed"},
    {13137, "The command line is empty; nothing was run."},
    {13138, "The command line has a quote that is not closed; nothing was run."},
    {13139, "The port could not be closed for the flashing tool; nothing was run."},
    {13140, "The flashing tool is running."},
    {13141, "The unit may be left in its boot loader and need a power cycle afterwards."},
    {13142, "Stop the tool and close?"},
    {13143, "Version %1.%2.%3"},
    {13144, "All rights reserved."},
    {13145, "Firmware is programmed with bossac, the Basic Open Source SAM-BA Application (BOSSA), "
            "Copyright (c) 2011-2018 ShumaTech."},
    {13146, "F5\tRead the unit again"},
    {13147, "Ctrl+1 .. Ctrl+5\tThe views shown, left to right (Ctrl+5 when the CO2 view is shown)"},
    {13148, "Ctrl+O\tLoad a configuration file"},
    {13149, "Ctrl+S\tSave the configuration to a file"},
    {13150, "Alt+letter, F10\tThe menus"},
    {13151, "port or path"},
    {13152, "Choose a port, or type its name or path and press Return"},
    {13153,
     "Writes every setting read from the unit, with the comms settings shown, and stores them"},
    {13154, "Factory settings"},
    {13155, "Put the unit on %1 back to its factory settings?"},
    {13156, "Every setting made on it is replaced by its factory value, and cannot be brought back "
            "unless it was saved to a file first."},
    {13157, "Reset sent: the unit restarts and answers again in a few seconds"},
    {13158, "Identity read:"},
    {13159, "Written: the unit confirmed every write"},
    {13160, "Written, but the unit did not confirm: %1"},
    {13161, "(%1 sent again after a lost reply)"},
    {13162, "No unit answered on %1: check cable, power and port"},
    {13163, "Not current: the unit stopped answering"},
    {13164, "frames: %1 sent (%2 answered, %3 lost), %4 stale replies"},
    {13165, ", %1 not sent (port closed)"},
    {13166, "Frames sent: %1 (answered, lost or awaited now)"},
    {13167, "Replies answered: %1"},
    {13168, "Replies lost (no answer in time): %1"},
    {13169, "Stale replies (answering no frame in flight: late, doubled or noise): %1"},
    {13170, "Frames not sent (the port was closed): %1"},
    {13171, "Characters discarded (noise, damaged replies): %1"},
    {13172, "Report written to %1, but it is incomplete: the unit did not answer for %2."},
    {13173, "Report written to %1"},
    {13174, "Firmware: %1 (flashed when the unit runs another; its settings are backed up first)"},
    {13175, "Profile: %1 (changed when the unit has another)"},
    {13176, "Site Plan: %1"},
    {13177, "The plan has %1 problem(s); nothing was sent:"},
    {13178, "Device id"},
    {13179, "Record: %1"},
    {13180, "Apply to connected unit"},
    {13181, "No unit identified yet: press Connect."},
    {13182, "Connected: sn %1, uid %2, on %3: line %4, %5."},
    {13183, "Connected: sn %1, uid %2, on %3: not in this plan."},
    {13184, "Apply line %1 to the unit on %2?"},
    {13185, "Name: %1"},
    {13186, "Address: %1"},
    {13187, "Device id: %1"},
    {13188, "Template: %1%2"},
    {13189, "The unit is read and recorded as found, written, read back and recorded as left."},
    {13190, "the template's"},
    {13191, "%1: failed: %2"},
    {13192, "As found, the unit had %1."},
    {13193, "%1  %2  firmware %3: %4 (%5 register(s) changed)"},
    {13194, "No visit recorded yet."},
    {13195, "History of %1"},
    {13196, "An apply is running."},
    {13197, "Stop it and close?"},
    {13198, "The visit stays recorded as interrupted."},
    {13199, "Save log as..."},
    {13200, "Select all"},
    {13201, "Log saved to %1 (%2 lines)"},
    {13202, "FASTLINK=%1 is neither on (1) nor off (0); the link stays paced by the tick."},
    {13203, "FASTLINKGAP=%1 is not a gap of 0 to 100 ms; %2 ms is used."},
    {13204, "Port %1 is back and open again."},
    {13205, "Port %1 is open."},
    {13206, "Port %1 open"},
    {13207, "Cannot create log file %1: %2"},
    {13208, "%1 (%2 register%3)"},
    {13209, "Another write was asked for before registers %1 were read; nothing was written."},
    {13210, "Registers %1 could not be read; nothing was written."},
    {13211, "The write does not fit the queue; nothing was written."},
    {13212, "The unit did not confirm: %1"},
    {13213, "Another command took the link before registers %1 were read; nothing was written."},
    {13214, "Reading registers %1 again: the reply was lost."},
    {13215, "The unit did not answer the read of registers %1; nothing was written."},
    {13216, "Cannot write %1: %2"},
    {13217, "Cannot write %1: the folder %2 does not exist"},
    {13218, "Cannot write %1: only %2 of %3 bytes reached the disk"},
    {13219, "no port chosen"},
    {13220, "the port does not exist"},
    {13221, "the port is in use by another program"},
    {13222, "the port is in use by another program: %1"},
    {13223, "permission denied (your user must be allowed to open serial devices, usually by "
            "membership of the 'dialout' group; log in again after adding it)"},
    {13224, "the port went away (adapter unplugged?)"},
    {13225, "unknown error"},
    {13226, "Port %1: %2"},
    {13227, "changed since its as-left of %1: %2"},
    {13228, "%1 is not %2"},
    {13229, "the %1 %2 does not exist"},
    {13230, "the %1 %2 cannot be read"},
    {13231, "the row has %1 field(s), the header %2"},
    {13232, "no sn, uid or port finds the unit"},
    {13233, "no template is given"},
    {13234, "firmware image"},
    {13235, "a bus address (0..247)"},
    {13236, "a baud rate (9600, 19200, 38400, 57600)"},
    {13237, "%1 is not a baud rate (9600, 19200, 38400, 57600)"},
    {13238, "a number of stop bits (1, 2)"},
    {13239, "a device id (0 = automatic, 1..4194303)"},
    {13240, "%1 is given on line %2 too"},
    {13241, "address %1 on bus \"%2\""},
    {13242, "device id %1"},
    {13243, "line %1: %2"},
    {13244, "line %1, column %2 (%3): %4"},
    {13245, "%1 cannot be read: %2"},
    {13246, "%1 is not UTF-8 text"},
    {13247, "the plan is empty: no header row"},
    {13248, "unknown column; a plan has: %1"},
    {13249, "the column is given twice"},
    {13250, "the plan has no unit rows"},
    {13251,
     "Give the database user and password through PGUSER and PGPASSWORD or ~/.pgpass, not in %1."},
    {13252, "Qt's PostgreSQL driver is not installed (Debian package libqt6sql6-psql)."},
    {13253, "The site record %1 cannot be opened"},
    {13254, "Qt's SQLite driver is not installed (Debian package libqt6sql6-sqlite)."},
    {13255, "The site record %1 cannot be used"},
    {13256, "The site record %1 is busy"},
    {13257, "The site record %1 was written by a newer version of Glimmerpane (schema %2; this "
            "version knows %3)."},
    {13258, "Nothing was changed; use the newer version."},
    {13259, "The site record %1 cannot be brought to schema %2"},
    {13260, "The site record is not open."},
    {13261, "The visit of %1 was not recorded in %2"},
    {13262, "The site record %1 cannot be read"},
    {13263, "Reading the unit again"},
    {13264, "Reading the unit as found"},
    {13265, "Updating the firmware:"},
    {13266, "Changing the profile:"},
    {13267, "Writing the plan's settings and reading them back"},
    {13268, "The unit on %1 (sn %2, uid %3) has no row in the plan."},
    {13269, "firmware update"},
    {13270, "profile change"},
    {13271, "the unit did not answer for %1 after its %2; the template was not written"},
    {13272, "The unit has %1."},
    {13273, "the unit did not answer for %1; nothing was written"},
    {13274, "the image %1 cannot be read: %2"},
    {13275, "the image holds firmware %1, the unit runs %2"},
    {13276, "the image names no version and the record does not show the unit left running it"},
    {13277,
     "the profile %1 holds no profile value (cfg, eight hex digits); the template was not written"},
    {13278, "%1, and no flashing tool can be started here; the template was not written"},
    {13279, "Updating the firmware: %1."},
    {13280, "Changing the profile to %1."},
    {13281, "the %1 failed: %2; the template was not written"},
    {13282, "line %1 gives device id %2, but the unit is no BACnet unit of our vendor id and has "
            "none to set."},
    {13283, "No register has been read from this unit yet; nothing was written."},
    {13284, "%1 register(s) read from this unit would be written."},
    {13285, "Never read, and so left out: %1."},
    {13286, "Read them from the unit first, then write them all?"},
    {13287, "(No writes only the registers read.)"},
    {13288, "The file gives %1 register(s)."},
    {13289, "Lines skipped (not a register line): %1."},
    {13290, "Lines giving a register a second time (the last one counts): %1."},
    {13291, "Line %1 (\"%2\"): the value is not eight hex digits."},
    {13292, "Nothing was loaded."},
    {13293, "Line %1 (\"%2\"): the register number is not a decimal 0..255."},
    {13294, "The file has no lines for registers 0 and 1, so its product type cannot be checked."},
    {13295, "Registers %1 of the unit were not read, so the product type cannot be checked."},
    {13296, "Cannot read %1: %2."},
    {13297, "Line %1 (\"%2\") is not a logo frame like :L00FFFFFFFF#."},
    {13298, "Nothing was sent."},
    {13299, "pending"},
    {13300, "applying"},
    {13301, "temperature (\u00b0C)"},
    {13302, "humidity (%RH)"},
    {13303, "resistance (\u03a9)"},
    {13304, "A2D (V)"},
    {13305, "CO2 (ppm)"},
    {13306, "Power-up"},
    {13307, "Software Reset"},
};

QString cutToBuffer(QString text) {
    if (text.size() > kMaxTextLength) {
        // Never leave half of a surrogate pair at the end.
        const qsizetype n =
            text.at(kMaxTextLength - 1).isHighSurrogate() ? kMaxTextLength - 1 : kMaxTextLength;
        text.truncate(n);
    }
    return text;
}

// Catalogues are UTF-8; older translation files were saved in Latin-1, where
// every byte is a character. A file that is not valid UTF-8 is one of those.
QString decodeCatalogue(const QByteArray& bytes, bool* latin1) {
    // Decoding replaces what is not UTF-8, so only valid UTF-8 comes back
    // to the same bytes (the byte order mark aside, which decoding drops).
    static const QByteArray kBom("\xEF\xBB\xBF");
    const QByteArray body = bytes.startsWith(kBom) ? bytes.mid(kBom.size()) : bytes;
    QString text = QString::fromUtf8(body);
    *latin1 = text.toUtf8() != body;
    if (*latin1)
        text = QString::fromLatin1(bytes);
    return text;
}

QHash<int, QString> parseCatalogue(QString text) {
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    QHash<int, QString> table;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab < 0)
            continue;
        bool ok = false;
        const int id = line.left(tab).trimmed().toInt(&ok, 10);
        const QString entry = line.mid(tab + 1);
        if (!ok || entry.isEmpty() || table.contains(id))
            continue;
        table.insert(id, cutToBuffer(entry));
    }
    return table;
}

// A built-in pattern as it is looked for in a line: the placeholders become
// captures, in the order they first appear.
struct ComposedPattern {
    int id;
    QRegularExpression atOffset;  // matches where it is asked to, to any end
    QRegularExpression wholeLine; // matches from where it is asked to the line's end
    QList<int> numbers;           // the placeholder number of each capture
    QString probe;                // its longest fixed piece: a line without it cannot match
    qsizetype literal;            // how much of it is fixed text
    bool inLine;                  // may be found after a line's start
};

struct ComposedTables {
    std::vector<ComposedPattern> patterns;      // most fixed text first
    std::vector<QPair<int, QString>> sentences; // fixed pieces found in a line
};

// A composed piece may be found inside a line when it starts a sentence or
// an appended part (", ...", "(...)"); short patterns that start with what
// is put in ("%1 is not %2") only as a whole line, where nothing else fits.
bool foundInLine(int id, const QString& text, qsizetype literal) {
    if (id < LangDll::kFirstComposedId || text.isEmpty())
        return false;
    const QChar first = text.front();
    if (first == QLatin1Char('%'))
        return literal >= 12;
    return first.isUpper() || first == QLatin1Char(',') || first == QLatin1Char('(') ||
           first == QLatin1Char('"');
}

const ComposedTables& composedTables() {
    static const ComposedTables tables = [] {
        ComposedTables t;
        static const QRegularExpression placeholder(QStringLiteral("%([1-9])"));
        for (const auto& [id, text] : LangDll::builtInStrings()) {
            QString re;
            QString probe;
            QList<int> numbers;
            qsizetype literal = 0;
            qsizetype at = 0;
            for (auto it = placeholder.globalMatch(text); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                const QString fixed = text.mid(at, m.capturedStart() - at);
                re += QRegularExpression::escape(fixed);
                literal += fixed.size();
                if (fixed.size() > probe.size())
                    probe = fixed;
                const int n = m.captured(1).toInt();
                if (const qsizetype seen = numbers.indexOf(n); seen >= 0) {
                    re += QStringLiteral("\\%1").arg(seen + 1);
                } else {
                    numbers.append(n);
                    // The last placeholder takes the rest of the line.
                    re += m.capturedEnd() == text.size() ? QStringLiteral("(.+)")
                                                         : QStringLiteral("(.+?)");
                }
                at = m.capturedEnd();
            }
            if (numbers.isEmpty()) {
                if (foundInLine(id, text, text.size()))
                    t.sentences.push_back({id, text});
                continue;
            }
            const QString fixed = text.mid(at);
            re += QRegularExpression::escape(fixed);
            literal += fixed.size();
            if (fixed.size() > probe.size())
                probe = fixed;
            t.patterns.push_back(
                {id, QRegularExpression(re),
                 QRegularExpression(QStringLiteral("(?:") + re + QStringLiteral(")\\z")), numbers,
                 probe, literal, foundInLine(id, text, literal)});
        }
        std::stable_sort(t.patterns.begin(), t.patterns.end(),
                         [](const ComposedPattern& a, const ComposedPattern& b) {
                             return a.literal > b.literal;
                         });
        return t;
    }();
    return tables;
}

// Where a composed piece may start in a line: at its start, at an appended
// part, or after the end of a sentence or a clause.
bool startsPiece(const QString& line, qsizetype p) {
    if (p == 0)
        return true;
    const QChar c = line.at(p);
    if (c == QLatin1Char(',') || c == QLatin1Char('('))
        return true;
    if (!line.at(p - 1).isSpace() || c.isSpace())
        return false;
    qsizetype q = p - 1;
    while (q > 0 && line.at(q).isSpace())
        --q;
    return QStringLiteral(".?!:;)\"").contains(line.at(q));
}

// Where a composed piece may end: at the line's end, before a blank or a
// mark, or after a mark; never inside a word.
bool endsPiece(const QString& line, qsizetype e) {
    static const QString marks = QStringLiteral(",.;:?!)");
    return e >= line.size() || line.at(e).isSpace() || marks.contains(line.at(e)) ||
           (e > 0 && marks.contains(line.at(e - 1)));
}

} // namespace

// The catalogue's pattern with each placeholder replaced by what the
// English line had there, translated in turn. A placeholder the English
// pattern does not have stays as it is.
QString LangDll::fillPattern(const QString& pattern, const QList<int>& numbers,
                             const QStringList& parts, int depth) const {
    QString out;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('%') && i + 1 < pattern.size()) {
            const int n = pattern.at(i + 1).digitValue();
            if (const qsizetype k = numbers.indexOf(n); n >= 1 && k >= 0) {
                out += translateText(parts.at(k), depth + 1);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString LangDll::translateLine(const QString& line, int depth) const {
    if (line.trimmed().isEmpty())
        return line;
    if (const std::optional<int> id = builtInIdOf(line))
        return catalogueString(*id).value_or(line);
    const ComposedTables& t = composedTables();
    auto partsOf = [](const QRegularExpressionMatch& m) {
        QStringList parts;
        for (int i = 1; i <= m.lastCapturedIndex(); ++i)
            parts << m.captured(i);
        return parts;
    };
    // Only the patterns whose longest fixed piece is in the line can be
    // found in it: most lines logged (frames) hold none.
    std::vector<const ComposedPattern*> candidates;
    for (const ComposedPattern& p : t.patterns)
        if (line.contains(p.probe))
            candidates.push_back(&p);
    std::vector<const QPair<int, QString>*> sentences;
    for (const QPair<int, QString>& s : t.sentences)
        if (line.contains(s.second))
            sentences.push_back(&s);
    if (candidates.empty() && sentences.empty())
        return line;
    // The whole line made from one pattern: the one with the most fixed
    // text that fits.
    for (const ComposedPattern* c : candidates) {
        const ComposedPattern& p = *c;
        const QRegularExpressionMatch m =
            p.wholeLine.match(line, 0, QRegularExpression::NormalMatch,
                              QRegularExpression::AnchorAtOffsetMatchOption);
        if (!m.hasMatch())
            continue;
        if (const std::optional<QString> pattern = catalogueString(p.id))
            return fillPattern(*pattern, p.numbers, partsOf(m), depth);
        return line;
    }
    // Else sentence by sentence: at each place a piece may start, the
    // longest piece that fits there.
    QString out;
    bool translated = false;
    for (qsizetype p = 0; p < line.size();) {
        if (startsPiece(line, p)) {
            qsizetype end = -1;
            QString shown;
            for (const QPair<int, QString>* s : sentences) {
                const auto& [id, text] = *s;
                const qsizetype e = p + text.size();
                if (e > end && QStringView(line).mid(p).startsWith(text) && endsPiece(line, e))
                    if (const std::optional<QString> s = catalogueString(id)) {
                        end = e;
                        shown = *s;
                    }
            }
            for (const ComposedPattern* found : candidates) {
                const ComposedPattern& c = *found;
                if (!c.inLine)
                    continue;
                const QRegularExpressionMatch m =
                    c.atOffset.match(line, p, QRegularExpression::NormalMatch,
                                     QRegularExpression::AnchorAtOffsetMatchOption);
                if (!m.hasMatch() || m.capturedEnd() <= end || !endsPiece(line, m.capturedEnd()))
                    continue;
                if (const std::optional<QString> pattern = catalogueString(c.id)) {
                    end = m.capturedEnd();
                    shown = fillPattern(*pattern, c.numbers, partsOf(m), depth);
                }
            }
            if (end > p) {
                out += shown;
                p = end;
                translated = true;
                continue;
            }
        }
        out += line.at(p);
        ++p;
    }
    return translated ? out : line;
}

QString LangDll::translateText(const QString& text, int depth) const {
    // Parts put into parts: deep enough for a message naming a message.
    if (depth > 4)
        return text;
    QString out;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text.at(i) != QLatin1Char('\n') && text.at(i) != QLatin1Char('\r'))
            continue;
        out += translateLine(text.mid(start, i - start), depth);
        if (i < text.size())
            out += text.at(i);
        start = i + 1;
    }
    return out;
}

QString LangDll::translate(const QString& english) const {
    if (m_libraryPath.isEmpty() || m_catalogue.isEmpty() || english.isEmpty())
        return english;
    return translateText(english, 0);
}

QStringList LangDll::defaultSearchFolders() {
    if (QCoreApplication::instance())
        return searchFoldersFor(QCoreApplication::applicationDirPath());
    return {QStringLiteral(".")};
}

QStringList LangDll::searchFoldersFor(const QString& programFolder) {
    // Installed, the program sits in PREFIX/bin and its catalogues in
    // PREFIX/share/glimmerpane; unpacked, they sit beside it.
    return {programFolder,
            QDir::cleanPath(QDir(programFolder).filePath(QStringLiteral("../share/glimmerpane"))),
            QStringLiteral(".")};
}

LangDll::LangDll(QLocale locale, QStringList searchFolders)
    : m_locale(std::move(locale)), m_searchFolders(std::move(searchFolders)) {}

LangDll::~LangDll() {
    CloseLibrary();
}

bool LangDll::LoadLangDll(const QString& strDll) {
    CloseLibrary();
    if (strDll.isEmpty())
        return false;
    QString fileName = strDll;
    if (QFileInfo(fileName).suffix().isEmpty())
        fileName += QStringLiteral(".lng");

    QStringList candidates;
    if (fileName.contains(QLatin1Char('/'))) {
        candidates << fileName;
    } else {
        for (const QString& folder : m_searchFolders)
            candidates << QDir(folder).filePath(fileName);
    }
    for (const QString& candidate : candidates) {
        if (!QFileInfo(candidate).isFile())
            continue;
        QFile file(candidate);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            continue;
        bool latin1 = false;
        m_catalogue = parseCatalogue(decodeCatalogue(bytes, &latin1));
        m_libraryName = strDll;
        m_libraryPath = QFileInfo(candidate).absoluteFilePath();
        if (latin1)
            m_loadNote = QStringLiteral("Language catalogue %1 is not UTF-8; read as Latin-1.")
                             .arg(QDir::toNativeSeparators(m_libraryPath));
        return true;
    }
    return false;
}

void LangDll::CloseLibrary() {
    m_catalogue.clear();
    m_libraryName.clear();
    m_libraryPath.clear();
    m_loadNote.clear();
}

QString LangDll::GetDefaultDllName() const {
    QString code;
    const QLocale::Language language = m_locale.language();
    if (language == QLocale::C)
        code = QStringLiteral("en");
    else if (language != QLocale::AnyLanguage)
        code = QLocale::languageToCode(language);
    // Two characters, as the language lookup has always given; blanks when
    // there is no code.
    code = (code + QStringLiteral("  ")).left(2);
    return QStringLiteral("Glimmerpane_") + code;
}

std::optional<QString> LangDll::GetLangString(int ResourceID) const {
    if (!m_libraryPath.isEmpty() && ResourceID >= 1) {
        const auto it = m_catalogue.constFind(ResourceID);
        if (it != m_catalogue.constEnd())
            return *it;
    }
    return builtInString(ResourceID);
}

std::optional<QString> LangDll::catalogueString(int id) const {
    const auto it = m_catalogue.constFind(id);
    if (m_libraryPath.isEmpty() || id < 1 || it == m_catalogue.constEnd())
        return std::nullopt;
    return *it;
}

QString LangDll::GetLangStringOr(int ResourceID, const QString& keep) const {
    return GetLangString(ResourceID).value_or(keep);
}

const StringTableEntries& LangDll::builtInStrings() {
    static const StringTableEntries entries = [] {
        StringTableEntries list;
        for (const BuiltInText& t : kBuiltIn)
            list.append({t.id, QString::fromUtf8(t.text)});
        for (const BuiltInText& t : kCaptions)
            list.append({t.id, QString::fromUtf8(t.text)});
        for (const BuiltInText& t : kComposed)
            list.append({t.id, QString::fromUtf8(t.text)});
        return list;
    }();
    return entries;
}

std::optional<int> LangDll::builtInIdOf(const QString& english) {
    static const QHash<QString, int> ids = [] {
        QHash<QString, int> byText;
        // The first id of a text counts ("Comms" is 113 and 5018).
        for (const auto& [id, text] : builtInStrings())
            if (!byText.contains(text))
                byText.insert(text, id);
        return byText;
    }();
    const auto it = ids.constFind(english);
    if (it == ids.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<QString> LangDll::builtInString(int id) {
    const StringTableEntries& entries = builtInStrings();
    const auto it =
        std::lower_bound(entries.begin(), entries.end(), id,
                         [](const QPair<int, QString>& e, int v) { return e.first < v; });
    if (it == entries.end() || it->first != id || it->second.isEmpty())
        return std::nullopt;
    return it->second;
}

QString LangDll::formatCatalogue(const StringTableEntries& entries) {
    QString out;
    for (const auto& [id, text] : entries) {
        QString oneLine = text;
        oneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        oneLine.replace(QLatin1Char('\r'), QLatin1Char(' '));
        oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
        out += QString::number(id) + QLatin1Char('\t') + oneLine + QStringLiteral("\r\n");
    }
    return out;
}

Status LangDll::writeCatalogue(const QString& path, const StringTableEntries& entries) {
    const QByteArray bytes = formatCatalogue(entries).toUtf8();
    return writeFileAtomically(path, bytes);
}

} // namespace gp
