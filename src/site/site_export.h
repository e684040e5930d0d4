#pragma once
// The site report: one line per unit with its latest visit (name, serial
// number, product, firmware, address, device id, result and the as-left
// SHA-256 as the commissioning report gives it), as CSV or as an HTML
// document (which the front ends also lay out as PDF).

#include "site/site_record.h"

#include <QList>
#include <QString>

namespace gp::site {

// Each unit's latest visit, by name (then serial number).
QList<Visit> latestPerUnit(const QList<Visit>& visits);

QByteArray siteReportCsv(const QList<Visit>& units);
QString siteReportHtml(const QList<Visit>& units, const QString& title);

} // namespace gp::site
