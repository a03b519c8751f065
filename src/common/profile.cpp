#include "common/profile.h"

namespace common {

int MemoryProfile::readInt(const std::string& section, const std::string& key, int fallback) const {
    auto it = ints_.find({section, key});
    return it == ints_.end() ? fallback : it->second;
}

void MemoryProfile::writeInt(const std::string& section, const std::string& key, int value) {
    ints_[{section, key}] = value;
}

std::string MemoryProfile::readString(const std::string& section, const std::string& key,
                                      const std::string& fallback) const {
    auto it = strings_.find({section, key});
    return it == strings_.end() ? fallback : it->second;
}

void MemoryProfile::writeString(const std::string& section, const std::string& key,
                                const std::string& value) {
    strings_[{section, key}] = value;
}

}  // namespace common
