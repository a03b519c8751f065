#pragma once
// Session files of logic-analyzer programs, which are zip archives: sigrok's
// `.sr` (PulseView, sigrok-cli) and DSView's `.dsl`. Read through libzip, one chunk of samples
// at a time, so a recording of any length costs only its edges.

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/file_save.h"
#include "logic/logic_recording.h"

namespace logic {

// Whether this build reads archives (a build without libzip tells the user so).
bool readsArchives();

// The logic probes of device 1 become the channels, named as the session
// names them; the analog channels become millisecond means.
LogicLoad readSigrokSession(const std::filesystem::path& path, const ReadProgress& progress = {});
LogicLoad readSigrokSession(const uint8_t* data, std::size_t size, const std::string& name);

// The probes the header names (probeK = NAME), each from its blocks L-K/0, L-K/1, ...
LogicLoad readDsViewSession(const std::filesystem::path& path, const ReadProgress& progress = {});
LogicLoad readDsViewSession(const uint8_t* data, std::size_t size, const std::string& name);

// Writes `recording` (at most 8 lines) as a sigrok session PulseView opens:
// `version`, `metadata` and the samples in members of 4 MiB, a byte a sample.
// The samples are made from the edges while the archive is compressed, so
// only the compressed archive is ever held whole.
common::FileResult writeSigrokSession(const std::filesystem::path& path,
                                      const LogicRecording& recording);

}  // namespace logic
