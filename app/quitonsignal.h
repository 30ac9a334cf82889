#pragma once

// How long the event loop gets to end the program after a termination signal.
constexpr int terminationGraceMs = 5000;

// SIGTERM, SIGINT and SIGHUP quit the event loop like the window's quit does, so the
// single-instance segment and the settings are released properly. A GUI thread too
// busy to quit within terminationGraceMs, or a second signal, ends the process anyway.
void quitOnTerminationSignals();
