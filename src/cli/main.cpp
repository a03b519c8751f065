#include <QCoreApplication>
#include <iostream>

#include "cli/cli.h"
#include "net/http_download.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    // Downloads run on Qt's event loop; the other commands never enter it.
    QCoreApplication app(argc, argv);
    cli::setFetcher(net::fetchAndWait);
    return cli::runCli(args, std::cout, std::cerr);
}
