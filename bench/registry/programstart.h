#pragma once

#include <QStringList>

// bench_registry --process [--program PATH]... REGISTRY.db [RUNS]
// Starts the real program as a process on a copy of REGISTRY.db (its data folder and settings in a
// temporary home) and times, from the spawn, the lines its log gets: the registry opened ("Views
// updated"), the window with its list's first screen and count, and "Updates checked" (logged
// 0.1 s after the window shows; the yardstick for a program that does not log the first screen).
// Several programs are run by turns, so that the machine's load falls on each alike.
int benchProgramStart(const QStringList& args);
