#pragma once

// The whole life of the process; main returns its result.
int iptvMain(int &argc, char **argv);
