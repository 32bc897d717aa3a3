#include "app/command_line.h"

#include "platform/login_item.h"

namespace zapum {

CommandLine parseCommandLine(const QStringList &arguments)
{
    CommandLine line;
    for (const QString &argument : arguments.mid(1)) {
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return {CommandLine::Action::PrintHelp, false, {}};
        if (argument == QLatin1String("--version"))
            return {CommandLine::Action::PrintVersion, false, {}};
        if (argument == QLatin1String(kAtLoginFlag))
            line.atLogin = true;
        else if (argument.startsWith(QLatin1String("--")))
            return {CommandLine::Action::Refuse, false,
                    QStringLiteral("zapum: unknown option %1 (zapum --help lists the options)").arg(argument)};
    }
    return line;
}

QString commandLineHelp()
{
    return QStringLiteral("Usage: zapum [--autostart] [zapum://URL]\n"
                          "ZaPum, a desktop companion you talk to: a bee in a floating panel above the taskbar.\n"
                          "\n"
                          "  zapum://URL   hand a sign-in callback to the running ZaPum (the browser does this)\n"
                          "  --autostart   start as at log-in: the companion comes back without opening a window\n"
                          "                that would take the keyboard (the desktop's autostart entry uses it)\n"
                          "  --version     print the version and exit\n"
                          "  -h, --help    print this help and exit\n");
}

}  // namespace zapum
