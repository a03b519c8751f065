// Writes a small capture of simulated bus traffic, made through the analyzer's
// own capture path: make_sample_capture FILE [EVENTS] [SEED]
#include <cstdio>
#include <cstdlib>

#include "simulator/bus_traffic.h"
#include "simulator/capture_feed.h"
#include "ufcs/capture_file.h"
#include "ufcs/capture_list.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_sample_capture FILE [EVENTS] [SEED]\n");
        return 2;
    }
    const long events = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 300;
    const long seed = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 7;

    auto store = ufcs::CaptureStore::create();
    if (!store) {
        std::fprintf(stderr, "内存不足！无法运行！\n");
        return 1;
    }
    ufcs::CaptureHeaderRecord header;
    header.currentRangeMa = 6000;
    simulator::CaptureFeed feed(*store, header);
    simulator::BusTraffic traffic({static_cast<uint32_t>(seed), 0.03});
    for (long i = 0; i < events && !feed.storeFull(); ++i)
        feed.feed(traffic.next());

    ufcs::CaptureList list(*store);  // the rows mark the records as the analyzer's list does
    list.appendNew();
    const ufcs::FileResult saved = ufcs::SaveCapture(*store, argv[1]);
    if (!saved.ok) {
        std::fprintf(stderr, "%s\n", saved.message.c_str());
        return 1;
    }
    return 0;
}
