#pragma once

#include <iosfwd>
#include <string>

#include "ufcs/list_row.h"

namespace cli {

// Line breaks as the analyzer's pane shows them ("\r\n" and lone "\r" become "\n").
std::string screenText(const std::string& text);
// "#RRGGBB" of a stored 0x00BBGGRR colour.
std::string colourText(uint32_t colour);
// One list row as `ufcs rows` prints it: the index, columns 1-7 and the colour, TAB-separated.
void printRowTabbed(const ufcs::ListRow& row, std::ostream& out);

}  // namespace cli
