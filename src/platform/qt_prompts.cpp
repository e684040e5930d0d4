#include "platform/qt_prompts.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace gp {

bool QtPrompts::askYesNo(const QString& title, const QString& text, bool warning, bool defaultNo) {
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Question, title, text,
                    QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(defaultNo ? QMessageBox::No : QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void QtPrompts::message(const QString& title, const QString& text, MessageKind kind) {
    const auto icon = kind == MessageKind::Plain     ? QMessageBox::Information
                      : kind == MessageKind::Warning ? QMessageBox::Warning
                                                     : QMessageBox::Critical;
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent_);
    box.exec();
}

QString QtPrompts::openFile(const QString& title, const QString& filter) {
    return QFileDialog::getOpenFileName(
        parent_, title, startPath.isEmpty() ? QDir::currentPath() : startPath, toQtFilter(filter));
}

QString QtPrompts::saveFile(const QString& title, const QString& filter) {
    QString chosen;
    const QString path = QFileDialog::getSaveFileName(
        parent_, title, startPath.isEmpty() ? QDir::currentPath() : startPath, toQtFilter(filter),
        &chosen);
    return withFilterExtension(path, chosen);
}

} // namespace gp
