#include "qt/settings_profile.h"

namespace qt_adapters {

QString SettingsProfile::path(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + '/' + QString::fromStdString(key);
}

int SettingsProfile::readInt(const std::string& section, const std::string& key,
                             int fallback) const {
    bool ok = false;
    const int value = settings_.value(path(section, key), fallback).toInt(&ok);
    return ok ? value : fallback;
}

void SettingsProfile::writeInt(const std::string& section, const std::string& key, int value) {
    settings_.setValue(path(section, key), value);
    settings_.sync();
}

std::string SettingsProfile::readString(const std::string& section, const std::string& key,
                                        const std::string& fallback) const {
    return settings_.value(path(section, key), QString::fromStdString(fallback))
        .toString()
        .toStdString();
}

void SettingsProfile::writeString(const std::string& section, const std::string& key,
                                  const std::string& value) {
    settings_.setValue(path(section, key), QString::fromStdString(value));
    settings_.sync();
}

}  // namespace qt_adapters
