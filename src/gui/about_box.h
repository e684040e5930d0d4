#pragma once
// The about box (class frmAbout): product title, program version, the maker's rights notice
// with the credit line of the flashing tool, and the OEM partner's logo when
// the language strings carry the partner's company line.

#include "app/lang_dll.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace gp {

// The OEM partner's company line: a language catalogue whose text 10003 is
// exactly this shows the partner's logo beside ours.
inline constexpr char kOemCompanyLine[] = "Nordlicht Gebaeudetechnik GmbH";

class frmAbout : public QDialog {
    Q_OBJECT
  public:
    explicit frmAbout(const LangDll& lang, QWidget* parent = nullptr);

    // "Version 2.0.21", from the build's version numbers.
    static QString versionText();
    // Rights notice, two line breaks, credit line of the flashing tool.
    static QString disclaimerText(const QString& companyLine);

  private:
    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QLabel* picIcon[2] = {};
    QPushButton* cmdOK = nullptr;
};

} // namespace gp
