#pragma once
// Several units at once: the same command on every port given, each unit
// with its own link, session and event loop in a thread of its own, since a
// serial port and the objects around it belong to the thread that made them.
// Output is tagged with the port; --json gives one object per unit.

#include "cli/cli_session.h"

namespace gp::cli {

// The commands that may run on several ports at once.
bool runsOnManyUnits(const QString& commandName);

// Why the run cannot start, checked before anything is sent; empty when it
// can. Stands for bad usage (exit 2).
QString manyUnitsProblem(const Command& command, const QStringList& args,
                         const CliOptions& options);

// Runs the command on every port of options.ports at once and answers the
// exit status: 0 when every unit succeeded; 130 after Ctrl+C; 2 when every
// unit that failed did so for bad usage; 1 otherwise. The failed units are
// named on stderr at the end.
int runManyUnits(const Command& command, const QStringList& args, const CliOptions& options);

} // namespace gp::cli
