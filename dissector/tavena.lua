-- SPDX-License-Identifier: GPL-3.0-or-later
-- Wireshark dissector for the exchange of the КП Тавена configurator with the controlled
-- point's Ethernet-to-CAN adapter (UDP, the adapter's data port, 972 by default) and for the
-- configurator's local telesignal query service (UDP 127.0.0.1:956, answers to port 955).
--
-- Install: copy this file to ~/.local/lib/wireshark/plugins/ (or run tshark/wireshark with
-- -X lua_script:tavena.lua). The data port is a preference (tavena.port), and so are the local
-- query service's ports (tavena.query_port, tavena.answer_port); datagrams on other ports are
-- recognised by a heuristic that accepts only well-formed datagrams of the adapter's exchange.
--
-- Every datagram gets the note the configurator's trace shows for it ("КВТ", "ЦТС", "Конф",
-- "ЗАПРОС", ...), its header, and each CAN frame record with its meaning.

local tavena = Proto("tavena", "КП Тавена: обмен с адаптером Ethernet-CAN")


local band = (bit32 and bit32.band) or (bit and bit.band)
local function bit_set(v, mask)
    return band(v, mask) ~= 0
end

------------------------------------------------------------------------------------------------
-- Names

local message_types = {[0x19] = "Записи кадров CAN", [0xFD] = "Диагностика адаптера"}

local block_types = {
    [0x44] = "ТС (телесигналы, события, ТИИ)",
    [0x48] = "ТИТ (текущие измерения)",
    [0x42] = "ТУ (телеуправление, блокировки)",
    [0x02] = "ТУ, исполнение",
    [0x01] = "Служебная",
}

local config_subfunctions = {
    [0x00] = "Чтение конфигурации",
    [0x01] = "Запись конфигурации, продолжение",
    [0x02] = "Запись конфигурации, конец",
    [0x03] = "Завершение",
    [0x05] = "Запись памяти (8 байт)",
    [0x06] = "Чтение памяти",
    [0x07] = "Установка указателя",
    [0x08] = "Подготовка",
    [0x09] = "Стирание страницы (512 байт)",
    [0x0A] = "Завершение прошивки",
    [0x0B] = "Запись конфигурации, начало",
    [0x0C] = "Установка ТИИ",
    [0x0E] = "Чтение диагностики",
    [0x0F] = "Ответ без действия",
    [0xFF] = "Ответ на опрос блоков",
}

local service_subfunctions = {
    [0x01] = "Установка времени",
    [0x04] = "Конец обслуживания",
    [0x05] = "Начало обслуживания",
    [0x06] = "Опрос блоков",
}

local pointers = {
    [0x2080] = "версия",
    [0x8000] = "логика блокировок / прошивка",
    [0xEA00] = "загрузчик",
    [0xFC00] = "калибровка",
}

local tu_errors = {
    [1] = "(недопустимый адрес!)",
    [2] = "(в конф-ции неправильный тип управления!)",
    [3] = "(в конф-ции не указано время удержания!)",
    [4] = "(аппаратный сбой - несоотвествие выбора реле!)",
    [5] = "(аппаратный сбой - несоотвествие выбора реле!)",
    [6] = "(малое сопротивление реле (замыкание)!)",
    [7] = "(большое сопротивление реле (обрыв)!)",
    [8] = "(не дождались команды подтветждения!)",
    [10] = "(ошибка контрольных цепей БРП!)",
    [11] = "(малое напряжение питания!)",
}

local km4_modes = {
    ["C1M"] = "KM4 CAN0-500kb",
    ["C2M"] = "KM4 CAN1-500kb",
    ["C1S"] = "KM4 CAN0-50kb",
    ["C2S"] = "KM4 CAN1-50kb",
}

------------------------------------------------------------------------------------------------
-- Fields

