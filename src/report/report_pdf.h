#pragma once
// The commissioning report as a PDF: the HTML document laid out on A4 pages.
// Laying out text needs the Qt GUI module and a QGuiApplication (which runs
// without a display on the "offscreen" platform), so this lives apart from
// the core, in a small library of its own that the desktop tool and the
// command-line front end both link.

#include "platform/result.h"

#include <QString>

namespace gp {

// Writes html as a PDF to path, replacing the file atomically; fails with
// why the file could not be written.
Status writeReportPdf(const QString& path, const QString& html);

} // namespace gp
