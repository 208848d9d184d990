// SPDX-License-Identifier: GPL-3.0-or-later
#include "fielddata/telecontrol.h"

#include "exchange/linkcore.h"
#include "exchange/tracelog.h"
#include "support/byteorder.h"
#include "support/eventwait.h"
#include "support/localtext.h"

Telecontrol::Telecontrol(LinkCore& link, TraceLog& trace, QObject* parent)
    : QObject(parent), link_(link), trace_(trace)
{
    Timer3.setObjectName(QStringLiteral("Timer3"));
    Timer3.setInterval(GuardInterval);
    Timer3.setTimerType(Qt::PreciseTimer);
    connect(&Timer3, &QTimer::timeout, this, &Telecontrol::Timer3Timer);
    for (int b = 0; b < Blocks; ++b) {
        BlockItems << QStringLiteral("%1 Блок ТУ").arg(b);
        BlockChecked << false;
    }
}

TPacket Telecontrol::SelectCommand(int address, int relay)
{
    return packet::Request(packet::FunctionTu, packet::RequestFlags, uint8_t(address),
                           uint8_t(relay - 1), {0x00});
}

TPacket Telecontrol::ExecuteCommand(int address)
{
    // The execute command repeats the block address where the select command has the relay.
    return packet::Request(0x02, packet::RequestFlags, uint8_t(address), uint8_t(address), {0x00});
}

void Telecontrol::AddEvent(const QString& line)
{
    TuEvent.append(line);
    emit tuEventAdded(line);
}

bool Telecontrol::Operate()
{
    const auto operation = link_.Operations.Begin(QStringLiteral("телеуправление"));
    return operation && Command();
}

bool Telecontrol::Operate(int address, int relay)
{
    const auto operation = link_.Operations.Begin(QStringLiteral("телеуправление"));
    return operation && Command(address, relay);
}

bool Telecontrol::Command()
{
    return Exchange(Address, Relay);
}

bool Telecontrol::Command(int address, int relay)
{
    return Exchange(address, relay);
}

bool Telecontrol::Exchange(const int& address, int relay)
{
    running_ = true;
    TuResultArrived = false;
    TuPreparing = true;
    const Sent select = link_.SendRequest(SelectCommand(address, relay));
    if (select == Sent::Stopped) {
        TuPreparing = false;
        running_ = false;
        return false;
    }
    // The note belongs to the select command's row; with the link closed there is none.
    if (select == Sent::Done)
        trace_.TraceNote(QStringLiteral("ТУ установить"));
    TuEvent.clear();
    emit tuEventCleared();
    AddEvent(QStringLiteral(" Команда выдана"));
    Timer3.start();

    bool stopped = false;
    while (!TuResultArrived && !stopped) {
        eventwait::WaitWhile([this] { return !TuResultArrived && TuPreparing; });
        stopped = eventwait::Closing();
        if (TuResultArrived || stopped)
            break;
        // The block is ready: execute.
        TuPreparing = true;
        const Sent execute = link_.SendRequest(ExecuteCommand(address));
        stopped = execute == Sent::Stopped;
        if (stopped)
            break;
        if (execute == Sent::Done)
            trace_.TraceNote(QStringLiteral("ТУ Выполнить"));
        AddEvent(QStringLiteral("Выдана команда исполнения"));
    }
    TuPreparing = false;
    Timer3.stop();
    running_ = false;
    return !stopped;
}

void Telecontrol::OperateAll()
{
    const auto operation = link_.Operations.Begin(QStringLiteral("телеуправление"));
    if (!operation)
        return;
    Relay = 1;
    emit relayChanged(Relay);
    for (int i = 0; i < 32; ++i) {
        if (!Command())
            return;
        Relay += 1;
        emit relayChanged(Relay);
    }
}

void Telecontrol::Timer3Timer()
{
    AddEvent(QStringLiteral(" Нет ответа от блока!"));
    TuResultArrived = true;
}

void Telecontrol::HandleRecord(const CanRecord& record)
{
    switch (packet::KindOf(record)) {
    case packet::RecordKind::TuDiagnostics:
        Diagnostics(record, false);
        break;
    case packet::RecordKind::TuDiagnostics2:
        Diagnostics(record, true);
        break;
    case packet::RecordKind::TuReady: {
        TuPreparing = false;
        QString line = QStringLiteral("Подготовка выполнена ");
        if (record.data.size() >= 3)
            line += QStringLiteral("Коэф реле=%1").arg(byteorder::be16(&record.data[1]));
        AddEvent(line);
        break;
    }
    case packet::RecordKind::TuResult:
        Result(record);
        TuResultArrived = true;
        break;
    default:
        break;
    }
}

void Telecontrol::Diagnostics(const CanRecord& record, bool secondForm)
{
    // A block above 7 has no line in the list; a record without both codes shows nothing.
    const int b = record.address;
    if (b >= Blocks || record.data.size() < 4)
        return;
    const int temperatureCode = byteorder::be16(&record.data[0]);
    const int voltageCode = byteorder::be16(&record.data[2]);
    const double volts = secondForm ? voltageCode / 10.0 : voltageCode * 0.01783;
    const double degrees =
        secondForm ? temperatureCode - 278.0 : (temperatureCode * 0.0006105 - 0.986) * 1000 / 3.55;
    BlockItems[b] = QStringLiteral("%1 V=%2В").arg(b).arg(FixedText(volts, 4, 1));
    BlockItems[b] += QStringLiteral(" T=%1C").arg(FixedText(degrees, 3, 0));
    BlockChecked[b] = true;
    emit blockItemChanged(b);
}

QString Telecontrol::ErrorText(int status, const QString& line1Tail)
{
    switch (status) {
    case 1:
        return QStringLiteral("(недопустимый адрес!)");
    case 2:
        return QStringLiteral("(в конф-ции неправильный тип управления!)");
    case 3:
        return QStringLiteral("(в конф-ции не указано время удержания!)");
    case 4:
    case 5:
        return QStringLiteral("(аппаратный сбой - несоотвествие выбора реле!)");
    case 6:
        return QStringLiteral("(малое сопротивление реле (замыкание)!)");
    case 7:
        return QStringLiteral("(большое сопротивление реле (обрыв)!)");
    case 8:
        return QStringLiteral("(не дождались команды подтветждения!)");
    case 10:
        return QStringLiteral("(ошибка контрольных цепей БРП!)");
    case 11:
        return QStringLiteral("(малое напряжение питания!)");
    default:
        return line1Tail;
    }
}

void Telecontrol::Result(const CanRecord& record)
{
    const auto& data = record.data;
    if (data.size() < 2) {
        // The status byte is missing: the command cannot be reported as done.
        AddEvent(QStringLiteral("Ошибка Блок = %1 (неполная запись результата)")
                     .arg(record.address + 1));
        return;
    }
    const int status = data[1];
    if (status == 0) {
        QString line = QStringLiteral("ТУ выполнено  Время =");
        if (data.size() >= 6)
            line += StampTimeText(byteorder::le32(&data[2]));
        if (data.size() >= 8)
            line += QStringLiteral("(%1)").arg(byteorder::le16(&data[6]));
        AddEvent(line);
        return;
    }
    QString tail = QStringLiteral("%1 (%2)").arg(record.address + 1).arg(status);
    if (data.size() >= 4)
        tail += QStringLiteral(" Коэф реле=%1").arg(byteorder::be16(&data[2]));
    AddEvent(QStringLiteral("Ошибка Блок = ") + tail);
    AddEvent(ErrorText(status, tail));
}
