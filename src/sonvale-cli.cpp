// sonvale-cli: Sonvale's work from the command line (sonvale-cli --help).

#include "Cli.h"

#include <QCoreApplication>

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Sonvale"));
    app.setApplicationVersion(QStringLiteral("2.1"));
    return RunCli(app, std::vector<std::string>(argv + 1, argv + argc));
}
