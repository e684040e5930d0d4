#include "co2/co2_link.h"

#include "link/codec.h"

namespace gp {

int32_t Co2ParseFive(const QString& text) {
    if (text.size() != 5)
        return 0;
    int32_t value = 0;
    for (QChar c : text) {
        const int digit = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ? c.unicode() - '0' : 0;
        value = value * 10 + digit;
    }
    return value;
}

Co2Key Co2KeyOf(QChar key) {
    switch (key.unicode()) {
    case 'Z':
        return Co2Key::Level;
    case 'a':
    case 'A':
        return Co2Key::Filter;
    case 'p':
        return Co2Key::ParamRead;
    case 'P':
        return Co2Key::ParamAck;
    case 'R':
        return Co2Key::RegRead;
    case 'z':
    case 'V':
    case 'v':
    case 'd':
    case 'D':
    case 'O':
    case 'o':
    case 'h':
    case 'l':
    case 'T':
    case 'H':
    case 'L':
    case 'Y':
    case '*':
    case '@':
        return Co2Key::Known;
    default:
        return Co2Key::Unknown;
    }
}

Co2Link::Co2Link(Link& link) : link_(link), self_(std::make_shared<Co2Link*>(this)) {
    link_.serial.co2Receive = [weak = std::weak_ptr<Co2Link*>(self_)](const QByteArray& chars) {
        if (const auto self = weak.lock(); self && *self)
            (*self)->Co2Receive(chars);
    };
    link_.serial.leavePassThrough = [weak = std::weak_ptr<Co2Link*>(self_)] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->Co2Leave();
    };
}

Co2Link::~Co2Link() {
    *self_ = nullptr;
}

void Co2Link::Co2Enter() {
    // A unit frame still awaited now is answered into the sensor's stream,
    // if at all: no batch may go on waiting for it.
    link_.serial.forgetExchange();
    link_.serial.Co2PassThrough = true;
    Co2AdvancedCal = false;
    // Whatever was left of a line from an earlier pass-through is stale.
    Co2RxBuffer.clear();
    linesReceived = 0;
    Co2Send(BuildSystem(QStringLiteral("Z")));
    Co2ReadAll();
}

void Co2Link::Co2Leave() {
    // Without the pass-through "K 1" and "!" would reach the unit itself.
    if (!link_.serial.Co2PassThrough) {
        readTimer_ = false;
        writeTimer_ = false;
        Co2ReadStep = -1;
        Co2WriteStep = -1;
        return;
    }
    sendLine(QStringLiteral("K 1"));
    // A lone "!" at the start of a line is the unit's own signal to take the
    // line back; it never reaches the sensor.
    Co2Send(BuildPassThroughEnd());
    link_.serial.Co2PassThrough = false;
    link_.serial.forgetExchange();
    // From here on a sequence line would reach the unit, not the sensor: a
    // pending write would be lost anyway, and the unit's own frames must not
    // be mixed with sensor commands.
    readTimer_ = false;
    writeTimer_ = false;
    Co2ReadStep = -1;
    Co2WriteStep = -1;
}

void Co2Link::Co2Send(const QString& text) {
    link_.serial.sendRaw(text);
}

void Co2Link::Co2ReadAll() {
    if (onReadAll)
        onReadAll();
    Co2ReadStep = -2;
    readTimer_ = true;
}

void Co2Link::Co2QueueWrite(const QString& line) {
    Co2PendingCmd = line + QStringLiteral("\r\n");
    Co2WriteStep = 0;
    writeTimer_ = true;
}

void Co2Link::tickRead() {
    if (!readTimer_)
        return;
    // One line per tick; no tick waits for a reply. The sensor answers the
    // read of parameter 16 long before step 10, so a sensor that has it gets
    // the three extra reads in the same sequence.
    switch (Co2ReadStep) {
    case -2:
        Co2ReadStep = 0;
        return;
    case -1:
        readTimer_ = false;
        return;
    default:
        break;
    }
    static const char* const kLines[] = {"K 0",  "a",    "p 16", "p 10", "p 05", "p 03",
                                         "p 07", "p 08", "p 10", "p 12", "p 17", "R 82",
                                         "R 84", "R 69", "@",    "*",    "K 1"};
    const int step = Co2ReadStep;
    if (step < 0 || step > 16) {
        readTimer_ = false;
        Co2ReadStep = -1;
        return;
    }
    const bool advancedOnly = step >= 10 && step <= 12;
    if (!advancedOnly || Co2AdvancedCal)
        sendLine(QString::fromLatin1(kLines[step]));
    Co2ReadStep = step == 16 ? -1 : step + 1;
}

void Co2Link::tickWrite() {
    if (!writeTimer_)
        return;
    switch (Co2WriteStep) {
    case 0:
        sendLine(QStringLiteral("K 0"));
        Co2WriteStep = 1;
        break;
    case 1:
        Co2Send(Co2PendingCmd);
        Co2WriteStep = 2;
        break;
    case 2:
        sendLine(QStringLiteral("K 1"));
        Co2WriteStep = -1;
        break;
    default:
        // Every write ends with a fresh read of everything.
        Co2ReadAll();
        writeTimer_ = false;
        Co2WriteStep = -1;
        break;
    }
}

void Co2Link::Co2Receive(const QByteArray& chars) {
    Co2RxBuffer += chars;
    // Every complete line is parsed; a line still arriving stays for the next
    // notification. Several lines often come in one notification (a stream
    // line next to a reply), and dropping any of them would break the
    // follow-up chains of the settings.
    for (;;) {
        const qsizetype lf = Co2RxBuffer.indexOf('\n');
        if (lf < 0)
            break;
        QByteArray line = Co2RxBuffer.left(lf);
        Co2RxBuffer.remove(0, lf + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        parseLine(QString::fromLatin1(line));
    }
    if (Co2RxBuffer.size() > kRxBufferCap)
        Co2RxBuffer.remove(0, Co2RxBuffer.size() - kRxBufferCap);
}

void Co2Link::parseLine(const QString& line) {
    link_.AddLog(QStringLiteral("[Rx] ") + line);
    ++linesReceived;
    if (line.trimmed() == QLatin1String("?") && writeTimer_) {
        ++writeRefusals;
        if (onWriteRefused)
            onWriteRefused();
    }
    // The line begins with a space, so token 0 is empty and the groups start
    // at token 1: key, first field, and (for p, P, R) a second field.
    const QStringList tokens = line.split(QLatin1Char(' '));
    const qsizetype last = tokens.size() - 1;
    for (qsizetype i = 1; i <= last - 1; i += 2) {
        const QString& keyToken = tokens.at(i);
        if (keyToken.isEmpty())
            continue;
        Co2Group g;
        g.key = keyToken.at(0);
        g.first = Co2ParseFive(tokens.at(i + 1));
        g.second = i + 2 <= last ? Co2ParseFive(tokens.at(i + 2)) : 0;
        g.line = line;
        switch (Co2KeyOf(g.key)) {
        case Co2Key::Level:
            level = g.first;
            if (onLevel)
                onLevel(level);
            break;
        case Co2Key::Filter:
        case Co2Key::ParamRead:
        case Co2Key::ParamAck:
        case Co2Key::RegRead:
            if (onGroup)
                onGroup(g);
            break;
        case Co2Key::Known:
        case Co2Key::Unknown:
            break;
        }
    }
}

} // namespace gp
