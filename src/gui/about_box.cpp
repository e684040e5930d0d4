#include "gui/about_box.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

namespace gp {

namespace {

// A plain badge with the company's initials stands for its logo.
QPixmap badge(const QString& initials, const QColor& colour) {
    QPixmap pm(64, 64);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(colour);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(26);
    p.setFont(f);
    p.drawText(QRect(0, 0, 64, 64), Qt::AlignCenter, initials);
    return pm;
}

} // namespace

QString frmAbout::versionText() {
    return QStringLiteral("Version %1.%2.%3")
        .arg(GP_VERSION_MAJOR)
        .arg(GP_VERSION_MINOR)
        .arg(GP_VERSION_PATCH);
}

QString frmAbout::disclaimerText(const QString& companyLine) {
    return QStringLiteral("\u00A9 2020 ") + companyLine +
           QStringLiteral(". All rights reserved.\r\n\r\n") +
           QStringLiteral("Firmware is programmed with bossac, the Basic Open Source SAM-BA "
                          "Application (BOSSA), Copyright (c) 2011-2018 ShumaTech.");
}

frmAbout::frmAbout(const LangDll& lang, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    const QString title =
        lang.GetLangStringOr(101, QStringLiteral("Quorvel Touchscreen Configuration Tool"));
    const QString company = lang.GetLangStringOr(10003, QString::fromLatin1(kMakerCompanyLine));

    lblTitle = new QLabel(title, this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont big = lblTitle->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    lblTitle->setFont(big);
    setWindowTitle(lang.GetLangStringOr(106, QStringLiteral("About")) + ':' + title);

    lblVersion = new QLabel(versionText(), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));

    lblDisclaimer = new QLabel(this);
    lblDisclaimer->setObjectName(QStringLiteral("lblDisclaimer"));
    lblDisclaimer->setTextFormat(Qt::PlainText);
    lblDisclaimer->setWordWrap(true);
    // A label breaks at LF; the CR of the notice's CR LF would show as a box.
    QString shown = disclaimerText(company);
    shown.remove(QLatin1Char('\r'));
    lblDisclaimer->setText(shown);
    lblDisclaimer->setMinimumWidth(380);

    picIcon[0] = new QLabel(this);
    picIcon[0]->setObjectName(QStringLiteral("picIcon_0"));
    picIcon[0]->setPixmap(badge(QStringLiteral("Q"), QColor(0x1f, 0x5f, 0x9f)));
    picIcon[1] = new QLabel(this);
    picIcon[1]->setObjectName(QStringLiteral("picIcon_1"));
    picIcon[1]->setPixmap(badge(QStringLiteral("NG"), QColor(0x2f, 0x7f, 0x3f)));
    picIcon[1]->setVisible(company == QString::fromLatin1(kOemCompanyLine));

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* g = new QGridLayout(this);
    auto* icons = new QVBoxLayout;
    icons->addWidget(picIcon[0]);
    icons->addWidget(picIcon[1]);
    icons->addStretch(1);
    g->addLayout(icons, 0, 0, 3, 1);
    g->addWidget(lblTitle, 0, 1);
    g->addWidget(lblVersion, 1, 1);
    g->addWidget(lblDisclaimer, 2, 1);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(cmdOK);
    g->addLayout(row, 3, 0, 1, 2);
}

} // namespace gp
