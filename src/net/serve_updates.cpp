// serve_updates FOLDER [PORT]: serves a folder on 127.0.0.1 as a stand-in
// update server for the upgrade demonstration. Prints its address, then runs
// until it is stopped.
#include <QCoreApplication>
#include <cstdio>

#include "net/local_http_server.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2 || arguments.size() > 3) {
        std::fputs("usage: serve_updates FOLDER [PORT]\n", stderr);
        return 2;
    }
    bool portOk = true;
    const quint16 port = arguments.size() == 3 ? arguments[2].toUShort(&portOk) : 0;
    net::LocalHttpServer server;
    server.serveFolder(arguments[1]);
    if (!portOk || !server.listen(port)) {
        std::fprintf(stderr, "serve_updates: cannot listen on 127.0.0.1:%s\n",
                     qPrintable(arguments.value(2, "0")));
        return 1;
    }
    std::printf("%s\n", qPrintable(server.baseUrl()));
    std::fflush(stdout);
    return app.exec();
}
