// Wireshark with the shipped ufcs.lua agrees with the suite: tshark reads
// the exported pcapng of each test capture, and every record's fields, field
// tree, warnings and sequence findings are compared with `ufcs rows --json`,
// `ufcs decode --json` and `ufcs check --json` of the same capture.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "cli/cli.h"
#include "support/test_folder.h"
#include "ufcs/capture_file.h"
#include "ufcs/capture_store.h"
#include "ufcs/names.h"
#include "ufcs/record_builder.h"
#include "ufcs/wire_format.h"

namespace {

using namespace ufcs;
using Wire = std::vector<uint8_t>;
namespace cc = control_command;
namespace dc = data_command;

constexpr auto kDPlus = static_cast<uint8_t>(EventKind::MessageDPlus);
constexpr auto kDMinus = static_cast<uint8_t>(EventKind::MessageDMinus);

// One record of a test capture: its kind, bus bytes, time and baud code.
struct Entry {
    uint8_t kind;
    Wire wire;
    double ms;
    uint8_t baud = kBaud115200;
};

// ---- the captures ----------------------------------------------------------

Wire control(DeviceAddress to, uint8_t number, uint8_t command) {
    return encodeControlMessage(to, number, command);
}
Wire data(DeviceAddress to, uint8_t number, uint8_t command, const Wire& body) {
    return encodeDataMessage(to, number, command, body);
}
Wire vendor(DeviceAddress to, uint8_t number, uint16_t id, const Wire& body) {
    return encodeVendorMessage(to, number, id, body);
}
Wire withBadCrc(Wire wire) {
    wire.back() ^= 0x5A;
    return wire;
}
Wire cutShort(Wire wire, std::size_t drop) {
    wire.resize(wire.size() - drop);
    return wire;
}
Wire withExtraByte(Wire wire) {
    wire.push_back(0x11);
    return wire;
}
// A header by hand: receiver address, message number, type, then the rest.
Wire raw(uint8_t address, uint8_t type, Wire rest) {
    Wire wire(3 + rest.size());
    wire[0] = kTrainingByte;
    wire[1] = headerByte0(address, 3);
    wire[2] = headerByte1(kProtocolVersion1, type);
    std::copy(rest.begin(), rest.end(), wire.begin() + 3);
    return wire;
}

// Every message the decoder knows, each way it can be malformed, and every event.
std::vector<Entry> everyMessage() {
    constexpr auto kSource = DeviceAddress::Source, kSink = DeviceAddress::Sink,
                   kCable = DeviceAddress::Cable;
    std::vector<Wire> messages;
    for (uint8_t command = 0; command <= 0x10; ++command)
        messages.push_back(control(command % 2 ? kSink : kSource, command % 16, command));
    const Wire modes = {0x10, 0x02, 0x26, 0x01, 0x54, 0x01, 0x2C, 0x0A, 0x20, 0x0B, 0x4C, 0x01,
                        0xF4, 0x02, 0x58, 0x0A, 0x30, 0x08, 0x34, 0x01, 0xF4, 0x01, 0x45, 0x0A};
    messages.push_back(data(kSink, 1, dc::kOutputCapabilities, modes));
    messages.push_back(
        data(kSink, 2, dc::kOutputCapabilities,
             {0x2C, 0x02, 0x26, 0x01, 0x54, 0x01, 0x2C, 0x0A}));  // numbered 2, step 6
    messages.push_back(data(kSource, 3, dc::kRequest, {0x20, 0, 0, 0, 0x03, 0x84, 0x01, 0x2C}));
    messages.push_back(data(kSource, 4, dc::kRequest, {0x90, 0, 0, 0, 0x01, 0xF4, 0x00, 0x64}));
    messages.push_back(data(kSink, 5, dc::kSourceInformation, {0, 0, 75, 80, 0x03, 0x84, 0, 200}));
    messages.push_back(data(kSource, 5, dc::kSourceInformation, {0, 0, 40, 30, 0x01, 0xF4, 0, 0}));
    messages.push_back(data(kSource, 6, dc::kSinkInformation, {0, 0, 70, 65, 0x01, 0x90, 1, 0}));
    messages.push_back(data(kSink, 6, dc::kSinkInformation, {0, 0, 10, 20, 0x01, 0x90, 1, 0}));
    messages.push_back(data(kSource, 7, dc::kCableInformation, {0, 0, 0, 0, 0x00, 0x96, 20, 5}));
    messages.push_back(data(kSource, 8, dc::kDeviceInformation, {0, 0, 0, 0, 0x01, 0x02, 0x03, 4}));
    messages.push_back(data(kSource, 9, dc::kErrorInformation, {0, 0, 0x65, 0x9A}));
    messages.push_back(data(kSink, 10, dc::kConfigWatchdog, {0x03, 0xE8}));
    messages.push_back(data(kSource, 11, dc::kRefuse, {0x05, 0x01, 0x02, 0x04}));
    messages.push_back(data(kSource, 12, dc::kRefuse, {0x06, 0x00, 0x0B, 0x03}));
    messages.push_back(data(kSource, 13, dc::kRefuse, {0x07, 0x02, 0x40, 0x09}));
    messages.push_back(data(kSource, 14, dc::kRefuse, {0x07, 0x05, 0x30, 0x01}));
    messages.push_back(data(kSource, 15, dc::kRefuse, {0x07, 0x00, 0x21, 0x01}));
    messages.push_back(data(kSource, 0, dc::kRefuse, {0x07, 0x01, 0x00, 0x01}));
    Wire random(17);
    for (std::size_t i = 0; i < random.size(); ++i)
        random[i] = static_cast<uint8_t>(i * 7 + 3);
    messages.push_back(data(kSource, 1, dc::kVerifyRequest, random));
    Wire response(48);
    for (std::size_t i = 0; i < response.size(); ++i)
        response[i] = static_cast<uint8_t>(255 - i * 5);
    messages.push_back(data(kSink, 1, dc::kVerifyResponse, response));
    messages.push_back(data(kSink, 2, dc::kPowerChange, {0x10, 0x01, 0x2C, 0x20, 0x00, 0xC8}));
    messages.push_back(data(kSink, 3, dc::kPowerChange, {0x30, 0x01, 0x2C}));
    messages.push_back(data(kSink, 4, dc::kTestRequest, {0xD1, 0x02}));
    messages.push_back(data(kSink, 5, dc::kTestRequest, {}));
    messages.push_back(data(kSink, 6, 0x20, {1, 2, 3}));
    messages.push_back(data(kSink, 7, 0x00, {}));
    messages.push_back(vendor(kSink, 8, 0x12AB, {0xDE, 0xAD, 0xBE, 0xEF}));
    messages.push_back(vendor(kCable, 9, 0x0001, {}));
    // Malformed: lengths, CRCs, addresses, types.
    messages.push_back(data(kSource, 3, dc::kRequest, {0x20, 0, 0x03, 0x84}));
    messages.push_back(cutShort(data(kSink, 1, dc::kOutputCapabilities, modes), 9));
    messages.push_back(withExtraByte(data(kSink, 2, dc::kDeviceInformation, Wire(8, 1))));
    messages.push_back(cutShort(control(kSink, 3, cc::kPing), 1));
    messages.push_back(withExtraByte(control(kSink, 4, cc::kAccept)));
    messages.push_back(withBadCrc(control(kSink, 5, cc::kPowerReady)));
    messages.push_back(withBadCrc(data(kSource, 6, dc::kRequest, {0x10, 0, 0, 0, 1, 0xF4, 0, 1})));
    messages.push_back(withBadCrc(vendor(kSink, 7, 0x0102, {1, 2})));
    messages.push_back(cutShort(vendor(kSink, 8, 0x0102, {1, 2, 3}), 2));
    messages.push_back(withExtraByte(vendor(kSink, 9, 0x0102, {1})));
    messages.push_back(raw(0, kTypeControl, {cc::kPing, 0x00}));
    messages.push_back(raw(4, kTypeControl, {cc::kPing, 0x00}));
    messages.push_back(raw(2, 3, {0x01, 0x02}));
    messages.push_back(raw(1, 7, {}));

    std::vector<Entry> entries;
    double ms = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        // Alternate the lines by who is spoken to, with a message on the wrong line now and then.
        const bool toSink = messages[i].size() > 1 && (messages[i][1] >> 5) == 2;
        uint8_t kind = toSink ? kDPlus : kDMinus;
        if (i % 13 == 5) kind = toSink ? kDMinus : kDPlus;
        if (i % 17 == 8)
            kind = static_cast<uint8_t>(i % 2 ? EventKind::Message : EventKind::MessageUnchecked);
        entries.push_back({kind, messages[i], ms += 7.4});
    }
    const uint8_t bauds[] = {kBaud57600, kBaud38400, kBaud19200, 0x55};
    for (std::size_t i = 0; i < 4; ++i)
        entries.push_back(
            {kDMinus, control(kSource, static_cast<uint8_t>(i), cc::kPing), ms += 9, bauds[i]});
    for (uint8_t kind : {0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0x16, 0x17, 0x40})
        entries.push_back({kind, {}, ms += 3.2});
    return entries;
}

