#pragma once
// `ufcs plot FILE -o OUT.png|OUT.svg`: a recording's waveform or a capture's
// packet curve as a picture, drawn by the windows' own views offscreen. It
// needs a QApplication (the program makes one for this command) and lives
// outside the Qt-free command library: `ufcs` hands it to runCli.

#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

int runPlot(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace cli
