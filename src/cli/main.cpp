#include <algorithm>
#include <clocale>
#include <iostream>

#include "cli/cli.h"
#ifdef UFCS_WITH_PICTURES
#include <QApplication>

#include "cli/plot_command.h"
#endif
#ifdef UFCS_WITH_UPGRADES
#include <QCoreApplication>

#include "net/http_download.h"
#endif

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
#ifdef UFCS_WITH_PICTURES
    const auto command = std::find_if(args.begin(), args.end(),
                                      [](const std::string& arg) { return arg != "--trace"; });
    if (command != args.end() && *command == "plot") {
        // Pictures are drawn by the windows' views, offscreen: no display is needed.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        std::setlocale(LC_NUMERIC, "C");
        return cli::runCli(args, std::cout, std::cerr, {}, cli::runPlot);
    }
#endif
#ifdef UFCS_WITH_UPGRADES
    // Downloads run on Qt's event loop; the other commands never enter it.
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");  // Qt took the user's locale; numbers stay as files have them
    return cli::runCli(args, std::cout, std::cerr, net::fetchAndWait);
#else
    return cli::runCli(args, std::cout, std::cerr);
#endif
}
