#include "simulator/firmware_responder.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"
#include "instrument/firmware_frames.h"

namespace simulator {
namespace {

constexpr uint8_t kFirmwareCode = static_cast<uint8_t>(device::CommandCode::FirmwareBlock);
constexpr uint8_t kPageTaken = 3;  // any status but 0, 1 and 2 accepts a page
constexpr uint8_t kBurnFailed = 4;
constexpr auto kBurnTime = std::chrono::milliseconds(400);
constexpr std::string_view kVersionMark = "SIMFW";

uint32_t readBe32(const uint8_t* at) {
    return uint32_t{common::readBe16(at)} << 16 | common::readBe16(at + 2);
}

}  // namespace

FirmwareResponder::FirmwareResponder(InstrumentSettings& settings, Outbox& outbox,
                                     common::Clock& clock, std::function<void()> leaveCapture)
    : Responder(clock),
      settings_(settings),
      outbox_(outbox),
      leaveCapture_(std::move(leaveCapture)) {}

bool FirmwareResponder::isFirmwarePage(const uint8_t* frame, uint32_t& page) {
    if (frame[2] != device::kFrameClassCommand || frame[8] != kFirmwareCode) return false;
    page = common::readBe16(frame + 5);
    return true;
}

bool FirmwareResponder::takeFrame(const uint8_t* frame) {
    uint32_t page = 0;
    if (!isFirmwarePage(frame, page)) return false;
    if (page == 0)
        takeHeader(frame);
    else
        takePage(page, frame);
    return true;
}

void FirmwareResponder::takeHeader(const uint8_t* frame) {
    leaveCapture_();
    outbox_.clear();
    burnedAt_.reset();
    header_ =
        Header{readBe32(frame + 9), common::readBe16(frame + 13), common::readBe16(frame + 15)};
    image_.clear();
    nextPage_ = 1;
    acknowledge(kPageTaken);
}

void FirmwareResponder::takePage(uint32_t page, const uint8_t* frame) {
    const bool refused = settings_.faults.refusePage == page;
    if (!header_ || page != nextPage_ || page > header_->pages || refused) {
        header_.reset();
        acknowledge(0);
        return;
    }
    const std::size_t count =
        std::min<std::size_t>(instrument::kFirmwarePageBytes, header_->length - image_.size());
    image_.insert(image_.end(), frame + 9, frame + 9 + count);
    ++nextPage_;
    if (page < header_->pages) {
        acknowledgeLater(kPageTaken);
        return;
    }
    acknowledgeLater(1);
    finishImage();
}

void FirmwareResponder::finishImage() {
    const bool whole =
        image_.size() == header_->length &&
        static_cast<uint16_t>(instrument::firmwareByteSum(image_)) == header_->byteSum;
    header_.reset();
    if (settings_.faults.silentBurn) return;
    burnedAt_ = now() + settings_.firmwarePageTime + kBurnTime;
    burnedVersion_.reset();
    if (!whole) return;
    const bool marked = image_.size() >= kVersionMark.size() + 2 &&
                        std::equal(kVersionMark.begin(), kVersionMark.end(), image_.begin());
    burnedVersion_ = marked ? common::readBe16(image_.data() + kVersionMark.size())
                            : static_cast<uint16_t>(settings_.firmwareVersion + 1);
}

std::optional<Responder::TimePoint> FirmwareResponder::nextDue() const {
    if (pendingAck_) return pendingAck_->due;
    return burnedAt_;
}

void FirmwareResponder::generateDue() {
    const TimePoint at = now();
    if (pendingAck_ && at >= pendingAck_->due) {
        acknowledge(pendingAck_->status);
        pendingAck_.reset();
    }
    if (!burnedAt_ || now() < *burnedAt_) return;
    burnedAt_.reset();
    if (!burnedVersion_) {
        acknowledge(kBurnFailed);
        return;
    }
    settings_.firmwareVersion = *burnedVersion_;
    acknowledge(2);
}

void FirmwareResponder::unplugged() {
    header_.reset();
    pendingAck_.reset();
    burnedAt_.reset();
    image_.clear();
}

void FirmwareResponder::acknowledgeLater(uint8_t status) {
    if (settings_.firmwarePageTime.count() <= 0) {
        acknowledge(status);
        return;
    }
    pendingAck_ = PendingAck{status, now() + settings_.firmwarePageTime};
}

void FirmwareResponder::acknowledge(uint8_t status) {
    outbox_.push_back(instrument::pageAcknowledgementReply(status));
}

}  // namespace simulator