// A phone and a charger, with every slip the sequence check knows.
std::vector<Entry> everySequenceFault() {
    constexpr auto kToSource = DeviceAddress::Source, kToSink = DeviceAddress::Sink;
    auto sink = [](uint8_t number, uint8_t command, double ms) {
        return Entry{kDMinus, control(kToSource, number, command), ms};
    };
    auto source = [](uint8_t number, uint8_t command, double ms) {
        return Entry{kDPlus, control(kToSink, number, command), ms};
    };
    return {
        sink(0, cc::kPing, 0),
        source(0, cc::kAck, 1),  // in order
        sink(1, cc::kPing, 10),
        source(5, cc::kPing, 13),  // no ACK before speaking
        source(7, cc::kAck, 30),   // an ACK that answers nothing
        sink(2, cc::kPing, 40),
        source(2, cc::kAck, 41),
        sink(2, cc::kPing, 50),
        source(2, cc::kAck, 51),  // sent again
        sink(5, cc::kPing, 60),
        source(5, cc::kAck, 61),  // numbers 3 and 4 lost
        sink(6, cc::kGetDeviceInfo, 100),
        source(6, cc::kAck, 101),  // never answered
        {kDMinus, data(kToSource, 7, dc::kRequest, {0x10, 0, 0, 0, 0x03, 0x84, 0x01, 0x2C}), 300},
        source(7, cc::kAck, 301),
        source(8, cc::kAccept, 304),
        sink(8, cc::kAck, 306),
        source(9, cc::kPowerReady, 600),
        sink(9, cc::kAck, 601),  // Power_Ready late
        sink(10, cc::kPing, 700),
        source(10, cc::kAck, 701),
        sink(11, cc::kPing, 701.4),
        source(11, cc::kAck, 702.6),  // the phone too soon
    };
}

