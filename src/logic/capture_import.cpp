#include "logic/capture_import.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <fstream>
#include <istream>
#include <streambuf>

#include "common/byte_order.h"
#include "common/file_save.h"
#include "logic/line_decoder.h"
#include "logic/line_findings.h"
#include "logic/line_signals.h"
#include "logic/session_archives.h"
#include "logic/text_readers.h"
#include "ufcs/capture_record.h"

namespace logic {
namespace {

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// "D+", "DP", "D_P", "USB D+", "D+ (source)": the name's last word that says which line.
bool named(const std::string& name, bool plus) {
    static const std::vector<std::string> kPlus = {"D+", "DP", "D_P", "DPLUS"};
    static const std::vector<std::string> kMinus = {"D-", "DM", "D_M", "DMINUS", "DN", "D_N"};
    const std::string text = upper(name);
    for (const std::string& word : plus ? kPlus : kMinus) {
        const std::size_t at = text.find(word);
        if (at == std::string::npos) continue;
        const std::size_t end = at + word.size();
        const bool alone =
            (at == 0 || !std::isalnum(static_cast<unsigned char>(text[at - 1]))) &&
            (end == text.size() || !std::isalnum(static_cast<unsigned char>(text[end])));
        if (alone) return true;
    }
    return false;
}

// "VBUS", "V", "Voltage", "VBUS (V)" for the bus voltage; "IBUS", "I", "Current" for the
// current: the name's first word.
bool namedAnalog(const std::string& name, bool voltage) {
    static const std::vector<std::string> kVoltage = {"VBUS", "V", "U", "VOLTAGE", "VOLT"};
    static const std::vector<std::string> kCurrent = {"IBUS", "I", "CURRENT", "AMP"};
    std::string first = upper(name);
    const std::size_t end = first.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_");
    if (end != std::string::npos) first.resize(end);
    for (const std::string& word : voltage ? kVoltage : kCurrent)
        if (first == word) return true;
    return false;
}

LineNames lineNames(const LogicRecording& recording) {
    LineNames names;
    for (const DigitalChannel& line : recording.channels)
        names.digital.push_back(line.name);
    for (const AnalogChannel& line : recording.analog)
        names.analog.push_back(line.name);
    return names;
}

// Whether the names say which lines are D+ and D-, and, when there are analog lines,
// which is the bus voltage or current.
bool linesSayTheirRoles(const LogicRecording& recording) {
    bool plus = false, minus = false, bus = recording.analog.empty();
    for (const DigitalChannel& line : recording.channels) {
        plus = plus || named(line.name, true);
        minus = minus || named(line.name, false);
    }
    for (const AnalogChannel& line : recording.analog)
        bus = bus || namedAnalog(line.name, true) || namedAnalog(line.name, false);
    return plus && minus && bus;
}

// A file's bytes as they are read, counted for the read's progress; a read
// asked to stop comes to an end.
class TalliedBuffer : public std::streambuf {
  public:
    TalliedBuffer(std::streambuf& from, ReadTally& tally) : from_(from), tally_(tally) {}

  protected:
    int_type underflow() override {
        if (tally_.stopped()) return traits_type::eof();
        const std::streamsize got = from_.sgetn(buffer_.data(), buffer_.size());
        if (got <= 0 || !tally_.add(static_cast<uint64_t>(got))) return traits_type::eof();
        setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
        return traits_type::to_int_type(buffer_[0]);
    }

