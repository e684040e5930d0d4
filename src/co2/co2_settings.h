#pragma once
// The CO2 sensor's settings as the CO2 view shows them, as plain data: each
// field's text, what is enabled, the method list; the buttons' actions, which
// build the sensor lines; and the follow-up lines sent on each reply.
//
// The sensor keeps numbered one-byte parameters ("p NN" reads, "P NN V"
// writes). A two-byte setting is two consecutive parameters, high byte first.
// Writing one runs a chain: high byte (queued with "K 0" before and "K 1"
// after), its acknowledgement, the low byte, its acknowledgement, a read of
// the high parameter, whose reply reads the low one and updates the field.

#include "co2/co2_link.h"

#include <QHash>
#include <QLocale>
#include <QStringList>
#include <array>
#include <optional>

namespace gp {

// Fields of the view, by the number in their control name (CO2Text1 ...).
enum Co2Field : int {
    FieldFilter = 1,           // CO2Text1
    FieldAmbient = 2,          // CO2Text2, ppm
    FieldInitialRaw = 3,       // CO2Text3, read-only: the stored raw value
    FieldIntervalRaw = 4,      // CO2Text4, read-only: the raw count
    FieldCalConcentration = 6, // CO2Text6, ppm
    FieldInitialDays = 8,      // CO2Text8
    FieldIntervalDays = 9,     // CO2Text9
    FieldProportion = 10,      // CO2Text10
    FieldThreshold = 11,       // CO2Text11, ppm
};

// Buttons, by the index in their control name (CO2Button_0 ...).
enum Co2ButtonId : int {
    ButtonReadAll = 0,
    ButtonFilter = 1,
    ButtonProportion = 2,
    ButtonAmbient = 3,
    ButtonThreshold = 4,
    ButtonInitialInterval = 5,
    ButtonInterval = 7,
    ButtonMethod = 10,
    ButtonCommandMode = 12,
    ButtonStreamMode = 13,
    ButtonCalConcentration = 15,
    ButtonCalibrate = 20,
};

// The interval parameters count in 1/1728 day.
constexpr int kCo2TicksPerDay = 1728;

// The automatic-calibration methods, in list order, and their codes in
// parameter 07.
QStringList Co2MethodNames();
int Co2MethodCode(int index);       // -1 for an index outside the list
int Co2MethodIndexOfCode(int code); // -1 for an unknown code

// The value of a field's text when it is a number (sign, decimal point and
// exponent allowed, spaces around it too); nothing otherwise.
std::optional<double> Co2Number(const QString& text);

struct Co2Fields {
    Co2Fields();
    std::array<QString, 12> text; // by Co2Field; unused numbers stay empty
    QString level;                // CO2ppmLabel
    QStringList methodItems;      // CO2Combo1
    int methodIndex = -1;
    // The proportion and threshold rows: enabled once the sensor answered
    // the read of parameter 16, and from then on.
    bool advancedRows = false;
    // The method row and the two mode buttons are never enabled.
    static constexpr bool methodRowEnabled = false;
    static constexpr bool modeButtonsEnabled = false;
};

// The value a button writes for the typed number, for the settings whose
// range does not hang on what the sensor holds (ppm settings, proportion,
// interval in days); limited tells whether the number was outside it.
// Nothing for the others.
std::optional<int> Co2FixedLimit(int button, double typed, bool& limited);

// What a button did.
struct Co2Action {
    bool acted = false;   // false: not a number, or a button without action
    QString line;         // the line it sent or queued, without CR LF
    bool queued = false;  // through the write sequence (else sent at once)
    bool limited = false; // the number was outside the range and was limited
    int value = -1;       // the value written (the raw count for the intervals)
};

class Co2Settings {
  public:
    explicit Co2Settings(Co2Link& link);
    ~Co2Settings();
    Co2Settings(const Co2Settings&) = delete;
    Co2Settings& operator=(const Co2Settings&) = delete;

    const Co2Fields& fields() const { return fields_; }
    const QString& text(int field) const { return fields_.text.at(static_cast<size_t>(field)); }
    // The engineer's edits, gathered by the view before a button acts.
    void setText(int field, const QString& text);
    void setMethodIndex(int index) { fields_.methodIndex = index; }

    // Whether CO2Button(index) can be clicked now.
    bool enabled(int button) const;
    // The action of CO2Button(index); a disabled button does nothing.
    Co2Action press(int button);
    // What the initial interval button would write for the days typed, and
    // whether they are outside what the sensor's interval leaves.
    std::optional<int> initialIntervalLimit(bool& limited) const;

    // Reply handling, called by the link for the keys a/A, p, P and R.
    void handle(const Co2Group& group);

    // High and low byte of the two-byte value last read.
    int Co2HiByte = 0;
    int Co2LoByte = 0;

    // Something shown changed.
    std::function<void()> onChanged;

  private:
    void setShown(int field, const QString& text);
    void changed();
    void clearReadFields();
    Co2Action queueTwoByte(int highParam, int value, bool limited);
    void paramRead(int param, int value);
    void paramAck(int param);
    void regRead(int reg, int value);

    Co2Link& link_;
    Co2Fields fields_;
    // The low byte of each two-byte write in flight, by its high parameter.
    // Kept apart from the read replies: a read answered between the high
    // byte's write and its acknowledgement must not change what is written.
    QHash<int, int> pendingLow_;
    // The high byte of each two-byte read in flight, by its high parameter
    // (or register), so that interleaved reads cannot mix their halves.
    QHash<int, int> readHigh_;
};

// The unit's line through to its CO2 sensor and what was read over it, owned
// beside the unit's link by whoever owns that link (the main window, one
// command-line run); the CO2 view and the report borrow it.
struct Co2Channel {
    explicit Co2Channel(Link& unitLink) : link(unitLink), settings(link) {}
    Co2Channel(const Co2Channel&) = delete;
    Co2Channel& operator=(const Co2Channel&) = delete;

    Co2Link link;
    Co2Settings settings;
};

} // namespace gp
