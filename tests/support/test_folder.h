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

// While it lives, UFCS_LOCK_DIR points at a folder of its own, so the simulated
// instrument this process opens is not the one another test or program holds.
class IsolatedLocks {
  public:
    IsolatedLocks() : folder_("ufcs-locks") {
        if (const char* old = std::getenv(kVariable)) previous_ = old;
        setVariable(folder_.path().string().c_str());
    }
    ~IsolatedLocks() { setVariable(previous_ ? previous_->c_str() : nullptr); }
    std::string lockPath(std::string_view name = "instrument.lock") const {
        return folder_.file(name);
    }

  private:
    static constexpr const char* kVariable = "UFCS_LOCK_DIR";
    // Nothing unsets the variable.
    static void setVariable(const char* value) {
#ifdef _WIN32
        _putenv_s(kVariable, value ? value : "");
#else
        if (value)
            setenv(kVariable, value, 1);
        else
            unsetenv(kVariable);
#endif
    }
    TestFolder folder_;
    std::optional<std::string> previous_;
};

}  // namespace testing_support
