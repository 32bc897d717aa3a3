#include "app/command_line.h"
#include "app/zapum_app.h"

#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Answered before anything touches the desktop, so they work without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const zapum::CommandLine line = zapum::parseCommandLine(arguments);
    switch (line.action) {
    case zapum::CommandLine::Action::PrintVersion:
        std::printf("zapum %s\n", ZAPUM_VERSION);
        return 0;
    case zapum::CommandLine::Action::PrintHelp:
        std::fputs(qPrintable(zapum::commandLineHelp()), stdout);
        return 0;
    case zapum::CommandLine::Action::Refuse:
        std::fprintf(stderr, "%s\n", qPrintable(line.error));
        return 2;
    case zapum::CommandLine::Action::Run:
        break;
    }
    return zapum::runZaPum(argc, argv);
}
