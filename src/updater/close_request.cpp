#include "updater/close_request.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "common/file_save.h"
#include "common/instance_protocol.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace updater {
namespace {

using Clock = std::chrono::steady_clock;

#ifdef _WIN32

// A named pipe QLocalServer listens on; its access rights admit the user only.
class Connection {
  public:
    ~Connection() {
        if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
    }
    bool open(const std::string& name, std::chrono::milliseconds timeout) {
        const std::u8string utf8(name.begin(), name.end());
        const std::wstring path = L"\\\\.\\pipe\\" + std::filesystem::path(utf8).wstring();
        for (int attempt = 0; attempt < 2; ++attempt) {
            pipe_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
            if (pipe_ != INVALID_HANDLE_VALUE) return true;
            if (GetLastError() != ERROR_PIPE_BUSY ||
                !WaitNamedPipeW(path.c_str(), static_cast<DWORD>(timeout.count())))
                return false;
        }
        return false;
    }
    bool peerIsThisUser() const { return true; }  // the pipe's access rights are the check
    bool send(std::string_view bytes) {
        DWORD written = 0;
        return WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) &&
               written == bytes.size();
    }
    // Whatever has arrived, once something has; false when the wait ran out
    // or the other end has gone.
    bool receive(std::string& into, std::optional<Clock::time_point> deadline) {
        for (;;) {
            DWORD available = 0;
            if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr)) return false;
            if (available > 0) {
                std::string chunk(available, '\0');
                DWORD read = 0;
                if (!ReadFile(pipe_, chunk.data(), available, &read, nullptr) || read == 0)
                    return false;
                into.append(chunk.data(), read);
                return true;
            }
            if (deadline && Clock::now() >= *deadline) return false;
            Sleep(10);  // a synchronous pipe has no wait with a deadline
        }
    }

  private:
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

#else

// The time left until `deadline`, or none: wait for as long as it takes.
std::optional<std::chrono::milliseconds> leftUntil(std::optional<Clock::time_point> deadline) {
    if (!deadline) return std::nullopt;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

class Connection {
  public:
    ~Connection() {
        if (socket_ >= 0) ::close(socket_);
    }
    bool open(const std::string& path, std::chrono::milliseconds) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) return false;
        std::memcpy(address.sun_path, path.data(), path.size());
        socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (socket_ < 0) return false;
        // A local connection is taken or refused at once.
        return ::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    // Whoever listens must be this user: another one's program is not asked to close.
    bool peerIsThisUser() const {
#ifdef __linux__
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(socket_, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
        return peer.uid == geteuid();
#else
        return true;  // elsewhere the private folder's access rights are the check
#endif
    }
    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR) continue;
            if (sent <= 0) return false;
            bytes.remove_prefix(static_cast<size_t>(sent));
        }
        return true;
    }
    bool receive(std::string& into, std::optional<Clock::time_point> deadline) {
        for (;;) {
            pollfd waiting{socket_, POLLIN, 0};
            const auto left = leftUntil(deadline);
            const int ready = ::poll(&waiting, 1, left ? static_cast<int>(left->count()) : -1);
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return false;
            char chunk[256];
            const ssize_t got = ::recv(socket_, chunk, sizeof chunk, 0);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            into.append(chunk, static_cast<size_t>(got));
            return true;
        }
    }

  private:
    int socket_ = -1;
};

#endif

// The next line without its '\n'; none when the wait ran out or the other end went.
std::optional<std::string> nextLine(Connection& connection, std::string& buffer,
                                    std::optional<Clock::time_point> deadline) {
    for (;;) {
        if (const size_t end = buffer.find('\n'); end != std::string::npos) {
            std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            return line;
        }
        if (!connection.receive(buffer, deadline)) return std::nullopt;
    }
}

}  // namespace

CloseResult requestClose(const CloseRequest& request, const std::function<void()>& userAsked) {
    Connection connection;
    if (!connection.open(common::instanceSocketName(request.name, request.folder), request.timeout))
        return {};
    if (!connection.peerIsThisUser()) return {CloseAnswer::Other, "另一个用户的程序"};
    std::string line(common::kCloseRequest);
    if (!request.program.empty()) line += ' ' + common::displayPath(request.program);
    if (!connection.send(line + '\n')) return {};
    std::string buffer;
    bool asked = false;
    for (;;) {
        // Once the user is being asked, the answer may take as long as they do.
        const std::optional<Clock::time_point> deadline =
            asked ? std::nullopt : std::optional(Clock::now() + request.timeout);
        const std::optional<std::string> answer = nextLine(connection, buffer, deadline);
        // An instance that went away while its user was asked has closed.
        if (!answer) return {asked ? CloseAnswer::Closing : CloseAnswer::NoInstance, {}};
        if (*answer == common::kClosingAnswer) return {CloseAnswer::Closing, {}};
        if (*answer == common::kKeptAnswer) return {CloseAnswer::Kept, {}};
        if (answer->starts_with(common::kOtherAnswer))
            return {CloseAnswer::Other, answer->substr(common::kOtherAnswer.size())};
        if (*answer == common::kAskingAnswer && !asked) {
            asked = true;
            if (userAsked) userAsked();
        }
    }
}

}  // namespace updater
