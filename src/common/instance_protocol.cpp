#include "common/instance_protocol.h"

#include <cstdlib>

namespace common {

std::string instanceSocketName(std::string_view name, const std::filesystem::path& folder) {
#ifdef _WIN32
    (void)folder;  // a pipe of the user's own: its name says whose
    const wchar_t* user = _wgetenv(L"USERNAME");
    const std::u8string userName = std::filesystem::path(user ? user : L"").u8string();
    return "ufcs-instance-" + std::string(userName.begin(), userName.end()) + '-' +
           std::string(name);
#else
    const std::u8string path = (folder / (std::string(name) + ".socket")).u8string();
    return std::string(path.begin(), path.end());
#endif
}

}  // namespace common