std::unique_ptr<CaptureStore> storeOf(const std::vector<Entry>& entries) {
    auto store = CaptureStore::create();
    test::TestRecord header;
    CaptureHeaderRecord{}.writeTo(header.view());
    header.bytes[2] = static_cast<uint8_t>(EventKind::CaptureHeader);
    std::copy(header.bytes.begin(), header.bytes.end(), store->recordBytes(0));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        test::TestRecord record =
            test::makeRecord(entries[i].kind, entries[i].wire, entries[i].baud,
                             static_cast<uint16_t>(5000 + i * 37));
        record.view().setCurrent(static_cast<uint16_t>(100 + i * 11));
        const auto ticks = static_cast<uint64_t>(entries[i].ms * 5 + 0.5) + 500;
        record.setTime(static_cast<uint16_t>(ticks / 50000), static_cast<uint16_t>(ticks % 50000));
        std::copy(record.bytes.begin(), record.bytes.end(),
                  store->recordBytes(static_cast<uint32_t>(i + 1)));
    }
    store->setCount(static_cast<uint32_t>(entries.size() + 1));
    return store;
}

// ---- what the suite says ---------------------------------------------------

std::string run(const std::vector<std::string>& line) {
    std::ostringstream out, err;
    EXPECT_EQ(cli::runCli(line, out, err), 0) << line[0] << ": " << err.str();
    return out.str();
}

QJsonArray jsonArray(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).array();
}

std::string text(const QJsonValue& value) {
    return value.toString().toStdString();
}

// A decoder's text as Wireshark shows it: without the line ends around it.
std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && (text[start] == '\n' || text[start] == '\r'))
        ++start;
    return text.substr(start);
}

// ---- what Wireshark says ---------------------------------------------------

struct Node {
    std::string name, showname, show, value;
    std::vector<Node> children;

    const Node* child(const std::string& wanted) const {
        for (const Node& node : children)
            if (node.name == wanted) return &node;
        return nullptr;
    }
    std::string showOf(const std::string& wanted) const {
        const Node* node = child(wanted);
        return node ? node->show : std::string("(none)");
    }
};

