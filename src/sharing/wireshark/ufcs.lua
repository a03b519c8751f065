-- UFCS for Wireshark: the packets that `ufcs export-pcapng` (and the
-- analyzer's 导出 → pcapng) writes, one per capture record, each tagged for
-- the dissector named "ufcs".
--
-- The tree under "UFCS" is the analyzer's own: the same items with the same
-- texts as its field tree, the same warnings (as expert info), then
--   记录      the capture record: kind, baud rate, status, bus voltage and
--             current, the bytes, and the list's 类型/接收者/消息/简析;
--   时序分析  the sequence check's notes on this record (ufcs.analysis.*),
--             findings as expert warnings.
--
-- Install: copy this file into Wireshark's personal Lua plugin folder
--   Linux:   ~/.local/lib/wireshark/plugins/
--   Windows: %APPDATA%\Wireshark\plugins\
-- (Help → About Wireshark → Folders shows both), or start Wireshark with
-- -X lua_script:ufcs.lua. The Debian package installs it for every user.

local ufcs = Proto("ufcs", "UFCS")
-- Every Wireshark with Lua has LuaBitOp as `bit` (Lua 5.4 has no bit32); the
-- values here are small, so its signed results do not matter.
local bit = bit or bit32

local PAYLOAD_FORMAT = 2
local HEADER = 14 -- payload bytes before the bus bytes

local KIND_NAMES = {
    [0x00] = "消息", [0x01] = "D+ 消息", [0x02] = "D- 消息", [0x03] = "消息（未校验）",
    [0x16] = "D+ 解码错误", [0x17] = "D- 解码错误",
    [0xF0] = "D+ 握手", [0xF1] = "供电设备握手应答", [0xF2] = "D- 握手", [0xF3] = "充电设备握手应答",
    [0xF4] = "D+ 充电设备复位", [0xF5] = "D- 供电设备复位", [0xF6] = "D+ 线缆复位",
    [0xF7] = "D- 线缆复位",
}
local BAUD_RATES = { [0x73] = 115200, [0x39] = 57600, [0x26] = 38400, [0x13] = 19200 }

local MESSAGE_TYPES = { [0] = "控制", [1] = "数据", [2] = "自定义" }
local ADDRESSES = { [1] = "供电设备", [2] = "充电设备", [3] = "线缆" }
-- English and Chinese names, by command.
local CONTROL = {
    [0x00] = { "Ping", "Ping" }, [0x01] = { "ACK", "正常接收" }, [0x02] = { "NCK", "接收错误" },
    [0x03] = { "Accept", "接受请求" }, [0x04] = { "Soft_Reset", "软启动" },
    [0x05] = { "Power_Ready", "电压调整完毕" },
    [0x06] = { "Get_Output_Capabilities", "获取电源输出能力" },
    [0x07] = { "Get_Source_Info", "获取供电设备信息" },
    [0x08] = { "Get_Sink_Info", "获取充电设备信息" }, [0x09] = { "Get_Cable_Info", "获取电缆信息" },
    [0x0A] = { "Get_Device_Info", "获取设备信息" }, [0x0B] = { "Get_Error_Info", "获取异常信息" },
    [0x0C] = { "Detect_Cable_Info", "委托测试电缆信息" },
    [0x0D] = { "Start_Cable_Detect", "开始电缆测试" },
    [0x0E] = { "End_Cable_Detect", "电缆测试结束" }, [0x0F] = { "Exit_UFCS_Mode", "退出UFCS模式" },
}
local DATA = {
    [0x01] = { "Output_Capabilities", "列举供电设备输出模式" }, [0x02] = { "Request", "请求" },
    [0x03] = { "Source_Information", "供电设备信息" },
    [0x04] = { "Sink_Information", "充电设备信息" },
    [0x05] = { "Cable_Information", "电缆信息" }, [0x06] = { "Device_Information", "设备信息" },
    [0x07] = { "Error_Information", "错误信息" }, [0x08] = { "Config_Watchdog", "配置看门狗" },
    [0x09] = { "Refuse", "拒绝" }, [0x0A] = { "Verify_Request", "验证请求" },
    [0x0B] = { "Verify_Response", "验证响应" }, [0x0C] = { "Power_Change", "功率变化" },
    [0xFF] = { "Test_Request", "测试请求" },
}
local REFUSE_REASONS = {
    [0] = "", "无法识别的命令或数据", "不支持的命令或数据", "设备忙，暂无法响应",
    "请求的输出电压、电流或功率超出范围", "其它原因",
}
-- The events' 消息 and 简析 in the list.
local EVENTS = {
    [0xF0] = { "握手", "D+ 握手信号" }, [0xF1] = { "握手应答", "供电设备应答握手信号" },
    [0xF2] = { "握手", "D- 握手信号" }, [0xF3] = { "握手应答", "充电设备回复握手信号" },
    [0xF4] = { "复位信号", "D+发出充电设备硬件复位命令" },
    [0xF5] = { "复位信号", "D-发出供电设备硬件复位命令" },
    [0xF6] = { "复位信号", "D+发出线缆硬件复位命令" },
    [0xF7] = { "复位信号", "D-发出线缆硬件复位命令" },
    [0x16] = { "解码错误", "D+线 解码错误" }, [0x17] = { "解码错误", "D-线 解码错误" },
}
-- Error_Information: data byte, bit, name, what a set bit means.
local ERROR_FLAGS = {
    { 2, 6, "看门狗:%d", "  溢出" }, { 2, 5, "CRC:%d", "  错误" },
    { 2, 4, "输入掉电:%d", "  报错" }, { 2, 3, "漏电流:%d", "  超标" },
    { 2, 2, "输入UVP欠压保护:%d", "  触发" }, { 2, 1, "输入OVP过压保护:%d", "  触发" },
    { 2, 0, "D+OVP过压保护:%d", "  触发" }, { 3, 7, "D-OVP过压保护:%d", "  触发" },
    { 3, 6, "CCOVP过压保护:%d", "  触发" }, { 3, 5, "设备内部/电池OTP过温保护:%d", "  触发" },
    { 3, 4, "USB接口OTP过温保护:%d", "  触发" }, { 3, 3, "输出SCP短路保护:%d", "  触发" },
    { 3, 2, "输出OCP过流保护:%d", "  触发" }, { 3, 1, "输出UVP欠压保护:%d", "  触发" },
    { 3, 0, "输出OVP过压保护:%d", "  触发" },
}

local F = ufcs.fields
local function field(key, maker, name, ...)
    F[key] = maker("ufcs." .. key, name, ...)
    return F[key]
end
-- The record.
field("record", ProtoField.none, "记录")
field("format", ProtoField.uint8, "格式")
field("kind", ProtoField.uint8, "类别", base.HEX, KIND_NAMES)
field("baud_code", ProtoField.uint8, "波特率代码", base.HEX)
field("baud", ProtoField.uint32, "波特")
field("status", ProtoField.uint8, "状态", base.HEX)
field("bus.mv", ProtoField.uint16, "电压(mV)")
field("bus.ma", ProtoField.uint16, "电流(mA)")
field("index", ProtoField.uint32, "序号")
field("wire", ProtoField.bytes, "字节", base.SPACE)
field("type", ProtoField.string, "类型")
field("receiver_name", ProtoField.string, "接收者")
field("message", ProtoField.string, "消息")
field("summary", ProtoField.string, "简析")
-- The message, as the analyzer's field tree shows it.
field("header", ProtoField.uint16, "消息头", base.HEX)
field("receiver", ProtoField.uint8, "接收设备", base.HEX)
field("number", ProtoField.uint8, "消息编号")
field("version", ProtoField.uint8, "协议版本")
field("message_type", ProtoField.uint8, "消息类型")
field("command", ProtoField.uint8, "命令", base.HEX)
field("vendor_id", ProtoField.uint16, "厂商ID", base.HEX)
field("length", ProtoField.uint8, "数据长度")
field("data", ProtoField.bytes, "数据", base.SPACE)
field("crc", ProtoField.uint8, "CRC", base.HEX)
field("length_error", ProtoField.none, "数据长度不符")
field("mode", ProtoField.bytes, "输出模式", base.SPACE)
field("mode.number", ProtoField.uint8, "输出模式编号")
field("mode.current_step", ProtoField.uint8, "电流调节步进")
field("mode.voltage_step", ProtoField.uint8, "电压调节最小步进")
field("mode.max_mv", ProtoField.uint32, "最大输出电压(mV)")
field("mode.min_mv", ProtoField.uint32, "最小输出电压(mV)")
field("mode.max_ma", ProtoField.uint32, "最大输出电流(mA)")
field("mode.min_ma", ProtoField.uint32, "最小输出电流(mA)")
field("request.mode", ProtoField.uint8, "输出模式编号")
field("request.mv", ProtoField.uint32, "请求输出电压(mV)")
field("request.ma", ProtoField.uint32, "请求输出电流(mA)")
field("info.temperature", ProtoField.int16, "温度(度)")
field("info.port_temperature", ProtoField.int16, "USB接口温度(度)")
field("info.mv", ProtoField.uint32, "电压(mV)")
field("info.ma", ProtoField.uint32, "电流(mA)")
field("cable.milliohm", ProtoField.uint16, "线缆阻抗(毫欧)")
field("cable.max_v", ProtoField.uint8, "最大承载电压(V)")
field("cable.max_a", ProtoField.uint8, "最大承载电流(A)")
field("device.hardware", ProtoField.uint16, "设备硬件版本号")
field("device.software", ProtoField.uint16, "设备软件版本号")
field("error_flag", ProtoField.uint8, "异常")
field("watchdog_ms", ProtoField.uint16, "看门狗定时器溢出时间(mS)")
field("refuse.number", ProtoField.uint8, "拒绝消息编号")
field("refuse.type", ProtoField.uint8, "拒绝消息类型")
field("refuse.command", ProtoField.uint8, "拒绝命令编号", base.HEX)
field("refuse.reason", ProtoField.uint8, "拒绝原因")
field("verify.key", ProtoField.uint8, "密钥编号")
field("verify.random", ProtoField.bytes, "随机数据", base.SPACE)
field("verify.encrypted", ProtoField.bytes, "加密数据", base.SPACE)
field("power.max_ma", ProtoField.uint32, "最大输出电流(mA)")
field("test.enabled", ProtoField.uint8, "测试模式")
field("test.voltage_accuracy", ProtoField.uint8, "电压精度测试模式")
field("test.address", ProtoField.uint8, "设备地址")
field("test.type", ProtoField.uint8, "消息类型")
field("test.command", ProtoField.uint8, "命令编号")
-- The sequence check.
field("analysis", ProtoField.none, "时序分析")
field("analysis.note", ProtoField.string, "说明")
field("analysis.finding", ProtoField.string, "问题")
field("analysis.text", ProtoField.string, "内容")
field("analysis.delay_us", ProtoField.int64, "延时(us)")
field("analysis.limit", ProtoField.string, "限值")
field("analysis.clause", ProtoField.string, "出处")
field("analysis.limit_us", ProtoField.uint32, "限值(us)")
field("analysis.measured", ProtoField.double, "测得")
field("analysis.low", ProtoField.double, "下限")
field("analysis.high", ProtoField.double, "上限")
field("analysis.unit", ProtoField.string, "单位")

local E = {
    crc = ProtoExpert.new("ufcs.crc.bad", "校验码错误", expert.group.CHECKSUM, expert.severity.ERROR),
    length = ProtoExpert.new("ufcs.length.bad", "数据长度不符", expert.group.MALFORMED,
        expert.severity.ERROR),
    too_long = ProtoExpert.new("ufcs.length.long", "数据长度超出", expert.group.MALFORMED,
        expert.severity.NOTE),
    error = ProtoExpert.new("ufcs.error", "格式错误", expert.group.PROTOCOL, expert.severity.ERROR),
    note = ProtoExpert.new("ufcs.note", "注意", expert.group.PROTOCOL, expert.severity.NOTE),
    finding = ProtoExpert.new("ufcs.analysis.problem", "时序问题", expert.group.SEQUENCE,
        expert.severity.WARN),
    format = ProtoExpert.new("ufcs.format.unknown", "未知的格式", expert.group.UNDECODED,
        expert.severity.WARN),
}
ufcs.experts = { E.crc, E.length, E.too_long, E.error, E.note, E.finding, E.format }

local ERROR, NOTE = 1, 2

local function hexBytes(bytes, from, count)
    local parts = {}
    for i = from, from + count - 1 do
        parts[#parts + 1] = string.format("%02X ", bytes[i] or 0)
    end
    return table.concat(parts)
end

-- The CRC-8 of UFCS (polynomial 0x29), over at most 255 bytes.
local CRC_TABLE = {}
for value = 0, 255 do
    local reg = value
    for _ = 1, 8 do
        local carry = reg >= 0x80
        reg = (reg * 2) % 256
        if carry then reg = bit.bxor(reg, 0x29) end
    end
    CRC_TABLE[value] = reg
end
local function crc8(bytes, from, count)
    local reg = 0
    for i = from, from + (count % 256) - 1 do
        reg = CRC_TABLE[bit.bxor(reg, bytes[i] or 0)]
    end
    return reg
end

-- One decode of the bus bytes, in the analyzer's order: a flat list of items
-- (each names its parent) that a length fault clears, and the warnings.
local Decode = {}
Decode.__index = Decode

local function newDecode(wire, count, tvbWire, index, kind, status)
    local d = setmetatable({}, Decode)
    d.bytes, d.count, d.tvb, d.index, d.kind, d.status = wire, count, tvbWire, index, kind, status
    d.items, d.warnings = {}, {}
    return d
end
function Decode:w(offset) return self.bytes[offset] or 0 end
function Decode:d(offset) return self:w(5 + offset) end
function Decode:dBe16(offset) return self:d(offset) * 256 + self:d(offset + 1) end
function Decode:address() return bit.rshift(self:w(1), 5) end
function Decode:range(offset, length)
    if self.tvb and offset + length <= self.count then return self.tvb(offset, length) end
    return nil
end
-- An item under `parent` (0: the top), with its field, bytes and value.
function Decode:add(parent, text, key, offset, length, value)
    self.items[#self.items + 1] = {
        parent = parent, text = text, field = F[key],
        range = offset and self:range(offset, length) or nil, value = value,
    }
    return #self.items
end
function Decode:warn(severity, text, kind) self.warnings[#self.warnings + 1] = { severity, text, kind } end
function Decode:clear() self.items = {} end
function Decode:addIndex()
    self:add(0, string.format("序号：%d ", self.index), "index", nil, nil, self.index)
end

function Decode:bodyLengthError()
    self:warn(ERROR, "注意：数据长度不符!", "length")
    self:clear()
    self:addIndex()
    self:add(0, "数据长度不符!", "length_error")
end

function Decode:header()
    self:addIndex()
    local h0, h1 = self:w(1), self:w(2)
    local header = self:add(0, string.format("消息头：%02X %02X", h0, h1), "header", 1, 2,
        h0 * 256 + h1)
    local addr = bit.rshift(h0, 5)
    local version = bit.rshift(h1, 3)
    local mtype = bit.band(h1, 7)
    self:add(header, string.format("接收设备: %02X ", addr) .. (ADDRESSES[addr] or ""), "receiver",
        1, 1, addr)
    local number = bit.band(bit.rshift(h0, 1), 0x0F)
    self:add(header, string.format("消息编号: %02X ", number), "number", 1, 1, number)
    self:add(header, string.format("协议版本: %02X ", version) .. (version == 1 and " V1.0" or ""),
        "version", 2, 1, version)
    self:add(header, string.format("消息类型: %02X ", mtype) .. (MESSAGE_TYPES[mtype] or ""),
        "message_type", 2, 1, mtype)
    if self.kind == 2 and addr == 2 then self:warn(ERROR, "注意：D-线发出充电设备接收命令!") end
    if self.kind == 1 and addr == 1 then self:warn(ERROR, "注意：D+线发出供电设备接收命令!") end
    local crcBad, expected = self:crcCheck(mtype)
    if crcBad then
        self:warn(ERROR, string.format("注意：校验码错误！应为：0x%02x", expected), "crc")
    end
    if addr == 0 or addr > 3 then self:warn(ERROR, "注意：接收设备地址错误！") end
end

-- Whether the CRC is wrong (as captured, or as the capture marked it), and what it should be.
function Decode:crcCheck(mtype)
    local covered, at
    if mtype == 1 then
        covered = self:w(4) + 4
    elseif mtype == 2 then
        covered = self:w(5) + 5
    else
        covered = 3
    end
    at = 1 + covered
    local expected = crc8(self.bytes, 1, covered)
    local marked = bit.band(self.status, 0x04) ~= 0
    local captured = at < self.count
    return marked or (captured and mtype <= 2 and self:w(at) ~= expected), expected
end

function Decode:control()
    local command = self:w(3)
    local text = string.format("命令: 0x%02X  ", command)
    if CONTROL[command] then
        text = text .. CONTROL[command][1]
    else
        self:warn(ERROR, "注意：控制命令错误！")
    end
    self:add(0, text, "command", 3, 1, command)
    self:add(0, string.format("CRC: %02X", self:w(4)), "crc", 4, 1, self:w(4))
    if self.count < 5 then return self:bodyLengthError() end
    if self.count > 5 then self:warn(NOTE, "注意：数据长度不符!", "too_long") end
end

function Decode:vendor()
    local id = self:w(3) * 256 + self:w(4)
    self:add(0, string.format("厂商ID: 0x%02X%02X ", self:w(3), self:w(4)), "vendor_id", 3, 2, id)
    local length = self:w(5)
    self:add(0, string.format("数据长度: 0x%02X (%d)", length, length), "length", 5, 1, length)
    if self.count < length + 7 then return self:bodyLengthError() end
    if self.count > length + 7 then self:warn(NOTE, "注意：数据长度不符!", "too_long") end
    if self.count > 7 then
        self:add(0, "数据: " .. hexBytes(self.bytes, 6, length), "data", 6, length,
            self:byteArray(6, length))
    end
    self:add(0, string.format("CRC: %02X", self:w(6 + length)), "crc", 6 + length, 1,
        self:w(6 + length))
end

-- A bytes field's value: the raw bytes.
function Decode:byteArray(offset, length)
    local chars = {}
    for i = offset, offset + length - 1 do chars[#chars + 1] = string.char(self:w(i)) end
    return table.concat(chars)
end

-- The length each data command must have, when it is fixed or bounded.
local function dataLengthFits(command, n)
    if command == 0x01 then return n % 8 == 0 and n >= 8 and n <= 56 end
    if command == 0x02 or command == 0x03 or command == 0x04 or command == 0x05 or command == 0x06 then
        return n == 8
    end
    if command == 0x07 or command == 0x09 then return n == 4 end
    if command == 0x08 then return n == 2 end
    if command == 0x0A then return n == 17 end
    if command == 0x0B then return n == 48 end
    if command == 0x0C then return n % 3 == 0 and n >= 3 and n <= 21 end
    return true
end

function Decode:data()
    local command = self:w(3)
    local text = string.format("命令: 0x%02X  ", command)
    if DATA[command] then
        text = text .. DATA[command][1]
    else
        self:warn(ERROR, "注意：数据命令无法识别!")
    end
    self:add(0, text, "command", 3, 1, command)
    local length = self:w(4)
    local parent = self:add(0, string.format("数据长度: 0x%02X (%d)", length, length), "length", 4,
        1, length)
    if self.count > 6 then
        parent = self:add(0, "数据: " .. hexBytes(self.bytes, 5, length), "data", 5, length,
            self:byteArray(5, length))
    end
    if self.count < length + 6 then return self:bodyLengthError() end
    if self.count > length + 6 then self:warn(NOTE, "注意：数据长度不符!", "too_long") end
    if not dataLengthFits(command, length) then return self:bodyLengthError() end
    local body = self.bodies[command]
    if body then body(self, parent, length) end
    self:add(0, string.format("CRC: %02X", self:d(length)), "crc", 5 + length, 1, self:d(length))
end

Decode.bodies = {}
local B = Decode.bodies

B[0x01] = function(self, parent, length)
    for i = 0, math.floor(length / 8) - 1 do
        local at = i * 8
        local first = self:d(at)
        local number = bit.rshift(first, 4)
        local step = bit.band(bit.rshift(first, 1), 7)
        local maxV, minV, maxA = self:dBe16(at + 1), self:dBe16(at + 3), self:dBe16(at + 5)
        local minA = self:d(at + 7)
        local mode = self:add(parent, string.format("输出模式%d: ", number) .. hexBytes(self.bytes,
            5 + at, 8), "mode", 5 + at, 8, self:byteArray(5 + at, 8))
        self:add(mode, string.format("输出模式编号:%02X (%d)", number, number), "mode.number",
            5 + at, 1, number)
        local stepText = string.format("电流调节步进:%02X ", step)
        if step <= 4 then
            stepText = stepText .. string.format("%dmA", (step + 1) * 10)
        else
            stepText = stepText .. "保留"
            self:warn(ERROR, string.format("注意：输出模式%d 电流调节步进不在规定范围!", number))
        end
        self:add(mode, stepText, "mode.current_step", 5 + at, 1, step)
        local fine = bit.band(first, 1)
        self:add(mode, fine == 1 and "电压调节最小步进:01 20mV" or "电压调节最小步进:00 10mV",
            "mode.voltage_step", 5 + at, 1, fine)
        self:add(mode, string.format("最大输出电压:%04X %dmV", maxV, maxV * 10), "mode.max_mv",
            6 + at, 2, maxV * 10)
        self:add(mode, string.format("最小输出电压:%04X %dmV", minV, minV * 10), "mode.min_mv",
            8 + at, 2, minV * 10)
        self:add(mode, string.format("最大输出电流:%04X %dmA", maxA, maxA * 10), "mode.max_ma",
            10 + at, 2, maxA * 10)
        self:add(mode, string.format("最小输出电流:%02X %dmA", minA, minA * 10), "mode.min_ma",
            12 + at, 1, minA * 10)
        if number ~= i + 1 then self:warn(ERROR, "注意：输出模式编号不符!") end
    end
end

B[0x02] = function(self, parent)
    local number = bit.rshift(self:d(0), 4)
    local mv, ma = self:dBe16(4), self:dBe16(6)
    self:add(parent, string.format("输出模式编号:0x%02X (%d)", number, number), "request.mode", 5,
        1, number)
    self:add(parent, string.format("请求输出电压:0x%04X %dmV", mv, mv * 10), "request.mv", 9, 2,
        mv * 10)
    self:add(parent, string.format("请求输出电流:0x%04X %dmA", ma, ma * 10), "request.ma", 11, 2,
        ma * 10)
    if number > 7 then self:warn(ERROR, "注意：请求输出模式编号超过7") end
end

local function information(self, parent, source)
    local first, second = self:d(2), self:d(3)
    local mv, ma = self:dBe16(4), self:dBe16(6)
    local names
    if source then
        if self:address() == 1 then self:warn(ERROR, "注意：此消息只能充电设备接收") end
        names = { "当前供电设备内部温度", "当前供电设备USB接口温度", "当前输出电压", "当前输出电流" }
    else
        if self:address() == 2 then self:warn(ERROR, "注意：此消息只能由供电设备接收") end
        names = { "当前充电设备电池温度", "当前充电设备USB接口温度", "当前电池电压", "当前充电电流" }
    end
    self:add(parent, string.format("%s:%02X %d度", names[1], first, first - 50),
        "info.temperature", 7, 1, first - 50)
    self:add(parent, string.format("%s:%02X %d度", names[2], second, second - 50),
        "info.port_temperature", 8, 1, second - 50)
    self:add(parent, string.format("%s:%04X %dmV", names[3], mv, mv * 10), "info.mv", 9, 2, mv * 10)
    self:add(parent, string.format("%s:%04X %dmA", names[4], ma, ma * 10), "info.ma", 11, 2, ma * 10)
end
B[0x03] = function(self, parent) information(self, parent, true) end
B[0x04] = function(self, parent) information(self, parent, false) end

B[0x05] = function(self, parent)
    local impedance = self:dBe16(4)
    self:add(parent, string.format("线缆阻抗:%04X %d毫欧", impedance, impedance), "cable.milliohm",
        9, 2, impedance)
    self:add(parent, string.format("最大承载电压:%02X %dV", self:d(6), self:d(6)), "cable.max_v",
        11, 1, self:d(6))
    self:add(parent, string.format("最大承载电流:%02X %dA", self:d(7), self:d(7)), "cable.max_a",
        12, 1, self:d(7))
end

B[0x06] = function(self, parent)
    local hardware, software = self:dBe16(4), self:dBe16(6)
    self:add(parent, string.format("设备硬件版本号:%04X (%d)", hardware, hardware),
        "device.hardware", 9, 2, hardware)
    self:add(parent, string.format("设备软件版本号:%04X (%d)", software, software),
        "device.software", 11, 2, software)
end

B[0x07] = function(self, parent)
    for _, flag in ipairs(ERROR_FLAGS) do
        local set = bit.band(bit.rshift(self:d(flag[1]), flag[2]), 1)
        local text = string.format(flag[3], set)
        if set == 1 then text = text .. flag[4] end
        self:add(parent, text, "error_flag", 5 + flag[1], 1, set)
    end
end

B[0x08] = function(self, parent)
    local ms = self:dBe16(0)
    self:add(parent, string.format("看门狗定时器溢出时间:%04X %dmS", ms, ms), "watchdog_ms", 5, 2, ms)
end

B[0x09] = function(self, parent)
    local number = bit.band(self:d(0), 0x0F)
    local mtype = bit.band(self:d(1), 7)
    local command, reason = self:d(2), self:d(3)
    local typeText = string.format("消息类型:%02X (%d) ", mtype, mtype)
    if MESSAGE_TYPES[mtype] then
        typeText = typeText .. MESSAGE_TYPES[mtype]
    else
        self:warn(ERROR, "注意：拒绝消息类型无法识别！")
    end
    local commandText = string.format("命令编号:%02X (%d) ", command, command)
    if mtype == 0 then
        if CONTROL[command] then
            commandText = commandText .. CONTROL[command][1]
        else
            self:warn(ERROR, "注意：拒绝命令编号无法识别！")
        end
    elseif mtype == 1 then
        if DATA[command] then
            commandText = commandText .. DATA[command][1]
        else
            self:warn(ERROR, "注意：拒绝命令编号无法识别！")
        end
    end
    local reasonText = string.format("拒绝原因:%02X (%d) ", reason, reason)
    if REFUSE_REASONS[reason] then
        reasonText = reasonText .. REFUSE_REASONS[reason]
    else
        self:warn(ERROR, "注意：拒绝原因无法识别！")
    end
    self:add(parent, string.format("消息编号:%02X (%d) ", number, number), "refuse.number", 5, 1,
        number)
    self:add(parent, typeText, "refuse.type", 6, 1, mtype)
    self:add(parent, commandText, "refuse.command", 7, 1, command)
    self:add(parent, reasonText, "refuse.reason", 8, 1, reason)
end

B[0x0A] = function(self, parent)
    self:add(parent, string.format("密钥编号:%02X (%d) ", self:d(0), self:d(0)), "verify.key", 5, 1,
        self:d(0))
    self:add(parent, "随机数据:" .. hexBytes(self.bytes, 6, 16), "verify.random", 6, 16,
        self:byteArray(6, 16))
end

B[0x0B] = function(self, parent)
    self:add(parent, "加密数据:" .. hexBytes(self.bytes, 5, 32), "verify.encrypted", 5, 32,
        self:byteArray(5, 32))
    self:add(parent, "随机数据:" .. hexBytes(self.bytes, 37, 16), "verify.random", 37, 16,
        self:byteArray(37, 16))
end

B[0x0C] = function(self, parent, length)
    for i = 0, math.floor(length / 3) - 1 do
        local at = i * 3
        local number = bit.rshift(self:d(at), 4)
        local ma = self:dBe16(at + 1)
        local mode = self:add(parent, string.format("输出模式%d: ", number) .. hexBytes(self.bytes,
            5 + at, 3), "mode", 5 + at, 3, self:byteArray(5 + at, 3))
        self:add(mode, string.format("输出模式编号:%02X %d", number, number), "mode.number", 5 + at,
            1, number)
        self:add(mode, string.format("最大输出电流:%04X %dmA", ma, ma * 10), "power.max_ma", 6 + at,
            2, ma * 10)
        if number ~= i + 1 then self:warn(ERROR, "注意：输出模式编号不符!") end
    end
end

B[0xFF] = function(self, parent)
    local flags = self:d(0)
    local address = bit.band(bit.rshift(flags, 3), 7)
    local mtype = bit.band(flags, 7)
    local on = bit.band(flags, 0x80) ~= 0
    local accuracy = bit.band(flags, 0x40) ~= 0
    self:add(parent, on and "测试模式:1 使能" or "测试模式:0 关闭", "test.enabled", 5, 1, on and 1 or 0)
    self:add(parent, accuracy and "电压精度测试模式:1 使能" or "电压精度测试模式:0 关闭",
        "test.voltage_accuracy", 5, 1, accuracy and 1 or 0)
    self:add(parent, string.format("设备地址:%02X (%d) ", address, address), "test.address", 5, 1,
        address)
    self:add(parent, "消息类型:" .. (MESSAGE_TYPES[mtype] or ""), "test.type", 5, 1, mtype)
    self:add(parent, string.format("命令编号:%02X (%d) ", self:d(1), self:d(1)), "test.command", 6,
        1, self:d(1))
end

function Decode:run()
    self:header()
    local mtype = bit.band(self:w(2), 7)
    if mtype == 0 then
        self:control()
    elseif mtype == 1 then
        self:data()
    elseif mtype == 2 then
        self:vendor()
    else
        self:warn(ERROR, "注意：消息类型错误！")
    end
end

-- The list's 类型, 接收者, 消息 and 简析 of a message.
local function listTexts(bytes)
    local get = function(i) return bytes[i] or 0 end
    local receiver = bit.band(get(1), 0xE0)
    local receiverName = receiver <= 0x60 and (ADDRESSES[bit.rshift(receiver, 5)] or "") or ""
    local mtype, command = bit.band(get(2), 7), get(3)
    if mtype == 0 then
        local name = CONTROL[command]
        return "控制", receiverName, name and name[1] or "", name and name[2] or ""
    elseif mtype == 1 then
        local name = DATA[command]
        if not name then return "数据", receiverName, "无法解析", "" end
        local summary = name[2]
        if command == 0x02 then
            summary = summary .. string.format(" 电压：%.3fV 电流：%.3fA",
                (get(9) * 256 + get(10)) * 0.01, (get(11) * 256 + get(12)) * 0.01)
        end
        return "数据", receiverName, name[1], summary
    elseif mtype == 2 then
        return "厂商", receiverName, "厂商自定", string.format("ID:0x%02X%02X", get(3), get(4))
    end
    return "", receiverName, "无法解析", ""
end

local function emitDecode(tree, decode)
    local nodes = {}
    for i, item in ipairs(decode.items) do
        local parent = item.parent == 0 and tree or nodes[item.parent]
        local node
        if item.range then
            node = parent:add(item.field, item.range, item.value)
        elseif item.value ~= nil then
            node = parent:add(item.field, item.value)
        else
            node = parent:add(item.field)
        end
        node:set_text(item.text)
        nodes[i] = node
    end
    for _, warning in ipairs(decode.warnings) do
        local kind = warning[3] or (warning[1] == ERROR and "error" or "note")
        tree:add_proto_expert_info(E[kind], warning[2])
    end
end

-- Reads the payload's notes from `offset`; raises an error when they run past its end.
local function readNotes(tvb, offset)
    local notes = {}
    if offset >= tvb:len() then return notes end
    local count = tvb(offset, 1):uint()
    offset = offset + 1
    local function text()
        local size = tvb(offset, 2):uint()
        local value = size > 0 and tvb(offset + 2, size):string(ENC_UTF_8) or ""
        local range = tvb(offset, 2 + size)
        offset = offset + 2 + size
        return value, range
    end
    for _ = 1, count do
        local note = { start = offset }
        local flags = tvb(offset, 1):uint()
        offset = offset + 1
        note.kind = text()
        if bit.band(flags, 1) ~= 0 then
            note.delay = tvb(offset, 8):int64()
            offset = offset + 8
        end
        note.limitUs = tvb(offset, 4):uint()
        offset = offset + 4
        note.text = text()
        note.limit = text()
        note.clause = text()
        if bit.band(flags, 2) ~= 0 then
            note.measured = tvb(offset, 8):float()
            offset = offset + 8
            if bit.band(flags, 4) ~= 0 then
                note.low = tvb(offset, 8):float()
                offset = offset + 8
            end
            if bit.band(flags, 8) ~= 0 then
                note.high = tvb(offset, 8):float()
                offset = offset + 8
            end
            note.unit = text()
        end
        note.range = tvb(note.start, offset - note.start)
        notes[#notes + 1] = note
    end
    return notes
end

local function emitNotes(tree, notes)
    if #notes == 0 then return {} end
    local kinds = {}
    local analysis = tree:add(F["analysis"], notes[1].range)
    for _, note in ipairs(notes) do
        local item = analysis:add(F["analysis.note"], note.range, note.text)
        if note.kind ~= "" then
            item:add(F["analysis.finding"], note.range, note.kind)
            item:add_proto_expert_info(E.finding, note.kind .. "：" .. note.text)
            kinds[#kinds + 1] = note.kind
        end
        item:add(F["analysis.text"], note.range, note.text)
        if note.delay then item:add(F["analysis.delay_us"], note.range, note.delay) end
        if note.limit ~= "" then item:add(F["analysis.limit"], note.range, note.limit) end
        if note.clause ~= "" then item:add(F["analysis.clause"], note.range, note.clause) end
        if note.limitUs ~= 0 then item:add(F["analysis.limit_us"], note.range, note.limitUs) end
        if note.measured then
            item:add(F["analysis.measured"], note.range, note.measured)
            if note.low then item:add(F["analysis.low"], note.range, note.low) end
            if note.high then item:add(F["analysis.high"], note.range, note.high) end
            item:add(F["analysis.unit"], note.range, note.unit)
        end
    end
    return kinds
end

function ufcs.dissector(tvb, pinfo, tree)
    pinfo.cols.protocol = "UFCS"
    local root = tree:add(ufcs, tvb())
    if tvb:len() < HEADER or tvb(0, 1):uint() ~= PAYLOAD_FORMAT then
        root:add_proto_expert_info(E.format, "这个解析器认不出的格式（请更新 ufcs.lua）")
        return
    end
    local kind, baudCode, status = tvb(1, 1):uint(), tvb(2, 1):uint(), tvb(3, 1):uint()
    local index = tvb(8, 4):uint()
    local count = tvb(12, 2):uint()
    if HEADER + count > tvb:len() then
        root:add_proto_expert_info(E.format, "记录的字节超出了数据包")
        return
    end
    local wireTvb = count > 0 and tvb(HEADER, count):tvb() or nil
    local bytes = {}
    for i = 0, count - 1 do bytes[i] = tvb(HEADER + i, 1):uint() end

    local message = kind <= 3
    local decode = newDecode(bytes, count, wireTvb, index, kind, status)
    if message then
        decode:run()
    else
        decode:addIndex()
    end
    emitDecode(root, decode)

    local record = root:add(F["record"], tvb(0, HEADER))
    record:add(F["format"], tvb(0, 1))
    record:add(F["kind"], tvb(1, 1))
    record:add(F["baud_code"], tvb(2, 1))
    if message and BAUD_RATES[baudCode] then record:add(F["baud"], tvb(2, 1), BAUD_RATES[baudCode]) end
    record:add(F["status"], tvb(3, 1))
    record:add(F["bus.mv"], tvb(4, 2))
    record:add(F["bus.ma"], tvb(6, 2))
    if count > 0 then record:add(F["wire"], tvb(HEADER, count)) end
    local typeText, receiverName, name, summary = "", "", "", ""
    if message then
        typeText, receiverName, name, summary = listTexts(bytes)
    elseif EVENTS[kind] then
        name, summary = EVENTS[kind][1], EVENTS[kind][2]
    end
    record:add(F["type"], typeText)
    record:add(F["receiver_name"], receiverName)
    record:add(F["message"], name)
    record:add(F["summary"], summary)

    local read, notes = pcall(readNotes, tvb, HEADER + count)
    if not read then
        notes = {}
        root:add_proto_expert_info(E.format, "时序分析的数据不完整")
    end
    local kinds = emitNotes(root, notes)
    local info = name
    if info == "" then  -- a command or event the list has no name for
        info = message and string.format("%s 0x%02X", typeText ~= "" and typeText or "消息",
            bytes[3] or 0) or string.format("0x%02X", kind)
    end
    if summary ~= "" then info = info .. "  " .. summary end
    if #kinds > 0 then info = info .. "  [" .. table.concat(kinds, ", ") .. "]" end
    pinfo.cols.info = info
end
