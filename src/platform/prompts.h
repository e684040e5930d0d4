#pragma once
// The seam to the engineer: questions, messages and file choosers. The
// desktop tool shows real dialogs; the command-line front end answers from
// its options; tests answer from a script.

#include <QString>

namespace gp {

enum class MessageKind { Plain, Warning, Error };

class Prompts {
  public:
    virtual ~Prompts() = default;

    // A Yes/No question. defaultNo makes No the default button.
    virtual bool askYesNo(const QString& title, const QString& text, bool warning = true,
                          bool defaultNo = true) = 0;
    // A message with an OK button.
    virtual void message(const QString& title, const QString& text,
                         MessageKind kind = MessageKind::Plain) = 0;
    // File choosers; the filter is in the unit tool's own form,
    // "Config files{*.cfg)|*.cfg". An empty answer means cancelled.
    virtual QString openFile(const QString& title, const QString& filter) = 0;
    virtual QString saveFile(const QString& title, const QString& filter) = 0;

    // Where the next file chooser starts: a folder, or a file name suggested
    // in its folder. Empty: the current folder.
    QString startPath;
};

// "Config files{*.cfg)|*.cfg" -> "Config files (*.cfg)". Several pairs
// separated by "|" become several filters separated by ";;".
QString toQtFilter(const QString& filter);

// A file name typed without an extension takes the one of the filter chosen
// with it ("report" with "PDF report (*.pdf)" is "report.pdf"): the chosen
// filter decides the format. A name with an extension, or an empty one, is
// kept.
QString withFilterExtension(const QString& path, const QString& qtFilter);

} // namespace gp
