#pragma once
// Program settings in an INI file through QSettings, one file per program.

#include <QSettings>
#include <QString>

#include "common/profile.h"

namespace qt_adapters {

class SettingsProfile final : public common::Profile {
  public:
    explicit SettingsProfile(const QString& iniPath) : settings_(iniPath, QSettings::IniFormat) {}

    int readInt(const std::string& section, const std::string& key, int fallback) const override;
    void writeInt(const std::string& section, const std::string& key, int value) override;
    std::string readString(const std::string& section, const std::string& key,
                           const std::string& fallback) const override;
    void writeString(const std::string& section, const std::string& key,
                     const std::string& value) override;

  private:
    static QString path(const std::string& section, const std::string& key);
    mutable QSettings settings_;
};

}  // namespace qt_adapters
