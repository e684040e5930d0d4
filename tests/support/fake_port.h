#pragma once
// A scripted serial port: records what the program writes, delivers what the
// test feeds, and can refuse to open.

#include "platform/serial_port.h"

#include <QByteArrayList>

namespace gp::test {

class FakePort : public SerialPort {
  public:
    QString name() const override { return name_; }
    void setName(const QString& n) override { name_ = n; }
    bool setSettings(const QString& s) override {
        settings_ = s;
        return true;
    }
    QString settings() const override { return settings_; }
    bool open() override {
        ++openCalls;
        if (refuseOpen != PortError::None) {
            error_ = refuseOpen;
            return false;
        }
        open_ = true;
        return true;
    }
    // Closing drops what is still held, as a real port's buffer is dropped.
    void close() override {
        open_ = false;
        held.clear();
    }
    bool isOpen() const override { return open_; }
    bool write(const QByteArray& b) override {
        if (holdWrites)
            held.append(b);
        else
            written.append(b);
        return true;
    }
    bool flush(int) override {
        written.append(held);
        held.clear();
        return true;
    }
    QByteArray readAll() override { return std::exchange(pending_, QByteArray()); }
    void setOnReadyRead(std::function<void()> h) override { onReady_ = std::move(h); }
    void setOnError(std::function<void(PortError, const QString&)> h) override {
        onError_ = std::move(h);
    }
    PortError lastError() const override { return error_; }
    QString lastErrorText() const override { return QString(); }

    // Characters arrive in one notification.
    void feed(const QByteArray& chars) {
        pending_ += chars;
        if (onReady_)
            onReady_();
    }
    void vanish() {
        if (onError_)
            onError_(PortError::Vanished, QStringLiteral("device removed"));
    }
    QStringList writtenFrames() const {
        QStringList out;
        for (const auto& w : written)
            out << QString::fromLatin1(w);
        return out;
    }

    QByteArrayList written;
    // Like QSerialPort: written bytes wait in the port's buffer until the
    // event loop (or a flush) hands them on.
    bool holdWrites = false;
    QByteArrayList held;
    PortError refuseOpen = PortError::None;
    int openCalls = 0;

  private:
    QString name_ = QStringLiteral("ttyFAKE0");
    QString settings_;
    bool open_ = false;
    QByteArray pending_;
    PortError error_ = PortError::None;
    std::function<void()> onReady_;
    std::function<void(PortError, const QString&)> onError_;
};

} // namespace gp::test
