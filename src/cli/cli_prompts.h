#pragma once
// Prompts of the command-line front end: questions are answered from --yes,
// never from a hidden default; file choosers answer the files the command
// line named; messages go to stderr.

#include "platform/prompts.h"

#include <QStringList>
#include <functional>

namespace gp::cli {

class CliPrompts : public Prompts {
  public:
    explicit CliPrompts(bool yes) : yes_(yes) {}
    bool askYesNo(const QString& title, const QString& text, bool, bool) override;
    void message(const QString& title, const QString& text, MessageKind kind) override;
    QString openFile(const QString&, const QString&) override { return takeFile(); }
    QString saveFile(const QString&, const QString&) override { return takeFile(); }

    // The answers the next file choosers give, in order.
    QStringList files;
    // Every message shown, for the command's own report.
    QStringList messages;
    // Where questions and messages are printed, one line at a time; stderr
    // when not set.
    std::function<void(const QString&)> print;

  private:
    QString takeFile() { return files.isEmpty() ? QString() : files.takeFirst(); }
    void printLine(const QString& line);
    bool yes_;
};

} // namespace gp::cli
