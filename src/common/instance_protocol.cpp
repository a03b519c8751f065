#include "common/instance_protocol.h"

#include <cstdlib>

#include "common/file_save.h"

namespace common {

std::string instanceSocketName(std::string_view name, const std::filesystem::path& folder) {
#ifdef _WIN32
    (void)folder;  // a pipe of the user's own: its name says whose
    const wchar_t* user = _wgetenv(L"USERNAME");
    return "ufcs-instance-" + displayPath(std::filesystem::path(user ? user : L"")) + '-' +
           std::string(name);
#else
    return displayPath(folder / (std::string(name) + ".socket"));
#endif
}

}  // namespace common