local F = {
    who = ProtoField.string("tavena.who", "Кто"),
    note = ProtoField.string("tavena.note", "Тип пакета"),
    message = ProtoField.string("tavena.message", "Датаграмма"),
    kind = ProtoField.uint8("tavena.kind", "Канал и вид", base.HEX),
    channel = ProtoField.uint8("tavena.channel", "Канал CAN", base.DEC, nil, 0x07),
    length = ProtoField.uint8("tavena.length", "Байт после заголовка", base.DEC),
    seq = ProtoField.uint8("tavena.seq", "Номер", base.DEC),
    type = ProtoField.uint8("tavena.type", "Тип сообщения", base.HEX, message_types),
    payload = ProtoField.bytes("tavena.payload", "Содержимое"),

    record = ProtoField.none("tavena.record", "Запись кадра CAN"),
    rec_function = ProtoField.uint8("tavena.rec.function", "Функция", base.HEX),
    rec_config = ProtoField.bool("tavena.rec.config", "Конфигурация / ответ блока", 8, nil, 0x80),
    rec_block = ProtoField.uint8("tavena.rec.block_type", "Тип блока", base.HEX, block_types, 0x7F),
    rec_direction = ProtoField.string("tavena.rec.direction", "Направление"),
    rec_flags = ProtoField.uint8("tavena.rec.flags", "Флаги", base.HEX),
    rec_address = ProtoField.uint8("tavena.rec.address", "Адрес блока", base.DEC),
    rec_sub = ProtoField.uint8("tavena.rec.sub", "Подфункция / индекс", base.HEX),
    rec_subfunction = ProtoField.uint8("tavena.rec.subfunction", "Подфункция", base.HEX,
                                       config_subfunctions),
    rec_service = ProtoField.uint8("tavena.rec.service", "Служебная подфункция", base.HEX,
                                   service_subfunctions),
    rec_dlc = ProtoField.uint8("tavena.rec.dlc", "DLC", base.DEC),
    rec_data = ProtoField.bytes("tavena.rec.data", "Данные"),
    rec_kind = ProtoField.string("tavena.rec.kind", "Запись"),
    rec_note = ProtoField.string("tavena.rec.note", "Примечание записи"),

    stamp = ProtoField.uint32("tavena.stamp", "Метка времени, с", base.DEC),
    time = ProtoField.string("tavena.time", "Время (местное время КП)"),
    number = ProtoField.uint16("tavena.number", "Число при метке", base.DEC),

    ts_states = ProtoField.string("tavena.ts.states", "Состояния входов 1..32"),
    ts_archive = ProtoField.uint8("tavena.ts.archive", "Позиция архива", base.DEC),
    ts_input = ProtoField.uint8("tavena.ts.input", "Номер входа", base.DEC),
    ts_value = ProtoField.uint8("tavena.ts.value", "Значение", base.DEC, nil, 0x80),
    ts_double = ProtoField.bool("tavena.ts.double", "Двухпозиционный", 8, nil, 0x20),
    ts_second = ProtoField.uint8("tavena.ts.second", "Значение второго входа", base.DEC, nil, 0x40),
    ts_event = ProtoField.string("tavena.ts.event", "Событие"),

    tii_channel = ProtoField.uint8("tavena.tii.channel", "Номер счётчика", base.DEC),
    tii_value = ProtoField.uint32("tavena.tii.value", "Значение ТИИ", base.DEC),
    tit_first = ProtoField.uint8("tavena.tit.first", "Первый канал (с 0)", base.DEC),
    tit_reading = ProtoField.int16("tavena.tit.reading", "Измерение", base.DEC),
    blk_states = ProtoField.string("tavena.blk.states", "Блокировки 1..32"),

    tu_relay = ProtoField.uint16("tavena.tu.relay", "Номер реле", base.DEC),
    tu_status = ProtoField.uint8("tavena.tu.status", "Результат", base.DEC),
    tu_coefficient = ProtoField.uint16("tavena.tu.coefficient", "Коэф реле", base.DEC),
    tu_temperature_code = ProtoField.uint16("tavena.tu.temperature_code", "Код температуры"),
    tu_voltage_code = ProtoField.uint16("tavena.tu.voltage_code", "Код напряжения"),
    tu_voltage = ProtoField.double("tavena.tu.voltage", "Напряжение, В"),
    tu_temperature = ProtoField.double("tavena.tu.temperature", "Температура, °C"),
    tu_text = ProtoField.string("tavena.tu.text", "Сообщение ТУ"),

    cfg_offset = ProtoField.uint16("tavena.cfg.offset", "Смещение в конфигурации", base.DEC),
    cfg_pointer = ProtoField.uint16("tavena.cfg.pointer", "Указатель памяти", base.HEX, pointers),
    cfg_counter = ProtoField.uint8("tavena.cfg.counter", "Номер счётчика (с 0)", base.DEC),
    cfg_value = ProtoField.uint32("tavena.cfg.value", "Новое значение", base.DEC),

    ann_major = ProtoField.uint8("tavena.ann.major", "Версия, старшая", base.DEC),
    ann_minor = ProtoField.uint8("tavena.ann.minor", "Версия, младшая", base.DEC),
    ann_mac = ProtoField.ether("tavena.ann.mac", "MAC адаптера"),
    ann_ip = ProtoField.ipv4("tavena.ann.ip", "IP адрес адаптера"),
    ann_text = ProtoField.string("tavena.ann.text", "Текст"),

    addr_gateway = ProtoField.ipv4("tavena.addr.gateway", "Шлюз"),
    addr_mask = ProtoField.ipv4("tavena.addr.mask", "Маска сети"),
    addr_mac = ProtoField.ether("tavena.addr.mac", "MAC адаптера"),
    addr_adapter = ProtoField.ipv4("tavena.addr.adapter", "IP адрес адаптера"),
    addr_computer = ProtoField.ipv4("tavena.addr.computer", "IP адрес компьютера"),

    link_mode = ProtoField.string("tavena.link.mode", "Режим KM4"),
    link_channel = ProtoField.uint8("tavena.link.channel", "Канал CAN", base.DEC),

    query_code = ProtoField.string("tavena.query.code", "Код строки"),
    query_row = ProtoField.uint8("tavena.query.row", "Строка таблицы ТС", base.DEC),
    query_target = ProtoField.string("tavena.query.target", "Что запрошено"),
    query_states = ProtoField.string("tavena.query.states", "Ячейки 1..32"),
}
local field_list = {}
for _, f in pairs(F) do
    field_list[#field_list + 1] = f
end
tavena.fields = field_list

local E = {
    length = ProtoExpert.new("tavena.expert.length", "Байт длины не совпадает с датаграммой",
                             expert.group.MALFORMED, expert.severity.WARN),
    dlc = ProtoExpert.new("tavena.expert.dlc", "DLC выходит за конец датаграммы",
                          expert.group.MALFORMED, expert.severity.WARN),
    type = ProtoExpert.new("tavena.expert.type", "Неизвестный тип сообщения",
                           expert.group.PROTOCOL, expert.severity.WARN),
    short = ProtoExpert.new("tavena.expert.short", "Запись короче своих полей",
                            expert.group.MALFORMED, expert.severity.NOTE),
}
tavena.experts = {E.length, E.dlc, E.type, E.short}

tavena.prefs.port = Pref.uint("Порт данных адаптера", 972,
                              "UDP-порт данных адаптера (№ порта данных, BasePortD)")
tavena.prefs.query_port = Pref.uint("Порт службы опроса ТС", 956,
                                    "UDP-порт, на котором конфигуратор принимает опросы ТС")
tavena.prefs.answer_port = Pref.uint("Порт ответов службы опроса ТС", 955,
                                     "UDP-порт, на который конфигуратор шлёт ответы")

------------------------------------------------------------------------------------------------
-- Helpers

-- Seconds since 1970 in the controlled point's local time, shown as they are (no zone shift).
local function stamp_text(seconds)
    return os.date("!%d.%m.%Y %H:%M:%S", seconds)
end
local function time_of_day(seconds)
    return os.date("!%H:%M:%S", seconds)
end

local function bits_text(range)
    local chars = {}
    for i = 0, range:len() - 1 do
        local b = range:range(i, 1):uint()
        for k = 0, 7 do
            chars[#chars + 1] = bit_set(b, 2 ^ k) and "1" or "0"
        end
    end
    return table.concat(chars)
end

local function add_stamp(tree, range)
    local seconds = range:le_uint()
    tree:add_le(F.stamp, range)
    tree:add(F.time, range, stamp_text(seconds))
    return seconds
end

-- The record's data bytes from i for n bytes, or nil (with a note on the tree) when the record
-- is too short to hold them.
local function field(rec, i, n)
    if rec.available >= i + n then
        return rec.data:range(i, n)
    end
    if not rec.short_noted then
        rec.item:add_proto_expert_info(E.short)
        rec.short_noted = true
    end
    return nil
end

------------------------------------------------------------------------------------------------
-- Records sent by the blocks (from the adapter), as the configurator's dispatcher reads them.

local KVTB = "КВТB" -- the last letter is the Latin B, as in the trace

local function block_record_kind(r)
    local f, flags, sub = r.function_byte, r.flags, r.sub
    if bit_set(f, 0x80) then
        return "reply"
    elseif f == 0x48 then
        return bit_set(sub, 0x40) and "tit_stamp" or "tit_values"
    elseif f == 0x44 then
        if band(flags, 0xE3) == 0x21 and sub ~= 0 then
            return "tii"
        elseif not bit_set(flags, 0x80) and sub == 0 then
            return "ts_state"
        elseif band(flags, 0xE3) == 0x80 then
            return "ts_event"
        end
    elseif f == 0x42 then
        if sub == 1 then
            return "tu_result"
        elseif sub == 2 or sub == 8 then
            return "tu_diag"
        elseif sub == 3 then
            return "tu_ready"
        elseif sub == 10 then
            return "interlock"
        end
    end
    return "other"
end

-- Decodes one block record; returns its meaning and its note, and whether the note replaces
-- the datagram's note (the trace replaces for replies and telecontrol, appends otherwise).
local function decode_block_record(r, tree, d7)
    local kind = block_record_kind(r)
    local empty = r.dlc == 0
    if kind == "tit_stamp" then
        local s = field(r, 0, 4)
        if s then
            add_stamp(tree, s)
        end
        return "Метка времени ТИТ", empty and KVTB or "ЗТИТ", false
    elseif kind == "tit_values" then
        local first = band(r.sub, 0x3F)
        tree:add(F.tit_first, r.sub_range, first)
        for k = 0, math.floor(r.available / 2) - 1 do
            local i = first + k
            tree:add_le(F.tit_reading, r.data:range(2 * k, 2)):prepend_text(
                string.format("Канал %d (%d-%02d): ", i + 1, r.address, i < 16 and 1 or 17))
        end
        return "Текущие измерения", empty and KVTB or "ЦТИТ", false
    elseif kind == "tii" then
        tree:add(F.tii_channel, r.sub_range, band(r.sub, 0x3F))
        local v = field(r, 0, 4)
        if v then
            tree:add_le(F.tii_value, v)
        end
        local s = field(r, 4, 4)
        if s then
            add_stamp(tree, s)
        end
        return "Счётчик ТИИ", empty and KVTB or "ЦТИИ", false
    elseif kind == "ts_state" then
        local s = field(r, 0, 4)
        if s then
            tree:add(F.ts_states, s, bits_text(s))
        end
        local a = field(r, 4, 1)
        if a then
            tree:add(F.ts_archive, a)
        end
        return "Состояния ТС", empty and KVTB or "ЦТС", false
    elseif kind == "interlock" then
        local s = field(r, 1, 4)
        if s then
            tree:add(F.blk_states, s, bits_text(s))
        end
        return "Состояния блокировок", "БЛК", false
    elseif kind == "ts_event" then
        if empty then
            return "Событие ТС (пустая позиция архива)", KVTB, false
        end
        local input = band(r.sub, 0x1F) + 1
        tree:add(F.ts_input, r.sub_range, input)
        tree:add(F.ts_value, r.sub_range)
        tree:add(F.ts_double, r.sub_range)
        local double = bit_set(r.sub, 0x20)
        if double then
            tree:add(F.ts_second, r.sub_range)
        end
        local s, n, a = field(r, 0, 4), field(r, 4, 2), field(r, 6, 1)
        if s then
            add_stamp(tree, s)
        end
        if n then
            tree:add_le(F.number, n)
        end
        if a then
            tree:add(F.ts_archive, a)
        end
        if s and n then
            -- The line the configurator adds to its event list.
            local line = string.format("ТС  Блок = %d Номер = %d Время =%s(%d) Значение = %d ",
                                       r.address, input, time_of_day(s:le_uint()), n:le_uint(),
                                       bit_set(r.sub, 0x80) and 1 or 0)
            if double then
                line = line .. "ДБ=" .. (bit_set(r.sub, 0x40) and "1 " or "0 ")
            end
            tree:add(F.ts_event, r.range, line)
        end
        return "Событие ТС", "ТС", false
    elseif kind == "reply" then
        tree:add(F.rec_subfunction, r.sub_range)
        local meaning = "Ответ блока"
        if d7 == 0xFF then
            meaning = "Ответ на опрос блоков"
        elseif d7 == 0x0F then
            meaning = "Ответ блока (без действия)"
        end
        return meaning, "Конф", true
    elseif kind == "tu_diag" then
        local t, v = field(r, 0, 2), field(r, 2, 2)
        if t and v then
            local tc, vc = t:uint(), v:uint()
            tree:add(F.tu_temperature_code, t)
            tree:add(F.tu_voltage_code, v)
            local volts, celsius
            if r.sub == 2 then
                volts = vc * 0.01783
                celsius = (tc * 0.0006105 - 0.986) * 1000 / 3.55
            else
                volts = vc / 10
                celsius = tc - 278
            end
            tree:add(F.tu_voltage, r.range, volts)
            tree:add(F.tu_temperature, r.range, celsius)
        end
        return "Диагностика ТУ", "ТУ Диаг", true
    elseif kind == "tu_ready" then
        local c = field(r, 1, 2)
        if c then
            tree:add(F.tu_coefficient, c)
            tree:add(F.tu_text, r.range, "Подготовка выполнена Коэф реле=" .. c:uint())
        end
        return "Готовность ТУ", "ТУ готово", true
    elseif kind == "tu_result" then
        local st = field(r, 1, 1)
        if not st then
            return "Результат ТУ", "ТУ ошибка", true -- without its status it is no success
        end
        local status = st:uint()
        local status_item = tree:add(F.tu_status, st)
        if status == 0 then
            status_item:append_text(" (выполнено)")
        elseif tu_errors[status] then
            status_item:append_text(" " .. tu_errors[status])
        end
        if status == 0 then
            local s, n = field(r, 2, 4), field(r, 6, 2)
            if s then
                add_stamp(tree, s)
            end
            if n then
                tree:add_le(F.number, n)
            end
            if s and n then
                tree:add(F.tu_text, r.range, string.format("ТУ выполнено  Время =%s(%d)",
                                                            time_of_day(s:le_uint()), n:le_uint()))
            end
            return "Результат ТУ", "ТУ OK", true
        end
        local c = field(r, 2, 2)
        if c then
            tree:add(F.tu_coefficient, c)
            local first = string.format("Ошибка Блок = %d (%d) Коэф реле=%d", r.address + 1,
                                        status, c:uint())
            tree:add(F.tu_text, r.range, first)
            tree:add(F.tu_text, r.range, tu_errors[status] or first:sub(#"Ошибка Блок = " + 1))
        end
        return "Результат ТУ", "ТУ ошибка", true
    end
    return "Запись блока", nil, false
end

------------------------------------------------------------------------------------------------
-- Records of the program's requests (to the adapter).

local function decode_request_record(r, tree)
    local f = r.function_byte
    if f == 0x01 and r.address == 0x80 then
        tree:add(F.rec_service, r.sub_range)
        if r.sub == 0x01 then
            local s = field(r, 0, 4)
            if s then
                add_stamp(tree, s)
            end
        end
        return service_subfunctions[r.sub] or "Служебный запрос"
    elseif bit_set(f, 0x80) then
        tree:add(F.rec_subfunction, r.sub_range)
        if r.sub == 0x00 then
            local o = field(r, 0, 2)
            if o then
                tree:add_le(F.cfg_offset, o)
            end
        elseif r.sub == 0x07 then
            local p = field(r, 0, 2)
            if p then
                tree:add_le(F.cfg_pointer, p)
            end
        elseif r.sub == 0x0C then
            local n, v = field(r, 0, 1), field(r, 2, 4)
            if n then
                tree:add(F.cfg_counter, n)
            end
            if v then
                tree:add_le(F.cfg_value, v)
            end
        end
        return "Запрос конфигурации: " .. (config_subfunctions[r.sub] or
                                             string.format("подфункция 0x%02X", r.sub))
    elseif f == 0x42 then
        tree:add(F.tu_relay, r.sub_range, r.sub + 1)
        return "ТУ: выбор реле"
    elseif f == 0x02 then
        return "ТУ: исполнение"
    elseif f == 0x44 then
        tree:add(F.ts_archive, r.sub_range)
        return "Запрос архива"
    end
    return "Запрос"
end

------------------------------------------------------------------------------------------------
-- The datagram

-- Adapters seen on other ports than the data port, by "address:port", learned from the
-- datagrams whose form tells the side (the keep-alive, announcements, link messages, reports).
local adapters = {}
function tavena.init()
    adapters = {}
end

local function endpoint(address, port)
    return tostring(address) .. ":" .. port
end

-- The side that sent a datagram of this form, or nil when the form does not tell.
local function sender_by_form(tvb, pinfo)
    local len = tvb:len()
    local k = tvb(0, 1):uint()
    if k == 0x80 then
        return len == 2 and "КОМП" or "Тавена"
    elseif k == 0x81 then
        return tostring(pinfo.dst) == "255.255.255.255" and "<- " or "КОМП"
    elseif k == 0x83 then
        return "Тавена"
    end
    return nil
end

-- Which side sent it, as the trace labels it: "КОМП" the program, "Тавена" the adapter,
-- "<- " the program's broadcast address reply. By the data port when it is in the packet,
-- otherwise by the adapters learned so far, the datagram's form, or its records' flags
-- (the program's requests carry 0x18).
local function sender(tvb, pinfo)
    local port = tavena.prefs.port
    if pinfo.dst_port == port and pinfo.src_port ~= port then
        return tostring(pinfo.dst) == "255.255.255.255" and "<- " or "КОМП"
    elseif pinfo.src_port == port and pinfo.dst_port ~= port then
        return "Тавена"
    end
    local by_form = sender_by_form(tvb, pinfo)
    if by_form == "Тавена" then
        adapters[endpoint(pinfo.src, pinfo.src_port)] = true
    elseif by_form == "КОМП" then
        adapters[endpoint(pinfo.dst, pinfo.dst_port)] = true
    end
    if adapters[endpoint(pinfo.src, pinfo.src_port)] then
        return "Тавена"
    elseif adapters[endpoint(pinfo.dst, pinfo.dst_port)] then
        return tostring(pinfo.dst) == "255.255.255.255" and "<- " or "КОМП"
    end
    if by_form then
        return by_form
    end
    local k = tvb(0, 1):uint()
    if not bit_set(k, 0x80) and tvb:len() >= 9 then
        return tvb(5, 1):uint() == 0x18 and "КОМП" or "Тавена"
    end
    return "?"
end

local function walk_records(tvb, tree, from_adapter)
    local len = tvb:len()
    local claimed = tvb(1, 1):uint()
    local d7 = len > 7 and tvb(7, 1):uint() or -1
    local note, first_meaning = nil, nil
    local off = 0
    local index = 0
    while off < claimed do
        local r0 = 4 + off
        if r0 + 5 > len then
            break
        end
        index = index + 1
        local dlc = tvb(r0 + 4, 1):uint()
        local available = math.min(dlc, len - (r0 + 5))
        local r = {
            function_byte = tvb(r0, 1):uint(),
            flags = tvb(r0 + 1, 1):uint(),
            address = tvb(r0 + 2, 1):uint(),
            sub = tvb(r0 + 3, 1):uint(),
            sub_range = tvb(r0 + 3, 1),
            dlc = dlc,
            available = available,
            range = tvb(r0, 5 + available),
        }
        r.data = available > 0 and tvb(r0 + 5, available) or nil
        local item = tree:add(F.record, r.range)
        r.item = item
        item:add(F.rec_function, tvb(r0, 1))
        item:add(F.rec_config, tvb(r0, 1))
        item:add(F.rec_block, tvb(r0, 1))
        item:add(F.rec_direction, tvb(r0, 1), from_adapter and "от блока" or "к блоку")
        item:add(F.rec_flags, tvb(r0 + 1, 1))
        item:add(F.rec_address, tvb(r0 + 2, 1))
        item:add(F.rec_sub, r.sub_range)
        local dlc_item = item:add(F.rec_dlc, tvb(r0 + 4, 1))
        if r.data then
            item:add(F.rec_data, r.data)
        end
        if available < dlc then
            dlc_item:add_proto_expert_info(E.dlc, string.format(
                "DLC %d выходит за конец датаграммы: есть %d байт данных", dlc, available))
        end

        local meaning, rec_note
        if from_adapter then
            if off > 0 then
                note = (note or "") .. "+"
            end
            local replaces
            meaning, rec_note, replaces = decode_block_record(r, item, d7)
            if rec_note then
                note = replaces and rec_note or ((note or "") .. rec_note)
                item:add(F.rec_note, r.range, rec_note)
            end
        else
            meaning = decode_request_record(r, item)
        end
        item:add(F.rec_kind, r.range, meaning)
        first_meaning = first_meaning or meaning
        item:set_text(string.format("Запись %d: %s, блок %d%s", index, meaning, r.address,
                                    rec_note and (" (" .. rec_note .. ")") or ""))
        off = off + dlc + 5
    end
    return note, first_meaning
end

local function dissect_adapter_datagram(tvb, pinfo, tree)
    local len = tvb:len()
    local who = sender(tvb, pinfo)
    local from_adapter = who == "Тавена"
    local root = tree:add(tavena, tvb())
    root:add(F.who, tvb(0, 0), who)
    local k = tvb(0, 1):uint()
    root:add(F.kind, tvb(0, 1))
    local note, message, seq

    if k == 0x80 and len == 2 and not from_adapter then
        message, note = "Запрос соединения (поддержание связи)", "ЗАПРОС"
    elseif k == 0x80 then
        if len >= 3 then
            local address_request = tvb(2, 1):uint() == 2
            note = address_request and "Запрос Адреса" or "Запрос соединения"
            message = "Объявление адаптера: " .. note
            local fixed = address_request and 15 or 5
            if len >= 5 then
                root:add(F.ann_major, tvb(3, 1))
                root:add(F.ann_minor, tvb(4, 1))
            end
            if address_request and len >= 15 then
                root:add(F.ann_mac, tvb(5, 6))
                root:add(F.ann_ip, tvb(11, 4))
            end
            if len > fixed then
                -- Single-byte characters up to a zero byte or the datagram's end, at most 126.
                local n = 0
                while n < 126 and fixed + n < len and tvb(fixed + n, 1):uint() ~= 0 do
                    n = n + 1
                end
                if n > 0 then
                    local text = tvb(fixed, n)
                    root:add(F.ann_text, text, text:string(ENC_WINDOWS_1251 or ENC_ASCII))
                end
            end
        else
            message = "Объявление адаптера (короткое)"
        end
    elseif k == 0x81 then
        if len == 58 and len >= 3 and tvb(1, 1):uint() == 0x37 and tvb(2, 1):uint() == 2 then
            message, note = "Ответ с адресом", "Адрес"
            root:add(F.addr_gateway, tvb(3, 4))
            root:add(F.addr_mask, tvb(7, 4))
            root:add(F.addr_mac, tvb(11, 6))
            root:add(F.addr_adapter, tvb(17, 4))
            root:add(F.addr_computer, tvb(21, 4))
        else
            -- The link start; the trace's note on its row ends as "Соединение".
            message, note = "Начало обмена", "Соединение"
            if len >= 6 and tvb(2, 1):uint() == 0x43 then
                local code = tvb(2, 3):string()
                local mode = km4_modes[code]
                message = "Начало обмена, режим KM4"
                root:add(F.link_mode, tvb(2, 4), mode or code)
                root:add(F.link_channel, tvb(3, 1), tvb(3, 1):uint() == 0x32 and 1 or 0)
            end
        end
    elseif k == 0x82 or bit_set(k, 0x20) then
        message, note = from_adapter and "Квитанция адаптера" or "Квитанция программы", "КВТ"
        if len >= 3 then
            root:add(F.seq, tvb(2, 1))
            seq = tvb(2, 1):uint()
        end
    elseif k == 0x83 then
        message, note = "Отчёт о передаче", "Передано"
        if len >= 3 then
            root:add(F.seq, tvb(2, 1))
            seq = tvb(2, 1):uint()
        end
    elseif bit_set(k, 0x80) or len < 4 then
        message = "Служебная датаграмма"
        if len > 1 then
            root:add(F.payload, tvb(1))
        end
    else
        -- A numbered datagram: header, then its records.
        root:add(F.channel, tvb(0, 1))
        local length_item = root:add(F.length, tvb(1, 1))
        if tvb(1, 1):uint() ~= len - 4 then
            length_item:add_proto_expert_info(E.length, string.format(
                "Байт длины %d, а после заголовка %d байт", tvb(1, 1):uint(), len - 4))
        end
        root:add(F.seq, tvb(2, 1))
        seq = tvb(2, 1):uint()
        local type_item = root:add(F.type, tvb(3, 1))
        local t = tvb(3, 1):uint()
        if t == 0x19 then
            message = from_adapter and "Данные блоков" or "Запрос"
            if len > 4 then
                local first
                note, first = walk_records(tvb, root, from_adapter)
                if not from_adapter and first then
                    message = first -- a request is named by its first record
                end
            end
        elseif t == 0xFD then
            message, note = "Диагностика адаптера", from_adapter and "Диагн адапт" or nil
            if len > 4 then
                root:add(F.payload, tvb(4))
            end
        else
            message, note = "Неизвестный тип сообщения", from_adapter and "ОШ № протокол" or nil
            type_item:add_proto_expert_info(E.type, string.format(
                "Неизвестный тип сообщения 0x%02X", t))
            if len > 4 then
                root:add(F.payload, tvb(4))
            end
        end
    end

    root:add(F.message, tvb(), message)
    if note then
        root:add(F.note, tvb(), note)
    end
    root:append_text(", " .. who .. " " .. (note or message))
    pinfo.cols.protocol = "Тавена"
    local info = who .. " " .. (note or message)
    if note and message then
        info = info .. " (" .. message .. ")"
    end
    if seq then
        info = info .. " №" .. seq
    end
    pinfo.cols.info = info
    return len
end

------------------------------------------------------------------------------------------------
-- The local telesignal query service

local function dissect_local_query(tvb, pinfo, tree)
    local len = tvb:len()
    local root = tree:add(tavena, tvb(), "КП Тавена: служба опроса ТС")
    pinfo.cols.protocol = "Тавена ТС"
    local first = len > 0 and tvb(0, 1):string() or ""
    local message
    if pinfo.dst_port == tavena.prefs.query_port and first == "R" and len >= 2 then
        local code = tvb(1, 1):uint()
        local row = code - 0x30 + 1
        message = "Опрос ТС"
        root:add(F.query_code, tvb(1, 1))
        root:add(F.query_row, tvb(1, 1), row)
        local target = "строка вне таблицы"
        if row >= 1 and row <= 8 then
            target = "ТС блока " .. (row - 1)
        elseif row >= 9 and row <= 16 then
            target = "блокировки блока " .. (row - 9)
        end
        root:add(F.query_target, tvb(1, 1), target)
        message = message .. ": " .. target
    elseif pinfo.src_port == tavena.prefs.query_port and first == "r" and len >= 3 then
        message = "Ответ на опрос ТС"
        root:add(F.query_code, tvb(1, 1))
        root:add(F.query_row, tvb(1, 1), tvb(1, 1):uint() - 0x30 + 1)
        if len > 3 then
            root:add(F.query_states, tvb(3), tvb(3):string())
        end
    else
        message = "Датаграмма службы опроса ТС (не запрос)"
    end
    root:add(F.message, tvb(), message)
    pinfo.cols.info = message
    return len
end

------------------------------------------------------------------------------------------------
-- Registration

function tavena.dissector(tvb, pinfo, tree)
    if tvb:len() == 0 then
        return 0
    end
    local port, query = tavena.prefs.port, tavena.prefs.query_port
    if (pinfo.dst_port == query or pinfo.src_port == query) and pinfo.dst_port ~= port and
        pinfo.src_port ~= port then
        return dissect_local_query(tvb, pinfo, tree)
    end
    return dissect_adapter_datagram(tvb, pinfo, tree)
end

-- Accepts only datagrams whose whole form is that of the protocol.
local function looks_like_tavena(tvb, pinfo)
    local len = tvb:len()
    if len < 2 then
        return false
    end
    local b = function(i)
        return tvb(i, 1):uint()
    end
    local k = b(0)
    if len == 2 then
        return (k == 0x80 or k == 0x81) and b(1) == 0
    elseif len == 3 then
        return (k == 0x82 and b(1) == 0x01) or (k == 0x83 and b(1) == 0x00)
    elseif k == 0x81 then
        if len == 58 then
            return b(1) == 0x37 and b(2) == 0x02
        end
        return len == 7 and b(1) == 0 and b(2) == 0x43 and (b(3) == 0x31 or b(3) == 0x32) and
                   (b(4) == 0x4D or b(4) == 0x53) and b(5) == 0x20 and b(6) == 0
    elseif k == 0x80 then
        local fixed = b(2) == 2 and 15 or 5
        if len < fixed then
            return false
        end
        for i = fixed, len - 1 do
            local c = b(i)
            if c == 0 then
                break
            elseif c < 0x20 then
                return false
            end
        end
        return true
    elseif band(k, 0xF8) == 0 and len >= 4 and b(1) == len - 4 then
        local t = b(3)
        if t == 0xFD then
            return true
        elseif t ~= 0x19 or len < 9 then
            return false
        end
        -- The records must fill the datagram exactly.
        local off = 0
        while off < len - 4 do
            if 4 + off + 5 > len then
                return false
            end
            off = off + b(4 + off + 4) + 5
        end
        return off == len - 4
    end
    return false
end

local function heuristic(tvb, pinfo, tree)
    if not looks_like_tavena(tvb, pinfo) then
        return false
    end
    dissect_adapter_datagram(tvb, pinfo, tree)
    return true
end

local udp_port = DissectorTable.get("udp.port")
local registered = {}
local function register_ports()
    for _, port in ipairs(registered) do
        udp_port:remove(port, tavena)
    end
    registered = {tavena.prefs.port, tavena.prefs.query_port, tavena.prefs.answer_port}
    for _, port in ipairs(registered) do
        udp_port:add(port, tavena)
    end
end
register_ports()
tavena:register_heuristic("udp", heuristic)
tavena.prefs_changed = register_ports
