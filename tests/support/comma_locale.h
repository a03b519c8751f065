#pragma once
// While it lives, the process runs in a locale whose decimal separator is a
// comma, as a German or French user's does: every number the suite writes
// or reads must keep its point.

#include <clocale>
#include <string>

namespace testing_support {

class CommaLocale {
  public:
    CommaLocale() {
        if (const char* now = std::setlocale(LC_ALL, nullptr)) previous_ = now;
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8",
                                 "ru_RU.UTF-8", "German_Germany.1252", "de-DE"}) {
            if (std::setlocale(LC_ALL, name) && std::localeconv()->decimal_point[0] == ',') {
                active_ = true;
                return;
            }
        }
        restore();
    }
    ~CommaLocale() { restore(); }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    bool active() const { return active_; }
    static constexpr const char* kMissing =
        "no locale with a decimal comma here (scripts/deps makes de_DE.UTF-8)";

  private:
    void restore() {
        std::setlocale(LC_ALL, previous_.empty() ? "C" : previous_.c_str());
        active_ = false;
    }
    std::string previous_;
    bool active_ = false;
};

}  // namespace testing_support
