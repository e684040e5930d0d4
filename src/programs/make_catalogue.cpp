// Writes the English language catalogue, every text id with its text as the
// tool has it built in, the form "Export String Table" writes: the package
// ships it so that a translator starts from it. Run by the build, not
// installed.

#include "diag/debug_tools.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_catalogue FILE.lng\n");
        return 2;
    }
    if (const gp::Status written = gp::ExportStringTable(QString::fromLocal8Bit(argv[1]));
        !written) {
        std::fprintf(stderr, "make_catalogue: %s\n", qPrintable(written.error()));
        return 1;
    }
    return 0;
}
