#pragma once
// Prompts answered from a script, recording what was asked.

#include "platform/prompts.h"

#include <QStringList>

namespace gp::test {

class ScriptedPrompts : public Prompts {
  public:
    bool askYesNo(const QString& title, const QString& text, bool, bool) override {
        asked << title + ": " + text;
        return answers.isEmpty() ? false : answers.takeFirst();
    }
    void message(const QString& title, const QString& text, MessageKind) override {
        messages << (title.isEmpty() ? text : title + ": " + text);
    }
    QString openFile(const QString&, const QString& filter) override {
        filters << filter;
        startPaths << startPath;
        return files.isEmpty() ? QString() : files.takeFirst();
    }
    QString saveFile(const QString&, const QString& filter) override {
        filters << filter;
        startPaths << startPath;
        return files.isEmpty() ? QString() : files.takeFirst();
    }

    QList<bool> answers; // for askYesNo, in order; No when empty
    QStringList files;   // for the file choosers, in order; cancelled when empty
    QStringList asked;
    QStringList messages;
    QStringList filters;
    QStringList startPaths; // startPath at each file chooser
};

} // namespace gp::test
