#pragma once
// What every GUI program does before its window opens: the screen check, the
// `--simulate[=N]` and `--device` options, the instrument (real or simulated;
// asked for when several are attached), the settings file,
// and the instance channel through which another program may ask it to close.

#include <QApplication>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "device/hid_device.h"
#include "device/instrument_catalog.h"
#include "qt/program/instance_channel.h"
#include "qt/settings_profile.h"

namespace qt_adapters {

// What the command line asks of the instrument: real or `--simulate[=N]`, and
// `--device SERIAL|PATH` (empty: the first free one, or the user's choice
// when several are attached).
struct InstrumentRequest {
    bool simulated = false;
    unsigned simulatedCount = 1;
    std::string device;
};
// The instrument a program opens. Each program's main() passes its choice
// in, so the adapters know no simulator.
using InstrumentFactory =
    std::function<std::unique_ptr<device::ChoosingDevice>(const InstrumentRequest& request)>;

// An option of one program only, with a value ("--row N").
struct ProgramOption {
    QString name;  // without the dashes
    QString description;
    QString valueName;
};

struct ProgramIdentity {
    QString applicationName;   // as installed and shown, e.g. "TarselUFCS解析程序"
    QString settingsFileName;  // e.g. "color.ini"
    QString instanceName;      // names the instance lock and socket, e.g. "color"
    QString desktopId;         // its desktop entry and icon, e.g. "com.tarsel.UfcsAnalyzer"
    InstrumentFactory chooseInstrument;
    std::vector<ProgramOption> ownOptions;
};

struct StartedProgram {
    std::unique_ptr<device::ChoosingDevice> instrument;
    std::unique_ptr<SettingsProfile> profile;
    std::unique_ptr<InstanceChannel> instance;  // none when the user has no private folder
    QString file;  // a file given on the command line (a double-click in a file manager)
    std::map<QString, QString> options;  // the program's own options given, by name
};

// True when the program was started with `--check-display` only to see that
// the display opens: it has, since the QApplication exists, and the program ends.
bool onlyCheckingTheDisplay();

// Nothing when the program must not start; the user has then been told why.
std::optional<StartedProgram> startProgram(QApplication& app, const ProgramIdentity& identity);

// A GUI program's main(): answers --help and --version with `usage` (no
// display needed), opens the display, ends at once for --check-display,
// starts the program and hands it to `run`, which makes and shows the window
// and returns app.exec()'s result.
int runProgram(int argc, char** argv, const ProgramIdentity& identity, const char* usage,
               const std::function<int(QApplication&, StartedProgram&)>& run);

// The one message for memory the program cannot do without.
void showOutOfMemory();

}  // namespace qt_adapters
