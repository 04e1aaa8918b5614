#pragma once
// sonvale-cli: the program's work without windows. The same classes as the windows (the disc
// scan, the lookup, the rip-and-convert job, the ID3v1 tag) with the same options.ini and
// cdinfo.dat; messages go to standard error, results to standard output (or one JSON document
// with --json).
//
//   exit status: 0 every item done, 1 an item failed or was skipped (or the command could not
//   run), 2 a usage error, 130 stopped by SIGINT or SIGTERM.

#include <string>
#include <vector>

class QCoreApplication;

enum : int { cliOk = 0, cliFailed = 1, cliUsage = 2, cliInterrupted = 130 };

// Runs one command line (args without the program's name) in app, whose event loop the jobs use.
int RunCli(QCoreApplication& app, const std::vector<std::string>& args);
