#include "site/site_export.h"

#include <QStringList>
#include <algorithm>

namespace gp::site {

namespace {

QString number(const std::optional<int>& v) {
    return v ? QString::number(*v) : QString();
}

QStringList cells(const Visit& v) {
    return {v.name,
            v.sn,
            v.uid,
            v.product,
            v.firmware,
            number(v.address),
            number(v.deviceId),
            v.result,
            v.ended.toString(Qt::ISODate),
            v.engineer,
            v.leftSha256};
}

const QStringList kHeader{QStringLiteral("name"),          QStringLiteral("sn"),
                          QStringLiteral("uid"),           QStringLiteral("product"),
                          QStringLiteral("firmware"),      QStringLiteral("address"),
                          QStringLiteral("device_id"),     QStringLiteral("result"),
                          QStringLiteral("ended"),         QStringLiteral("engineer"),
                          QStringLiteral("as_left_sha256")};

// A CSV field as spreadsheets read it: quoted when it holds a delimiter, a
// quote or a line break.
QString csvField(const QString& text) {
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace

QList<Visit> latestPerUnit(const QList<Visit>& visits) {
    QList<Visit> out;
    for (const Visit& v : visits) {
        const auto same =
            std::find_if(out.begin(), out.end(), [&](const Visit& o) { return o.uid == v.uid; });
        if (same == out.end())
            out << v;
        else if (v.started >= same->started)
            *same = v;
    }
    std::stable_sort(out.begin(), out.end(), [](const Visit& a, const Visit& b) {
        return a.name != b.name ? a.name.localeAwareCompare(b.name) < 0 : a.sn < b.sn;
    });
    return out;
}

QByteArray siteReportCsv(const QList<Visit>& units) {
    QByteArray out = kHeader.join(u',').toUtf8() + "\r\n";
    for (const Visit& v : units) {
        QStringList row;
        for (const QString& c : cells(v))
            row << csvField(c);
        out += row.join(u',').toUtf8() + "\r\n";
    }
    return out;
}

QString siteReportHtml(const QList<Visit>& units, const QString& title) {
    QString html = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>") +
                   title.toHtmlEscaped() +
                   QStringLiteral("</title><style>body{font-family:sans-serif}"
                                  "table{border-collapse:collapse}td,th{border:1px solid #999;"
                                  "padding:2px 6px;text-align:left}.val{font-family:monospace}"
                                  "</style></head><body>\n<h1>") +
                   title.toHtmlEscaped() +
                   QStringLiteral("</h1>\n<p>%1 unit(s).</p>\n<table>\n<tr>").arg(units.size());
    for (const QString& h : kHeader)
        html += QStringLiteral("<th>") + h.toHtmlEscaped() + QStringLiteral("</th>");
    html += QStringLiteral("</tr>\n");
    for (const Visit& v : units) {
        html += QStringLiteral("<tr>");
        for (const QString& c : cells(v))
            html +=
                QStringLiteral("<td class=\"val\">") + c.toHtmlEscaped() + QStringLiteral("</td>");
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</table>\n</body></html>\n");
}

} // namespace gp::site
