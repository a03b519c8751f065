#pragma once
// What the analyzer asks the instrument to send while it emulates a charging
// device: the UFCS-send frames of every entry of the send list, the requests
// of the output-modes panel, the checks of the send dialog's pages, and the
// lines of the send log. The instrument numbers the message and adds the
// Training byte and the CRC itself.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analyzer/output_modes.h"
#include "common/clock.h"
#include "device/frames.h"
#include "instrument/replies.h"

namespace analyzer {

// Positions in the send list, as the send dialog passes them.
enum SendPosition : int {
    kSendPing = 0,
    kSendSoftReset = 1,
    kSendGetOutputCapabilities = 2,
    kSendGetSourceInfo = 3,
    kSendGetSinkInfo = 4,
    kSendGetDeviceInfo = 5,
    kSendGetErrorInfo = 6,
    kSendDetectCableInfo = 7,
    kSendStartCableDetect = 8,
    kSendExitUfcsMode = 9,
    kSendRequest = 10,
    kSendConfigWatchdog = 11,
    kSendVerifyRequest = 12,
    kSendVerifyResponse = 13,
    kSendTestRequest = 14,
    kSendVendor = 15,
    kSendBaudRate = 16,
    kSendCustom = 17,
    kSendGetCableInfo = 18,
    kSendHardwareReset = 19,
    kSendFirstOutputMode = 20,  // 20-34: the output-modes panel's number buttons, modes 1-15
    kSendLastOutputMode = 34,
    kSendPendingRequest = 1000,  // the set-voltage dialog
};

// The values of the send dialog's pages, as the last successful check left them.
struct SendPages {
    int requestMode = 1;
    int requestMillivolts = 5000;
    int requestMilliamps = 1000;
    int watchdogMilliseconds = 1000;
    uint8_t keyIndex = 0;
    std::array<uint8_t, 16> verifyRandom{};
    std::array<uint8_t, 32> encrypted{};
    std::array<uint8_t, 16> responseRandom{};
    int testMode = 0;         // 0 off, 1 on
    int voltageAccuracy = 0;  // 0 off, 1 on
    int testMessageType = 0;  // 0 control, 1 data, 2 vendor-defined
    int testDevice = 0;       // 0 source, 1 sink, 2 cable e-marker
    int testCommand = 0;
    int vendorReceiver = 0;  // 0 source, 1 sink, 2 cable
    std::array<uint8_t, 2> vendorId{};
    std::vector<uint8_t> vendorData = {0};
    int baudRate = 115200;
    std::vector<uint8_t> customBytes = {0x00, 0x00, 0x00};
};

using Frame = device::CommandFrame;

// The frames one send writes, in order (several for a long vendor or custom
// message, with 10 ms between them). Nothing unless `mode` is 2.
std::vector<Frame> composeSend(int position, int mode, const SendPages& pages,
                               const instrument::OutputCapabilityTable& table,
                               const PendingOutputRequest& pending);

// The send log's entry for a send at `time`; empty for the panel's requests (20-34, 1000).
std::string sendLogEntry(int position, const SendPages& pages, bool written,
                         common::LocalTime time);

// A list of hexadecimal bytes: one or two digits each, separated by spaces.
// Nothing when the text breaks that form or the count lies outside [least, most].
std::optional<std::vector<uint8_t>> parseHexBytes(std::string_view text, std::size_t least,
                                                  std::size_t most);

// Checks one page's typed fields and, when they are all good, stores them in
// `pages`.
struct PageField {
    std::string name;  // "mode-number", "voltage", ... as the command line calls them
    std::string text;
};
// The first refused field of a page, and what to tell the user.
struct PageProblem {
    std::string field;  // as PageField names it
    std::string message;
};
std::optional<PageProblem> checkPage(int position, const std::vector<PageField>& fields,
                                     SendPages& pages);
// A Request the charger's output modes cannot grant: a mode number it does not have, or
// a voltage or current outside that mode's range. Nothing when the request fits.
std::optional<PageProblem> requestOutsideModes(const SendPages& pages,
                                               const instrument::OutputCapabilityTable& table);
// The names of the fields a send-list entry's page takes (none for most entries).
std::vector<std::string> pageFieldNames(int position);

}  // namespace analyzer
