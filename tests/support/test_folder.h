#pragma once
// Test isolation: a folder of the test's own under the system's temporary
// folder (removed with it), and the instrument lock files moved into one, so
// tests run in parallel and beside a running program without meeting.

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace testing_support {

class TestFolder {
  public:
    explicit TestFolder(std::string_view prefix = "ufcs-test") {
        static std::atomic<unsigned> serial{0};
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = base / (std::string(prefix) + "-" + std::to_string(random()) + "-" +
                            std::to_string(serial++));
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    ~TestFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(std::string_view name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// While it lives, the environment variable `name` points at a folder of this
// object's own (also for the programs the test starts).
class FolderVariable {
  public:
    FolderVariable(const char* name, std::string_view prefix) : name_(name), folder_(prefix) {
        if (const char* old = std::getenv(name_)) previous_ = old;
        setVariable(folder_.path().string().c_str());
    }
    ~FolderVariable() { setVariable(previous_ ? previous_->c_str() : nullptr); }
    FolderVariable(const FolderVariable&) = delete;
    FolderVariable& operator=(const FolderVariable&) = delete;
    const std::filesystem::path& path() const { return folder_.path(); }

  private:
    // Nothing unsets the variable.
    void setVariable(const char* value) {
#ifdef _WIN32
        _putenv_s(name_, value ? value : "");
#else
        if (value)
            setenv(name_, value, 1);
        else
            unsetenv(name_);
#endif
    }
    const char* name_;
    TestFolder folder_;
    std::optional<std::string> previous_;
};

// UFCS_LOCK_DIR in a folder of its own, so the simulated instrument this
// process opens is not the one another test or program holds.
class IsolatedLocks {
  public:
    std::string lockPath(std::string_view name = "instrument.lock") const {
        return (locks_.path() / name).string();
    }

  private:
    FolderVariable locks_{"UFCS_LOCK_DIR", "ufcs-locks"};
};

// The user's data folder (where unsaved data falls back to) in a folder of its own.
class IsolatedDataFolder {
  public:
    std::filesystem::path fallbackFolder() const { return data_.path() / "ufcs-suite" / "unsaved"; }

  private:
#ifdef _WIN32
    FolderVariable data_{"LOCALAPPDATA", "ufcs-data"};
#else
    FolderVariable data_{"XDG_DATA_HOME", "ufcs-data"};
#endif
};

}  // namespace testing_support