Node readNode(QXmlStreamReader& xml) {
    Node node;
    const QXmlStreamAttributes attributes = xml.attributes();
    node.name = attributes.value("name").toString().toStdString();
    node.showname = attributes.value("showname").toString().toStdString();
    node.show = attributes.value("show").toString().toStdString();
    node.value = attributes.value("value").toString().toStdString();
    while (xml.readNextStartElement())
        node.children.push_back(readNode(xml));
    return node;
}

// The packets of tshark's PDML: each <packet>'s protocols by name.
std::vector<std::map<std::string, Node>> readPdml(const QByteArray& pdml) {
    std::vector<std::map<std::string, Node>> packets;
    QXmlStreamReader xml(pdml);
    while (xml.readNextStartElement()) {
        if (xml.name() == u"pdml") continue;
        if (xml.name() != u"packet") {
            xml.skipCurrentElement();
            continue;
        }
        std::map<std::string, Node> protocols;
        while (xml.readNextStartElement()) {
            Node proto = readNode(xml);
            std::string name = proto.name;
            while (protocols.count(name))  // "fake-field-wrapper" comes more than once
                name += '+';
            protocols[name] = std::move(proto);
        }
        packets.push_back(std::move(protocols));
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return packets;
}

// What a shell command prints, run with a home of its own so that no user's
// Wireshark settings or plugins take part.
QByteArray shellOutput(const testing_support::TestFolder& folder, const std::string& command) {
    const std::string out = (folder.path() / "shell.out").string();
    const std::string err = (folder.path() / "shell.err").string();
    const std::string line =
        "HOME='" + folder.path().string() + "' " + command + " > '" + out + "' 2> '" + err + "'";
    EXPECT_EQ(std::system(line.c_str()), 0) << line;
    QFile file(QString::fromStdString(out));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

std::string tshark(const std::string& pcapng, const std::string& options) {
    return std::string("tshark -n -X lua_script:'") + UFCS_LUA_DISSECTOR + "' -r '" + pcapng +
           "' " + options;
}

QByteArray tsharkPdml(const testing_support::TestFolder& folder, const std::string& pcapng) {
    return shellOutput(folder, tshark(pcapng, "-T pdml"));
}

// ---- the comparison ---------------------------------------------------------

bool hasLuaError(const Node& node) {
    if (node.name == "_ws.lua.error" || node.show.rfind("Lua Error", 0) == 0) return true;
    for (const Node& child : node.children)
        if (hasLuaError(child)) return true;
    return false;
}

bool isDecodeItem(const Node& node) {
    // Wireshark's own items (_ws.expert, _ws.malformed) are not the decoder's.
    return node.name != "ufcs.record" && node.name != "ufcs.analysis" &&
           node.name.rfind("_ws.", 0) != 0;
}

void expectSameTree(const QJsonArray& decoder, const std::vector<const Node*>& shown,
                    const std::string& where) {
    ASSERT_EQ(static_cast<std::size_t>(decoder.size()), shown.size()) << where;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const QJsonObject item = decoder[static_cast<int>(i)].toObject();
        const std::string path = where + " / " + trimmed(text(item["text"]));
        EXPECT_EQ(shown[i]->showname, trimmed(text(item["text"]))) << where;
        std::vector<const Node*> children;
        for (const Node& child : shown[i]->children)
            if (isDecodeItem(child)) children.push_back(&child);
        expectSameTree(item["children"].toArray(), children, path);
    }
}

void expectSameNumber(const Node* shown, const QJsonValue& expected, const std::string& what) {
    if (expected.isNull() || expected.isUndefined()) {
        EXPECT_EQ(shown, nullptr) << what;
        return;
    }
    ASSERT_NE(shown, nullptr) << what;
    // check --json gives six significant digits; the file carries the whole double.
    const double value = std::stod(shown->show);
    EXPECT_NEAR(value, expected.toDouble(), std::abs(expected.toDouble()) * 5e-6 + 1e-9) << what;
}

// The sequence findings tshark shows on a record, against check --json's.
void expectSameFindings(const Node& ufcsTree, const std::vector<QJsonObject>& expected,
                        const std::string& where) {
    std::vector<const Node*> shown;
    if (const Node* analysis = ufcsTree.child("ufcs.analysis"))
        for (const Node& note : analysis->children)
            if (note.child("ufcs.analysis.finding")) shown.push_back(&note);
    ASSERT_EQ(shown.size(), expected.size()) << where;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const Node& note = *shown[i];
        const QJsonObject& finding = expected[i];
        EXPECT_EQ(note.showOf("ufcs.analysis.finding"), text(finding["kind"])) << where;
        EXPECT_EQ(note.showOf("ufcs.analysis.text"), text(finding["text"])) << where;
        expectSameNumber(note.child("ufcs.analysis.delay_us"), finding["delay_us"], where);
        if (finding.contains("limit")) {
            EXPECT_EQ(note.showOf("ufcs.analysis.limit"), text(finding["limit"])) << where;
            EXPECT_EQ(note.showOf("ufcs.analysis.clause"), text(finding["clause"])) << where;
        } else {
            EXPECT_EQ(note.child("ufcs.analysis.limit"), nullptr) << where;
        }
        const QJsonObject measured = finding["measured"].toObject();
        expectSameNumber(note.child("ufcs.analysis.measured"),
                         finding["measured"].isObject() ? measured["value"] : QJsonValue(), where);
        if (finding["measured"].isObject()) {
            expectSameNumber(note.child("ufcs.analysis.low"), measured["low"], where);
            expectSameNumber(note.child("ufcs.analysis.high"), measured["high"], where);
            EXPECT_EQ(note.showOf("ufcs.analysis.unit"), text(measured["unit"])) << where;
        }
    }
}