  private:
    std::streambuf& from_;
    ReadTally& tally_;
    std::array<char, 64 * 1024> buffer_{};
};

uint8_t baudCode(double baud) {
    const double nominal = nominalBaud(baud);
    return nominal == 115200  ? ufcs::kBaud115200
           : nominal == 57600 ? ufcs::kBaud57600
           : nominal == 38400 ? ufcs::kBaud38400
                              : ufcs::kBaud19200;
}

// A packet or a signal on one of the two lines, to be a record.
struct Found {
    uint64_t sample;
    bool dplus;
    const LinePacket* packet;
    const LineSignal* signal;
};

uint8_t signalKind(SignalKind kind, bool dplus) {
    using ufcs::EventKind;
    EventKind event = EventKind::HandshakeDPlus;
    switch (kind) {
        case SignalKind::Handshake:
            event = dplus ? EventKind::HandshakeDPlus : EventKind::HandshakeDMinus;
            break;
        case SignalKind::Answer:
            event = dplus ? EventKind::HandshakeSourceAnswer : EventKind::HandshakeSinkReply;
            break;
        case SignalKind::DeviceReset:
            event = dplus ? EventKind::ResetSinkDPlus : EventKind::ResetSourceDMinus;
            break;
        case SignalKind::CableReset:
            event = dplus ? EventKind::ResetCableDPlus : EventKind::ResetCableDMinus;
            break;
        case SignalKind::Undecoded:
            event = dplus ? EventKind::DecodeErrorDPlus : EventKind::DecodeErrorDMinus;
            break;
    }
    return static_cast<uint8_t>(event);
}

// One line's packets and signals.
struct LineContent {
    std::vector<LinePacket> packets;
    std::vector<LineSignal> signals;
};

LineContent readLine(const LogicRecording& recording, std::size_t channel) {
    LineContent content;
    const DigitalChannel& line = recording.channels[channel];
    content.packets = decodeLine(line, recording.sampleRate);
    content.signals =
        findLineSignals(line, recording.sampleRate, recording.sampleCount, content.packets);
    return content;
}

void gather(const LineContent& content, bool dplus, std::vector<Found>& found) {
    for (const LinePacket& packet : content.packets)
        found.push_back({packet.firstEdge, dplus, &packet, nullptr});
    for (const LineSignal& signal : content.signals)
        found.push_back({signal.sample, dplus, nullptr, &signal});
}

// The bus voltage (mV) and current (mA) at a record's moment, from the analog lines chosen.
void writeBus(const LogicRecording& recording, const LineRoles& roles, double seconds,
              uint8_t* bytes) {
    auto milli = [&](std::optional<std::size_t> line, double scale) -> uint16_t {
        if (!line || *line >= recording.analog.size()) return 0;
        const std::optional<double> value = recording.analog[*line].valueAt(seconds);
        if (!value) return 0;
        return static_cast<uint16_t>(std::clamp(*value * scale * 1000, 0.0, 65535.0) + 0.5);
    };
    common::writeLe16(bytes + 10, milli(roles.vbus, roles.vbusScale));
    common::writeLe16(bytes + 12, milli(roles.ibus, roles.ibusScale));
}

}  // namespace

std::optional<LineRoles> chooseLineRoles(const LogicRecording& recording,
                                         std::optional<std::size_t> dplus,
                                         std::optional<std::size_t> dminus) {
    const std::size_t lines = recording.channels.size();
    LineRoles roles;
    std::optional<std::size_t> plus = dplus, minus = dminus;
    for (std::size_t i = 0; i < lines; ++i) {
        if (!plus && named(recording.channels[i].name, true)) plus = i;
        if (!minus && named(recording.channels[i].name, false)) minus = i;
    }
    roles.dplus = plus.value_or(minus == std::size_t{0} ? 1 : 0);
    roles.dminus = minus.value_or(roles.dplus == 1 ? 0 : 1);
    if (roles.dplus >= lines || roles.dminus >= lines || roles.dplus == roles.dminus)
        return std::nullopt;
    for (std::size_t k = 0; k < recording.analog.size(); ++k) {
        if (!roles.vbus && namedAnalog(recording.analog[k].name, true)) roles.vbus = k;
        if (!roles.ibus && namedAnalog(recording.analog[k].name, false)) roles.ibus = k;
    }
    return roles;
}

CaptureImport importRecording(const LogicRecording& recording, const LineRoles& roles,
                              ufcs::CaptureStore& store) {
    const LineContent dplus = readLine(recording, roles.dplus);
    const LineContent dminus = readLine(recording, roles.dminus);
    std::vector<Found> found;
    gather(dplus, true, found);
    gather(dminus, false, found);
    std::stable_sort(found.begin(), found.end(),
                     [](const Found& a, const Found& b) { return a.sample < b.sample; });

    store.setCount(0);
    std::fill_n(store.recordBytes(0), ufcs::kRecordSize, uint8_t{0});
    ufcs::CaptureHeaderRecord{}.writeTo(store.record(0));
    uint32_t count = 1;
    CaptureImport result;
    result.ok = true;
    const LinePacket* lastPacket[2] = {nullptr, nullptr};  // D-, D+
    for (const Found& each : found) {
        if (count == ufcs::CaptureStore::kCapacity) {
            result.message = "记录已满：只导入了前 65535 条";
            break;
        }
        uint8_t* bytes = store.recordBytes(count);
        std::fill_n(bytes, ufcs::kRecordSize, uint8_t{0});
        bytes[0] = ufcs::kFirstPageMarker;
        bytes[1] = 1;
        // The time stamp: 0.2 ms ticks, in periods of 10 s. A nanosecond's rounding in the
        // file (times written as decimal seconds) must not move an edge to the tick before.
        const auto ticks =
            static_cast<uint64_t>(std::floor(recording.secondsAt(each.sample) * 5000 + 5e-6));
        common::writeLe16(bytes + 4, static_cast<uint16_t>(ticks / 50'000));
        common::writeLe16(bytes + 6, static_cast<uint16_t>(ticks % 50'000));
        writeBus(recording, roles, recording.secondsAt(each.sample), bytes);
        if (each.packet) {
            const LinePacket& packet = *each.packet;
            bytes[2] = static_cast<uint8_t>(each.dplus ? ufcs::EventKind::MessageDPlus
                                                       : ufcs::EventKind::MessageDMinus);
            bytes[3] = baudCode(packet.baud);
            const std::size_t length = std::min(packet.bytes.size(), ufcs::kMaxCapturedBytes);
            common::writeLe16(bytes + 8, static_cast<uint16_t>(length));
            std::copy_n(packet.bytes.begin(), length, bytes + ufcs::kWireOffset);
            const std::vector<ufcs::SequenceNote> findings =
                packetFindings(packet, lastPacket[each.dplus], recording.sampleRate, count);
            result.findings.insert(result.findings.end(), findings.begin(), findings.end());
            lastPacket[each.dplus] = &packet;
            ++result.packets;
        } else {
            bytes[2] = signalKind(each.signal->kind, each.dplus);
            bytes[3] = ufcs::kBaud115200;
            if (each.signal->kind == SignalKind::Handshake) {
                const std::vector<ufcs::SequenceNote> findings =
                    handshakeFindings(*each.signal, recording.sampleRate, count);
                result.findings.insert(result.findings.end(), findings.begin(), findings.end());
            }
            ++result.lineSignals;
        }
        ++count;
    }
    store.setCount(count);
    return result;
}

namespace {

// The analog lines `request` names, into `roles`; a name not among the recording's
// analog lines is told with those that are.
std::optional<std::string> takeAnalogLines(const LogicRecording& recording,
                                           const LineRequest& request, LineRoles& roles) {
    for (const auto& [wanted, line] :
         {std::pair{&request.vbus, &roles.vbus}, std::pair{&request.ibus, &roles.ibus}}) {
        if (wanted->empty()) continue;
        std::string present;
        line->reset();
        for (std::size_t k = 0; k < recording.analog.size(); ++k) {
            if (recording.analog[k].name == *wanted) *line = k;
            present += (present.empty() ? "" : "、") + recording.analog[k].name;
        }
        if (!*line)
            return "没有名为 " + *wanted + " 的模拟通道" +
                   (present.empty() ? "（文件中没有模拟通道）" : "（有：" + present + "）");
    }
    roles.vbusScale = request.vbusScale;
    roles.ibusScale = request.ibusScale;
    return std::nullopt;
}

bool validRoles(const LogicRecording& recording, const LineRoles& roles) {
    const std::size_t lines = recording.channels.size(), analog = recording.analog.size();
    return roles.dplus < lines && roles.dminus < lines && roles.dplus != roles.dminus &&
           (!roles.vbus || *roles.vbus < analog) && (!roles.ibus || *roles.ibus < analog) &&
           roles.vbusScale > 0 && roles.ibusScale > 0;
}

}  // namespace

CaptureImport importLoaded(const LogicRecording& recording, const std::string& fileName,
                           ufcs::CaptureStore& store, const LineRequest& request,
                           const LineChooser& choose) {
    CaptureImport refused;
    const std::string cannot = "无法使用 " + fileName + "：";
    std::optional<LineRoles> roles = chooseLineRoles(recording, request.dplus, request.dminus);
    if (roles) {
        if (const std::optional<std::string> wrong = takeAnalogLines(recording, request, *roles)) {
            refused.message = cannot + *wrong;
            return refused;
        }
    }
    if (roles && choose && !linesSayTheirRoles(recording)) {
        roles = choose(lineNames(recording), *roles);
        if (!roles) return refused;  // cancelled: nothing to tell
        if (!validRoles(recording, *roles)) roles.reset();
    }
    if (!roles) {
        refused.message = cannot + "没有两条不同的线可作 D+ 和 D-";
        refused.noLines = true;
        return refused;
    }
    return importRecording(recording, *roles, store);
}

CaptureImport importLogicFile(const std::filesystem::path& path, ufcs::CaptureStore& store,
                              const LineRequest& request, const LineChooser& choose) {
    const LogicLoad load = readLogicFile(path);
    if (!load.recording) {
        CaptureImport refused;
        refused.message = load.message;
        return refused;
    }
    return importLoaded(*load.recording, common::displayPath(path.filename()), store, request,
                        choose);
}

bool isLogicFile(const std::filesystem::path& path) {
    const std::string extension = upper(path.extension().string());
    return extension == ".VCD" || extension == ".CSV" || extension == ".SR" || extension == ".DSL";
}

LogicLoad readLogicFile(const std::filesystem::path& path, const ReadProgress& progress) {
    const std::string name = common::displayPath(path.filename());
    if (upper(path.extension().string()) == ".SR") return readSigrokSession(path, progress);
    if (upper(path.extension().string()) == ".DSL") return readDsViewSession(path, progress);
    std::ifstream file(path, std::ios::binary);
    if (!file) return {std::nullopt, "无法打开 " + common::displayPath(path)};
    std::error_code unknown;
    const std::uintmax_t size = std::filesystem::file_size(path, unknown);
    ReadTally tally(progress, unknown ? 0 : size);
    TalliedBuffer counted(*file.rdbuf(), tally);
    std::istream in(&counted);
    LogicLoad load = upper(path.extension().string()) == ".VCD" ? readVcd(in, name)
                                                                : readTransitionCsv(in, name);
    if (tally.stopped()) return {std::nullopt, {}, true};
    return load;
}

}  // namespace logic
