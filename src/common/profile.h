#pragma once
// Program settings: integers and strings under named sections. The GUI
// programs back this with their own settings file; tests and the command
// line use MemoryProfile.

#include <map>
#include <string>
#include <utility>

namespace common {

class Profile {
  public:
    virtual ~Profile() = default;
    virtual int readInt(const std::string& section, const std::string& key, int fallback) const = 0;
    virtual void writeInt(const std::string& section, const std::string& key, int value) = 0;
    virtual std::string readString(const std::string& section, const std::string& key,
                                   const std::string& fallback) const = 0;
    virtual void writeString(const std::string& section, const std::string& key,
                             const std::string& value) = 0;
};

class MemoryProfile final : public Profile {
  public:
    int readInt(const std::string& section, const std::string& key, int fallback) const override;
    void writeInt(const std::string& section, const std::string& key, int value) override;
    std::string readString(const std::string& section, const std::string& key,
                           const std::string& fallback) const override;
    void writeString(const std::string& section, const std::string& key,
                     const std::string& value) override;

  private:
    using Key = std::pair<std::string, std::string>;
    std::map<Key, int> ints_;
    std::map<Key, std::string> strings_;
};

}  // namespace common