struct Agreement {
    std::size_t records = 0, warnings = 0, findings = 0;
    std::set<std::string> findingKinds;
};

// Frame `frame` of tshark's PDML against row `frame` of the list, its decode and its findings.
void expectRecordAgrees(const std::map<std::string, Node>& protocols, std::size_t frame,
                        const QJsonObject& row, const std::string& capture,
                        const std::vector<QJsonObject>& findings, Agreement& seen) {
    const auto index = static_cast<uint32_t>(row["index"].toInt());
    const std::string where = "record " + std::to_string(index);
    ASSERT_TRUE(protocols.count("ufcs")) << where;
    const Node& tree = protocols.at("ufcs");
    for (const auto& [name, proto] : protocols)
        EXPECT_FALSE(hasLuaError(proto)) << where << " in " << name;
    const Node& frameTree = protocols.at("frame");
    EXPECT_EQ(frameTree.showOf("frame.number"), std::to_string(frame)) << where;
    EXPECT_EQ(index, frame);
    EXPECT_EQ(tree.showOf("ufcs.index"), std::to_string(index)) << where;
    const double epoch = std::stod(frameTree.showOf("frame.time_epoch"));
    EXPECT_EQ(std::llround(epoch * 1e6), row["time_us"].toInteger()) << where;

    // The list's columns and numbers.
    const Node* record = tree.child("ufcs.record");
    ASSERT_NE(record, nullptr) << where;
    EXPECT_EQ(record->showOf("ufcs.type"), text(row["type"])) << where;
    EXPECT_EQ(record->showOf("ufcs.receiver_name"), text(row["receiver"])) << where;
    EXPECT_EQ(record->showOf("ufcs.message"), text(row["message"])) << where;
    EXPECT_EQ(record->showOf("ufcs.summary"), text(row["summary"])) << where;
    EXPECT_EQ(record->showOf("ufcs.bus.mv"), std::to_string(row["voltage_mv"].toInt()));
    EXPECT_EQ(record->showOf("ufcs.bus.ma"), std::to_string(row["current_ma"].toInt()));
    if (text(row["baud"]).empty())
        EXPECT_EQ(record->child("ufcs.baud"), nullptr) << where;
    else
        EXPECT_EQ(record->showOf("ufcs.baud"), text(row["baud"])) << where;
    std::string bytes;
    for (char c : text(row["bytes"]))
        if (c != ' ') bytes += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const Node* wire = record->child("ufcs.wire");
    EXPECT_EQ(wire ? wire->value : std::string(), bytes) << where;

    // The field tree and the warnings, as `ufcs decode` gives them.
    const QJsonObject decoded =
        QJsonDocument::fromJson(
            QByteArray::fromStdString(run({"decode", "--json", capture, std::to_string(index)})))
            .object();
    std::vector<const Node*> items;
    for (const Node& child : tree.children)
        if (isDecodeItem(child)) items.push_back(&child);
    QJsonArray expectedTree = decoded["tree"].toArray();
    if (expectedTree.isEmpty())  // an event: tshark names the record only
        expectedTree.append(QJsonObject{{"text", QString("序号：%1 ").arg(index)}});
    expectSameTree(expectedTree, items, where);
    std::vector<std::string> experts;
    for (const Node& child : tree.children)
        if (child.name == "_ws.expert") experts.push_back(child.showOf("_ws.expert.message"));
    const QJsonArray warnings = decoded["warnings"].toArray();
    ASSERT_EQ(experts.size(), static_cast<std::size_t>(warnings.size())) << where;
    for (int i = 0; i < warnings.size(); ++i)
        EXPECT_EQ(experts[static_cast<std::size_t>(i)],
                  trimmed(text(warnings[i].toObject()["text"])))
            << where;
    seen.warnings += experts.size();

    expectSameFindings(tree, findings, where);
    ++seen.records;
}

