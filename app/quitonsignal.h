#pragma once

// SIGTERM, SIGINT and SIGHUP quit the event loop like the window's quit does, so the
// single-instance segment and the settings are released properly.
void quitOnTerminationSignals();
