#include "report/report_pdf.h"

#include "platform/atomic_file.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

namespace gp {

Status writeReportPdf(const QString& path, const QString& html) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return fail(
            QStringLiteral("Cannot write %1: a PDF needs the graphical part of the program.")
                .arg(path));
    // Laid out in memory, then written like every file of ours: whole or
    // not at all.
    QBuffer file;
    file.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&file);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        pdf.setResolution(300);
        pdf.setTitle(QStringLiteral("Commissioning report"));
        pdf.setCreator(QStringLiteral("Glimmerpane"));
        QTextDocument doc;
        // Lay the text out for the page's own resolution, so point sizes are
        // points on paper and the page size below is in the same pixels.
        doc.documentLayout()->setPaintDevice(&pdf);
        doc.setHtml(html);
        doc.setPageSize(pdf.pageLayout().paintRectPixels(pdf.resolution()).size());
        doc.print(&pdf);
    }
    file.close();
    return writeFileAtomically(path, file.data());
}

} // namespace gp
