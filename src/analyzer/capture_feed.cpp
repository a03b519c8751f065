#include "analyzer/capture_feed.h"

namespace analyzer {

CaptureFeed::CaptureFeed(ufcs::CaptureStore& store, const ufcs::CaptureHeaderRecord& header)
    : intake_(store, *this), dispatcher_(store, intake_, *this) {
    intake_.setRefuseAck(header.refuseAck);
    intake_.setRefusePing(header.refusePing);
    intake_.setCurrentCalibrated(!header.currentUncalibrated);
    header.writeTo(store.record(0));
    store.setCount(1);
    dispatcher_.resetForCapture();
    feedReport(instrument::statusReply(instrument::kStatusListening));
}

}  // namespace analyzer
