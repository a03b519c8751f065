#pragma once
// The four groups of check boxes behind the list header's filter buttons, and
// which records pass them.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "ufcs/capture_record.h"

namespace ufcs {

struct ListFilter {
    // Message type popup: control, data, vendor-defined.
    std::array<bool, 3> types{true, true, true};
    // Receiver popup: source (0x20), sink (0x40), cable (0x60).
    std::array<bool, 3> receivers{true, true, true};
    // Message popup.
    std::array<bool, 16> controlCommands;  // by command 0x00-0x0F
    std::array<bool, 14>
        dataCommands;  // by the row of DataMessageNames (1-12, 13 = 0xFF); 0 unused
    bool vendorMessages = true;
    std::array<bool, 4> resets{true, true, true,
                               true};  // kinds 0xF4-0xF7: "D+设备" "D-设备" "D+线缆" "D-线缆"
    // Handshakes by kind 0xF0-0xF3: "供电设备" (D+), "供电设备应答", "充电设备" (D-),
    // "充电设备应答".
    std::array<bool, 4> handshakes{true, true, true, true};
    // Baud-rate popup: 115200, 57600, 38400, 19200.
    std::array<bool, 4> bauds{true, true, true, true};
    // Only the records first-last (a range chosen on the packet curve); the capture's
    // header row stays.
    struct RecordRange {
        uint32_t first = 0, last = 0;
        bool operator==(const RecordRange&) const = default;
    };
    std::optional<RecordRange> records;

    ListFilter();

    // Records are checked as they arrive and again when the list is rebuilt;
    // the two differ only for receivers above the cable's 0x60.
    enum class Pass { Intake, Rebuild };

    bool passes(ConstCaptureRecord record, Pass pass) const;
    // Whether record `index` lies in the chosen range (or no range is chosen).
    bool inRange(uint32_t index) const {
        return !records || index == 0 || (index >= records->first && index <= records->last);
    }
    // Every box of the four popups ticked (a record range aside).
    bool allTicked() const;
    // Nothing hidden at all: every box ticked and no range.
    bool showsEverything() const { return allTicked() && !records; }
    bool typesAllTicked() const;
    bool receiversAllTicked() const;
    bool messagesAllTicked() const;
    bool baudsAllTicked() const;
    // Ticks or clears every box of the message popup ("全选" / "全不选").
    void setAllMessages(bool ticked);

    bool operator==(const ListFilter&) const = default;
};

// What the filters hide, for the status line: "过滤：消息、波特、序号 12-80"; empty when
// nothing is.
std::string filterStatusText(const ListFilter& filter);

}  // namespace ufcs
