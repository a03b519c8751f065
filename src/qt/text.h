#pragma once
// The cores' UTF-8 texts as the windows show them.

#include <QString>
#include <filesystem>
#include <string_view>

namespace qt_adapters {

inline QString fromStd(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A path the user chose, and a core's path as the windows show it.
inline std::filesystem::path pathOf(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}
inline QString fromPath(const std::filesystem::path& path) {
    return QString::fromStdU16String(path.u16string());
}

}  // namespace qt_adapters

namespace qt_adapters {

// A window's title with the instrument it uses, when it names one:
// "TITLE - SIM0002" (several instruments may be attached at once).
inline QString withInstrument(const QString& title, std::string_view instrumentName) {
    return instrumentName.empty() ? title : title + QStringLiteral(" - ") + fromStd(instrumentName);
}

}  // namespace qt_adapters
