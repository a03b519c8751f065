// Where each user's own runtime files go, and what another user may plant there.
#include "common/user_folders.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>

#include "support/test_folder.h"

namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
// While it lives, the variables that choose the folder are this test's:
// no lock folder, the runtime folder and the temporary folder given.
struct Environment {
    explicit Environment(const fs::path& runtime, const fs::path& temp) {
        save("UFCS_LOCK_DIR");
        save("XDG_RUNTIME_DIR");
        save("TMPDIR");
        unsetenv("UFCS_LOCK_DIR");
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("TMPDIR", temp.c_str(), 1);
    }
    ~Environment() {
        for (const auto& [name, value] : saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    void save(const std::string& name) {
        const char* value = std::getenv(name.c_str());
        saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

// The private folder is the runtime folder when that is the user's alone, else
// ufcs-UID in the temporary folder, made 0700; anything planted is refused.
TEST(UserFolders, APrivateFolderIsTheUsersAloneOrNone) {
    testing_support::TestFolder folder{"user_folders_test"};
    const fs::path runtime = folder.path() / "runtime";
    const fs::path temp = folder.path() / "tmp";
    fs::create_directories(runtime);
    fs::create_directories(temp);
    fs::permissions(runtime, fs::perms::owner_all);
    const Environment environment(runtime, temp);
    std::string problem;
    EXPECT_EQ(common::privateRuntimeFolder(problem), runtime) << problem;

    // A runtime folder others may enter is passed over.
    fs::permissions(runtime, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const fs::path own = temp / ("ufcs-" + std::to_string(geteuid()));
    EXPECT_EQ(common::privateRuntimeFolder(problem), own) << problem;
    struct stat made {};
    ASSERT_EQ(lstat(own.c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0700u);

    // What another user could have put there first.
    struct Case {
        const char* what;
        std::function<void()> plant;
        const char* problem;
    };
    const Case cases[] = {
        {"open to others",
         [&] {
             fs::create_directory(own);
             fs::permissions(own, fs::perms::all);
         },
         "其他用户也可以进入"},
        {"a link",
         [&] {
             fs::create_directories(folder.path() / "elsewhere");
             fs::create_directory_symlink(folder.path() / "elsewhere", own);
         },
         "不是文件夹（或是一个链接）"},
        {"another user's",
         [&] {
             fs::create_directory(own);
             fs::permissions(own, fs::perms::owner_all);
             if (geteuid() == 0) {
                 EXPECT_EQ(chown(own.c_str(), 65534, 65534), 0);
             }
         },
         "属于另一个用户"},
    };
    for (const Case& c : cases) {
        if (std::string(c.what) == "another user's" && geteuid() != 0) continue;
        fs::remove_all(own);
        c.plant();
        problem.clear();
        EXPECT_FALSE(common::privateRuntimeFolder(problem)) << c.what;
        EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
    }
}
#endif

TEST(UserFolders, TheLockFolderVariableChoosesBoth) {
    const testing_support::IsolatedLocks locks;
    const fs::path chosen = fs::path(locks.lockPath()).parent_path();
    std::string problem;
    EXPECT_EQ(common::privateRuntimeFolder(problem), chosen);
    EXPECT_EQ(common::sharedLockFolder(), chosen);
}

}  // namespace
