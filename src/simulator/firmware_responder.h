#pragma once
// The simulated instrument taking a new firmware image: the header, the
// pages in order, each acknowledged, then a while of burning and the report
// that says it is done. Only a complete image whose length and byte sum
// match its header replaces the firmware; an unplug or a refused page leaves
// the old one. An image that begins with "SIMFW" carries its version in the
// next two bytes; any other image counts one version up.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "simulator/responder.h"

namespace simulator {

class FirmwareResponder final : public Responder {
  public:
    // `leaveCapture` stops whatever the instrument captures while it takes an image.
    FirmwareResponder(InstrumentSettings& settings, Outbox& outbox, common::Clock& clock,
                      std::function<void()> leaveCapture);

    bool takeFrame(const uint8_t* frame) override;
    void generateDue() override;
    std::optional<TimePoint> nextDue() const override;
    void unplugged() override;

    static bool isFirmwarePage(const uint8_t* frame, uint32_t& page);

  private:
    struct Header {
        uint32_t length = 0;
        uint32_t pages = 0;
        uint16_t byteSum = 0;
    };
    void takeHeader(const uint8_t* frame);
    void takePage(uint32_t page, const uint8_t* frame);
    void finishImage();
    void acknowledge(uint8_t status);
    void acknowledgeLater(uint8_t status);

    InstrumentSettings& settings_;
    Outbox& outbox_;
    std::function<void()> leaveCapture_;
    std::optional<Header> header_;
    std::vector<uint8_t> image_;
    uint32_t nextPage_ = 1;
    struct PendingAck {
        uint8_t status;
        TimePoint due;
    };
    std::optional<PendingAck> pendingAck_;  // a page being stored
    std::optional<TimePoint> burnedAt_;
    std::optional<uint16_t> burnedVersion_;  // nothing: the image was broken
};

}  // namespace simulator
