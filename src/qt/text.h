#pragma once
// The cores' UTF-8 texts as the windows show them.

#include <QString>
#include <string_view>

namespace qt_adapters {

inline QString fromStd(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace qt_adapters