// Exports `capture` and compares every record tshark shows with the suite's commands.
Agreement expectWiresharkAgrees(const testing_support::TestFolder& folder,
                                const std::string& capture) {
    Agreement seen;
    const std::string pcapng = (folder.path() / "capture.pcapng").string();
    run({"export-pcapng", capture, "-o", pcapng});
    const QJsonArray rows = jsonArray(run({"rows", "--json", capture}));
    std::map<uint32_t, std::vector<QJsonObject>> findings;
    for (const QJsonValue& finding : jsonArray(run({"check", "--json", capture}))) {
        const QJsonObject object = finding.toObject();
        findings[static_cast<uint32_t>(object["index"].toInt())].push_back(object);
        seen.findingKinds.insert(text(object["kind"]));
        ++seen.findings;
    }
    const std::vector<std::map<std::string, Node>> packets = readPdml(tsharkPdml(folder, pcapng));
    EXPECT_EQ(packets.size() + 1, static_cast<std::size_t>(rows.size()));
    for (std::size_t frame = 1; frame <= packets.size(); ++frame) {
        const QJsonObject row = rows[static_cast<int>(frame)].toObject();
        expectRecordAgrees(packets[frame - 1], frame, row, capture,
                           findings[static_cast<uint32_t>(row["index"].toInt())], seen);
    }
    return seen;
}

std::string savedCapture(const testing_support::TestFolder& folder, const std::string& name,
                         const std::vector<Entry>& entries) {
    const std::string path = (folder.path() / name).string();
    EXPECT_TRUE(SaveCapture(*storeOf(entries), path).ok);
    return path;
}

TEST(Wireshark, AgreesOnEveryFieldOfEveryMessageType) {
    testing_support::TestFolder folder("wireshark_test");
    const std::vector<Entry> entries = everyMessage();
    const Agreement seen =
        expectWiresharkAgrees(folder, savedCapture(folder, "every.ufcs_stream", entries));
    EXPECT_EQ(seen.records, entries.size());
    EXPECT_GT(seen.warnings, 30u);  // the malformed messages were told
}

TEST(Wireshark, AgreesOnEverySequenceFinding) {
    testing_support::TestFolder folder("wireshark_test");
    const std::vector<Entry> entries = everySequenceFault();
    const Agreement seen =
        expectWiresharkAgrees(folder, savedCapture(folder, "faults.ufcs_stream", entries));
    EXPECT_EQ(seen.records, entries.size());
    for (const char* kind : {"no_ack", "ack_mismatch", "retransmission", "lost_message",
                             "no_answer", "late", "too_soon"})
        EXPECT_TRUE(seen.findingKinds.count(kind)) << kind << " is not in the capture";
}

// A logic analyzer's recording of the same bus, with flawed lines: the line
// findings carry what was measured and its bounds.
TEST(Wireshark, AgreesOnWhatALogicRecordingsLinesShow) {
    testing_support::TestFolder folder("wireshark_test");
    const std::string capture = savedCapture(folder, "faults.ufcs_stream", everySequenceFault());
    std::set<std::string> kinds;
    for (const std::vector<std::string>& flaw :
         {std::vector<std::string>{"--baud-error", "12"}, {"--drift", "8"}}) {
        const std::string recording = (folder.path() / (flaw[0].substr(2) + ".sr")).string();
        std::vector<std::string> line = {"export-logic", capture, "-o", recording};
        line.insert(line.end(), flaw.begin(), flaw.end());
        run(line);
        const Agreement seen = expectWiresharkAgrees(folder, recording);
        EXPECT_EQ(seen.records, everySequenceFault().size()) << flaw[0];
        kinds.insert(seen.findingKinds.begin(), seen.findingKinds.end());
    }
    for (const char* kind :
         {"baud_out_of_range", "baud_drift", "framing_error", "short_packet_idle"})
        EXPECT_TRUE(kinds.count(kind)) << kind << " is not in the recordings";
}

