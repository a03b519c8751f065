-- ufcs.lua under Lua 5.4, the Lua of the Wireshark versions Windows users
-- install (4.4 and later), where Debian's tshark 4.0 runs Lua 5.2. A small
-- stand-in for Wireshark's Lua API runs the dissector on packet payloads
-- and prints each tree as text.
--
--   lua5.4 lua54_harness.lua ufcs.lua PAYLOADS
--
-- PAYLOADS: one packet a line, the payload in hex after the Exported PDU
-- tags. Output per packet: "UFCS", the tree four spaces a level (expert
-- info as "[Expert Info: TEXT]"), then "INFO: " and the Info column.

-- Wireshark's LuaBitOp, ported to Lua 5.4, is the global `bit`.
bit = {
    band = function(a, b) return a & b end,
    bxor = function(a, b) return a ~ b end,
    rshift = function(a, n) return a >> n end,
}
base = { HEX = "hex", DEC = "dec", SPACE = "space", NONE = "none" }
local names = setmetatable({}, { __index = function(_, key) return key end })
expert = { group = names, severity = names }
ENC_UTF_8 = 1
ProtoExpert = { new = function(abbr, text) return { abbr = abbr, text = text } end }
ProtoField = setmetatable({}, {
    __index = function(_, kind)
        return function(abbr, name, display, strings)
            return { abbr = abbr, name = name, kind = kind, display = display, strings = strings }
        end
    end,
})
local proto
function Proto(name, desc)
    proto = { name = name, desc = desc, fields = {} }
    return proto
end

-- Tvb and TvbRange.
local Range = {}
Range.__index = Range
local function newTvb(bytes)
    local tvb = { bytes = bytes }
    return setmetatable(tvb, {
        __call = function(self, offset, length)
            offset = offset or 0
            length = length or (#self.bytes - offset)
            if offset < 0 or offset + length > #self.bytes then
                error(string.format("range %d+%d past %d bytes", offset, length, #self.bytes))
            end
            return setmetatable({ source = self, offset = offset, length = length }, Range)
        end,
        __index = { len = function(self) return #self.bytes end },
    })
end
function Range:byte(i) return self.source.bytes[self.offset + i + 1] end
function Range:raw()
    local chars = {}
    for i = 0, self.length - 1 do chars[#chars + 1] = string.char(self:byte(i)) end
    return table.concat(chars)
end
function Range:uint()
    local value = 0
    for i = 0, self.length - 1 do value = value * 256 + self:byte(i) end
    return value
end
function Range:int64() return (string.unpack(">i8", self:raw())) end
function Range:float() return (string.unpack(">d", self:raw())) end
function Range:string() return self:raw() end
function Range:tvb()
    local bytes = {}
    for i = 0, self.length - 1 do bytes[#bytes + 1] = self:byte(i) end
    return newTvb(bytes)
end

-- TreeItem, showing a field as "name: value".
local Item = {}
Item.__index = Item
local function newItem(text) return setmetatable({ text = text, children = {} }, Item) end
local function fieldText(field, range, value)
    if value == nil and range then
        if field.kind == "bytes" then
            local hex = {}
            for i = 0, range.length - 1 do hex[#hex + 1] = string.format("%02x", range:byte(i)) end
            value = table.concat(hex, " ")
        elseif field.kind ~= "none" then
            value = range:uint()
        end
    end
    if value == nil then return field.name end
    if field.strings and math.type(value) == "integer" then
        return string.format("%s: %s (0x%02x)", field.name, field.strings[value] or "Unknown", value)
    end
    if field.display == "hex" and math.type(value) == "integer" then
        return string.format("%s: 0x%02x", field.name, value)
    end
    return field.name .. ": " .. tostring(value)
end
function Item:add(field, first, second)
    local range, value
    if getmetatable(first) == Range then range, value = first, second else value = first end
    local item = field == proto and newItem("UFCS") or newItem(fieldText(field, range, value))
    self.children[#self.children + 1] = item
    return item
end
function Item:set_text(text) self.text = text end
function Item:add_proto_expert_info(e, text)
    self.children[#self.children + 1] = newItem("[Expert Info: " .. (text or e.text) .. "]")
end
local function print_tree(item, depth)
    for _, child in ipairs(item.children) do
        print(string.rep("    ", depth) .. child.text)
        print_tree(child, depth + 1)
    end
end

dofile(arg[1])
for line in io.lines(arg[2]) do
    local bytes = {}
    for i = 1, #line - 1, 2 do bytes[#bytes + 1] = tonumber(line:sub(i, i + 1), 16) end
    local root, pinfo = newItem(""), { cols = {} }
    local ran, failure = pcall(proto.dissector, newTvb(bytes), pinfo, root)
    if not ran then print("LUA ERROR: " .. failure) end
    print_tree(root, 0)
    print("INFO: " .. tostring(pinfo.cols.info))
end
