#pragma once
// Qt's own texts (file dialogs, the overwrite question, standard buttons) in
// Simplified Chinese, like the rest of the programs, and numbers that keep
// their decimal point whatever the user's locale.

class QCoreApplication;

namespace qt_adapters {

// Loads Qt's Chinese translations from Qt's translations folder (or a
// "translations" folder beside the program); false when none was found, and
// Qt's texts stay English.
bool installChineseTranslations(QCoreApplication& app);

// Numbers formatted and read by the C library use a decimal point, whatever
// the user's locale (which QApplication has taken).
void keepNumbersInTheCLocale();

}  // namespace qt_adapters