// The decoder's tree of one record as the harness prints it: four spaces a
// level under "UFCS", the warnings after it as expert info.
std::vector<std::string> expectedLines(const QJsonObject& decoded, uint32_t index) {
    std::vector<std::string> lines;
    const std::function<void(const QJsonArray&, int)> flatten = [&](const QJsonArray& items,
                                                                    int depth) {
        for (const QJsonValue& item : items) {
            lines.push_back(std::string(4 * depth, ' ') + trimmed(text(item.toObject()["text"])));
            flatten(item.toObject()["children"].toArray(), depth + 1);
        }
    };
    flatten(decoded["tree"].toArray(), 1);
    if (lines.empty()) lines.push_back("    序号：" + std::to_string(index) + " ");
    for (const QJsonValue& warning : decoded["warnings"].toArray())
        lines.push_back("    [Expert Info: " + trimmed(text(warning.toObject()["text"])) + "]");
    return lines;
}

// Windows users run a newer Wireshark, on Lua 5.4: the dissector must give the
// same trees and Info column there as tshark 4.0 gives on Lua 5.2.
TEST(Wireshark, TheDissectorGivesTheSameTreesUnderLua54) {
#ifndef UFCS_LUA54
    GTEST_SKIP() << "lua5.4 is not installed";
#else
    testing_support::TestFolder folder("wireshark_test");
    const std::string capture = savedCapture(folder, "every.ufcs_stream", everyMessage());
    const std::string pcapng = (folder.path() / "every.pcapng").string();
    run({"export-pcapng", capture, "-o", pcapng});
    std::vector<std::string> infos;
    std::string payloads;
    std::istringstream fields(
        shellOutput(folder,
                    tshark(pcapng, "-T fields -e exported_pdu.exported_pdu -e _ws.col.Info"))
            .toStdString());
    for (std::string line; std::getline(fields, line);) {
        const std::size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        payloads += line.substr(0, tab) + '\n';
        infos.push_back(line.substr(tab + 1));
    }
    ASSERT_EQ(infos.size(), everyMessage().size());
    {
        std::ofstream file(folder.path() / "payloads.hex");
        file << payloads;
    }
    std::istringstream printed(
        shellOutput(folder, std::string(UFCS_LUA54) + " '" + UFCS_LUA54_HARNESS + "' '" +
                                UFCS_LUA_DISSECTOR + "' '" +
                                (folder.path() / "payloads.hex").string() + "'")
            .toStdString());
    std::vector<std::string> lines;
    for (std::string line; std::getline(printed, line);)
        lines.push_back(line);

    std::size_t at = 0;
    for (uint32_t index = 1; index <= infos.size(); ++index) {
        const std::string where = "record " + std::to_string(index);
        ASSERT_LT(at, lines.size()) << where;
        ASSERT_EQ(lines[at++], "UFCS") << where;
        std::vector<std::string> tree;
        while (at < lines.size() && lines[at] != "    记录" && lines[at].rfind("INFO: ", 0) != 0)
            tree.push_back(lines[at++]);
        const QJsonObject decoded =
            QJsonDocument::fromJson(QByteArray::fromStdString(
                                        run({"decode", "--json", capture, std::to_string(index)})))
                .object();
        EXPECT_EQ(tree, expectedLines(decoded, index)) << where;
        while (at < lines.size() && lines[at].rfind("INFO: ", 0) != 0) {
            EXPECT_EQ(lines[at].rfind("LUA ERROR", 0), std::string::npos) << lines[at];
            ++at;
        }
        ASSERT_LT(at, lines.size()) << where;
        EXPECT_EQ(lines[at++], "INFO: " + infos[index - 1]) << where;
    }
    EXPECT_EQ(at, lines.size());
#endif
}

}  // namespace
