#pragma once
// The updater's side of a program's instance channel: asks the running
// program to close and waits for its answer. Plain sockets (a named pipe on
// Windows), so the updater needs no network library.

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "updater/update_run.h"

namespace updater {

struct CloseRequest {
    std::string name;               // the program's instance name, e.g. "color"
    std::filesystem::path folder;   // the user's private folder
    std::filesystem::path program;  // the executable to close; empty: whichever answers
    std::chrono::milliseconds timeout{1000};
};

// Asks the running instance to close. `timeout` bounds the connection and the
// wait for the first answer; once the instance says it is asking its user,
// `userAsked` is called and the answer is awaited for as long as the instance
// lives. A listener that is not this user's is not asked (Other). Blocking:
// call it off the thread that runs that instance.
CloseResult requestClose(const CloseRequest& request, const std::function<void()>& userAsked = {});

}  // namespace updater
