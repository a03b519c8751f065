// ufcs-update-server [--listen ADDRESS] FOLDER [PORT]: serves a folder as an update
// server (the upgrade demonstration's, and a small one for a lab: see
// docs/upgrade-server.md). Listens on 127.0.0.1 unless given another address,
// prints its address, then runs until it is stopped.
#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>
#include <cstdio>

#include "net/local_http_server.h"

namespace {

void usage(const QString& name) {
    std::fprintf(stderr,
                 "usage: %s [--listen ADDRESS] FOLDER [PORT]\n"
                 "  serves FOLDER over HTTP to the programs' upgrade checks; ADDRESS 0.0.0.0\n"
                 "  answers other computers too (127.0.0.1 by default)\n",
                 qPrintable(name));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    const QString name = QFileInfo(arguments.takeFirst()).fileName();
    QHostAddress address = QHostAddress::LocalHost;
    if (arguments.size() >= 2 && arguments[0] == QLatin1String("--listen")) {
        if (!address.setAddress(arguments[1])) {
            std::fprintf(stderr, "%s: --listen: '%s' is not an IP address\n", qPrintable(name),
                         qPrintable(arguments[1]));
            return 2;
        }
        arguments.remove(0, 2);
    }
    if (arguments.isEmpty() || arguments.size() > 2 || arguments[0].startsWith('-')) {
        usage(name);
        return 2;
    }
    if (!QFileInfo(arguments[0]).isDir()) {
        std::fprintf(stderr, "%s: %s is not a folder\n", qPrintable(name),
                     qPrintable(arguments[0]));
        return 2;
    }
    bool portOk = true;
    const quint16 port = arguments.size() == 2 ? arguments[1].toUShort(&portOk) : 0;
    net::LocalHttpServer server;
    server.serveFolder(arguments[0]);
    if (!portOk || !server.listen(port, address)) {
        std::fprintf(stderr, "%s: cannot listen on %s:%s\n", qPrintable(name),
                     qPrintable(address.toString()), qPrintable(arguments.value(1, "0")));
        return 1;
    }
    std::printf("%s\n", qPrintable(server.baseUrl()));
    std::fflush(stdout);
    return app.exec();
}
