#include "BootMonitor.h"

#include "CommError.h"
#include "Lzrw3a.h"
#include "MonitorObjects.h"
#include "TBootMonitorLink.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <iterator>

using namespace MonitorObjects;

namespace {

// Status bytes the monitor answers with (the tool's communication codes).
constexpr int kStatusOk = CommError::NoError;
constexpr int kStatusAccessTypeConflict = CommError::AccessTypeConflict; // write to a read-only object
constexpr int kStatusInconsistent = CommError::AttributeInconsistent;    // length byte and data disagree, wrong width
constexpr int kStatusObjectUndefined = CommError::ObjectUndefined;
constexpr int kStatusValueTooLarge = CommError::ValueTooLarge; // range beyond the device or buffer
constexpr int kStatusInvalidValue = CommError::InvalidValue;   // unknown command, bad device, misaligned sector

QString hex(quint32 nValue)
{
    return QStringLiteral("0x%1").arg(nValue, 8, 16, QLatin1Char('0'));
}

QByteArray u32(quint32 nValue)
{
    QByteArray data(4, 0);
    qToBigEndian(nValue, data.data());
    return data;
}

QString objectName(quint16 nIndex, quint8 nSubindex)
{
    return QStringLiteral("%1.%2").arg(nIndex, 4, 16, QLatin1Char('0')).toUpper().arg(nSubindex);
}

// The answer to the device query: three length-prefixed texts of 16 bytes.
QByteArray identification()
{
    QByteArray fields;
    const char *texts[3] = {"servoprog-sim", "boot monitor", "1.0"};
    for (const char *s : texts) {
        QByteArray field(16, ' ');
        const int n = int(std::strlen(s));
        field[0] = char(n);
        field.replace(1, n, s);
        fields += field;
    }
    return fields;
}

// What a command does; the flash and the EEPROM share the transfers.
enum class Op
{
    Select,
    DeviceInfo,
    RegionInfo,
    Size,
    EraseSector,
    CheckErase,
    Read,
    Program,
    Write,
    Verify,
    Decompress
};

// The commands each command object knows, with their names in the request log.
const struct
{
    quint16 nObject;
    quint32 nCode;
    Op op;
    const char *sName;
} kCommands[] = {
    {Flash::kCommand, Flash::kSelect, Op::Select, "select"},
    {Flash::kCommand, Flash::kDeviceInfo, Op::DeviceInfo, "info"},
    {Flash::kCommand, Flash::kRegionInfo, Op::RegionInfo, "region"},
    {Flash::kCommand, Flash::kEraseSector, Op::EraseSector, "erase"},
    {Flash::kCommand, Flash::kCheckErase, Op::CheckErase, "check"},
    {Flash::kCommand, Flash::kRead, Op::Read, "read"},
    {Flash::kCommand, Flash::kProgram, Op::Program, "program"},
    {Flash::kCommand, Flash::kVerify, Op::Verify, "verify"},
    {Flash::kCommand, Flash::kDecompress, Op::Decompress, "decompress"},
    {Eeprom::kCommand, Eeprom::kSelect, Op::Select, "select"},
    {Eeprom::kCommand, Eeprom::kInfo, Op::Size, "info"},
    {Eeprom::kCommand, Eeprom::kRead, Op::Read, "read"},
    {Eeprom::kCommand, Eeprom::kWrite, Op::Write, "write"},
    {Eeprom::kCommand, Eeprom::kVerify, Op::Verify, "verify"},
};

} // namespace

BootMonitor::BootMonitor(const SimGeometry &geometry, quint32 nPowerOnRate)
    : m_geometry(geometry), m_nLineRate(nPowerOnRate), m_flash{"flash", Flash::kCommand, Flash::kStatus, Flash::kData,
                                                               int(Flash::kStatusCount)},
      m_eeprom{"eeprom", Eeprom::kCommand, Eeprom::kStatus, Eeprom::kData, 1}
{
    m_flash.buffer.fill(char(0xFF), int(Flash::kBufferSize));
    m_eeprom.buffer.fill(char(0xFF), int(Eeprom::kBufferSize));
    for (int i = 0; i < 2; ++i) {
        m_flash.memory[i] = std::make_unique<SimMemory>(geometry.nFlashSize, true);
        m_eeprom.memory[i] = std::make_unique<SimMemory>(geometry.nEepromSize, false);
    }
}

bool BootMonitor::isSupportedRate(quint32 nRate)
{
    static const quint32 kRates[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    return std::find(std::begin(kRates), std::end(kRates), nRate) != std::end(kRates);
}

BootMonitor::Parsed BootMonitor::parse(const QByteArray &request)
{
    Parsed p;
    p.nService = quint8(request.at(0));
    if (p.nService == TBootMonitorLink::DeviceIdentRequest) {
        p.bWellFormed = request.size() == 3;
        return p;
    }
    if (request.size() < 5)
        return p;
    p.nIndex = quint16((quint8(request.at(1)) << 8) | quint8(request.at(2)));
    p.nSubindex = quint8(request.at(3));
    p.nLengthByte = quint8(request.at(4));
    p.data = request.mid(5);
    if (p.nService == TBootMonitorLink::ReadObjectRequest)
        p.bWellFormed = request.size() == 5;
    else if (p.nService == TBootMonitorLink::WriteObjectRequest)
        p.bWellFormed = (p.data.size() % 256) == p.nLengthByte && p.data.size() <= 256;
    return p;
}

// What the log and the answer say of a request before it is carried out:
// the answer's service code, with room for the status.
BootMonitor::Result BootMonitor::describe(const Parsed &request)
{
    Result result;
    result.sObject = QStringLiteral("-");
    switch (request.nService) {
    case TBootMonitorLink::ReadObjectRequest:
        result.sService = QStringLiteral("read");
        result.sObject = objectName(request.nIndex, request.nSubindex);
        result.nLength = request.nLengthByte;
        result.response = QByteArray(5, 0);
        result.response[0] = char(TBootMonitorLink::ReadObjectResponse);
        break;
    case TBootMonitorLink::WriteObjectRequest:
        result.sService = QStringLiteral("write");
        result.sObject = objectName(request.nIndex, request.nSubindex);
        result.nLength = request.data.size();
        result.response = QByteArray(2, 0);
        result.response[0] = char(TBootMonitorLink::WriteObjectResponse);
        break;
    case TBootMonitorLink::DeviceIdentRequest:
        result.sService = QStringLiteral("ident");
        result.response = QByteArray(4, 0);
        result.response[0] = char(TBootMonitorLink::DeviceIdentResponse);
        break;
    default: result.sService = QStringLiteral("unknown"); break;
    }
    return result;
}

BootMonitor::Result BootMonitor::busyAnswer(const QByteArray &request, int nStatus) const
{
    Result result = describe(parse(request));
    result.nStatus = nStatus;
    if (!result.response.isEmpty())
        result.response[1] = char(nStatus);
    return result;
}

BootMonitor::Result BootMonitor::handle(const QByteArray &request)
{
    const Parsed p = parse(request);
    Result result = describe(p);
    if (result.response.isEmpty()) {
        // A service the monitor does not know gets no answer at all, as
        // there is no response code to carry a status.
        result.details << QStringLiteral("code=0x%1").arg(p.nService, 2, 16, QLatin1Char('0'));
        return result;
    }
    QByteArray data;
    if (!p.bWellFormed)
        result.nStatus = kStatusInconsistent;
    else if (p.nService == TBootMonitorLink::ReadObjectRequest)
        result.nStatus = readObject(p, data);
    else if (p.nService == TBootMonitorLink::WriteObjectRequest)
        result.nStatus = writeObject(p, result);
    else
        data = identification();
    result.response[1] = char(result.nStatus);
    if (result.nStatus == kStatusOk)
        result.response += data;
    return result;
}

BootMonitor::CommandSet *BootMonitor::commandSet(quint16 nIndex, int nSub)
{
    // Every object counts its subindexes from 1.
    static_assert(kCommandSub == 1, "the command code is the command object's first subindex");
    for (CommandSet *pSet : {&m_flash, &m_eeprom}) {
        const int nLast = nIndex == pSet->nCommandIndex  ? int(kParam3Sub)
                          : nIndex == pSet->nStatusIndex ? pSet->nStatusCount
                          : nIndex == pSet->nDataIndex   ? pSet->buffer.size() / int(kPieceSize)
                                                         : 0;
        if (nLast > 0)
            return nSub >= 1 && nSub <= nLast ? pSet : nullptr;
    }
    return nullptr;
}

int BootMonitor::readObject(const Parsed &request, QByteArray &data)
{
    const int nSub = request.nSubindex;
    if (request.nIndex == kBaudRate && nSub == kBaudRateSub) {
        data = u32(m_nLineRate);
        return kStatusOk;
    }
    const CommandSet *pSet = commandSet(request.nIndex, nSub);
    if (!pSet)
        return kStatusObjectUndefined;
    if (request.nIndex == pSet->nCommandIndex)
        data = u32(pSet->param[nSub]);
    else if (request.nIndex == pSet->nStatusIndex)
        data = u32(pSet->status[nSub]);
    else
        data = pSet->buffer.mid((nSub - 1) * int(kPieceSize), int(kPieceSize));
    return kStatusOk;
}

int BootMonitor::writeObject(const Parsed &request, Result &result)
{
    const int nSub = request.nSubindex;
    const bool bU32 = request.data.size() == 4;
    const quint32 nValue = bU32 ? qFromBigEndian<quint32>(request.data.constData()) : 0;
    if (request.nIndex == kBaudRate) {
        if (nSub != kBaudRateSub)
            return kStatusObjectUndefined;
        if (!bU32)
            return kStatusInconsistent;
        result.details << QStringLiteral("baud=%1").arg(nValue);
        if (!isSupportedRate(nValue))
            return kStatusInvalidValue;
        // Answered at the old rate; the server switches after the answer.
        result.nNewLineRate = nValue;
        return kStatusOk;
    }
    CommandSet *pSet = commandSet(request.nIndex, nSub);
    if (!pSet)
        return kStatusObjectUndefined;
    if (request.nIndex == pSet->nStatusIndex)
        return kStatusAccessTypeConflict;
    if (request.nIndex == pSet->nCommandIndex) {
        if (!bU32)
            return kStatusInconsistent;
        if (nSub == kCommandSub)
            return executeCommand(*pSet, nValue, result);
        pSet->param[nSub] = nValue;
        return kStatusOk;
    }
    if (request.data.size() > int(kPieceSize))
        return kStatusValueTooLarge;
    pSet->buffer.replace((nSub - 1) * int(kPieceSize), request.data.size(), request.data);
    pSet->bDecompressed = false;
    return kStatusOk;
}

bool BootMonitor::verifyFails(bool bEqual, Result &result)
{
    ++m_nVerifyCount;
    if (!m_failingVerifies.contains(m_nVerifyCount))
        return !bEqual;
    result.details << QStringLiteral("fault=verify");
    return true;
}

int BootMonitor::executeCommand(CommandSet &set, quint32 nCode, Result &result)
{
    const auto *pCommand = std::find_if(std::begin(kCommands), std::end(kCommands), [&](const auto &command) {
        return command.nObject == set.nCommandIndex && command.nCode == nCode;
    });
    if (pCommand == std::end(kCommands)) {
        result.details
            << QStringLiteral("cmd=%1-0x%2").arg(QLatin1String(set.sName)).arg(nCode, 2, 16, QLatin1Char('0'));
        return kStatusInvalidValue;
    }
    result.details << QStringLiteral("cmd=%1-%2").arg(QLatin1String(set.sName), QLatin1String(pCommand->sName));
    SimMemory &memory = *set.memory[set.nDevice];
    const quint32 nAddress = set.param[kParam2Sub];
    const quint32 nLength = set.param[kParam3Sub];
    const QString sDev = QStringLiteral("dev=%1").arg(set.nDevice);
    const QString sSize = QStringLiteral("size=") + hex(nLength);
    const QStringList range{sDev, QStringLiteral("addr=") + hex(nAddress), sSize};
    switch (pCommand->op) {
    case Op::Select:
        result.details << QStringLiteral("dev=%1").arg(nAddress);
        if (nAddress > 1)
            return kStatusInvalidValue;
        set.nDevice = int(nAddress);
        return kStatusOk;
    case Op::DeviceInfo:
    case Op::RegionInfo: {
        // The device: region count, size, sector count, page size. Every
        // region is reported alike, as the whole device: start, size,
        // sector count, sector size.
        const bool bRegion = pCommand->op == Op::RegionInfo;
        result.details << (bRegion ? QStringLiteral("region=%1").arg(nAddress) : sDev);
        if (bRegion && nAddress >= m_geometry.nRegionCount)
            return kStatusInvalidValue;
        set.status[1] = bRegion ? 0 : m_geometry.nRegionCount;
        set.status[2] = memory.size();
        set.status[3] = memory.size() / m_geometry.nSectorSize;
        set.status[4] = bRegion ? m_geometry.nSectorSize : m_geometry.nPageSize;
        return kStatusOk;
    }
    case Op::Size:
        result.details << sDev;
        set.status[1] = memory.size();
        return kStatusOk;
    case Op::EraseSector:
    case Op::CheckErase:
        result.details << range;
        if (nAddress % m_geometry.nSectorSize != 0 || nLength != m_geometry.nSectorSize)
            return kStatusInvalidValue;
        if (!memory.contains(nAddress, nLength))
            return kStatusValueTooLarge;
        if (pCommand->op == Op::EraseSector) {
            memory.erase(nAddress, nLength);
            result.nSectorsErased = 1;
            return kStatusOk;
        }
        set.status[1] = memory.isErased(nAddress, nLength) ? 0 : 1;
        result.details << QStringLiteral("result=%1").arg(set.status[1]);
        return kStatusOk;
    case Op::Read:
    case Op::Program:
    case Op::Write:
    case Op::Verify:
        result.details << range;
        if (pCommand->op == Op::Program)
            result.details << QStringLiteral("compressed=%1").arg(set.bDecompressed ? 1 : 0);
        // A transfer covers at most the buffer and lies inside the device.
        if (nLength > quint32(set.buffer.size()) || !memory.contains(nAddress, nLength))
            return kStatusValueTooLarge;
        if (pCommand->op == Op::Read) {
            memory.read(nAddress, set.buffer.data(), nLength);
            set.bDecompressed = false;
        } else if (pCommand->op == Op::Verify) {
            set.status[1] = verifyFails(memory.equals(nAddress, set.buffer.constData(), nLength), result) ? 1 : 0;
            result.details << QStringLiteral("result=%1").arg(set.status[1]);
        } else {
            memory.program(nAddress, set.buffer.constData(), nLength);
            // A flash programs page by page; a range that starts or ends
            // inside a page still costs that whole page. An EEPROM write
            // takes no time of its own.
            if (pCommand->op == Op::Program && nLength > 0)
                result.nPagesProgrammed =
                    int((nAddress + nLength - 1) / m_geometry.nPageSize - nAddress / m_geometry.nPageSize + 1);
        }
        return kStatusOk;
    case Op::Decompress: {
        // Parameter 2 is the compressed length (flag word included),
        // parameter 3 the length the block must expand to.
        result.details << QStringLiteral("clen=") + hex(nAddress) << sSize;
        if (nAddress > Flash::kBufferSize || nLength > Flash::kBufferSize)
            return kStatusValueTooLarge;
        QByteArray expanded(int(Flash::kBufferSize), 0);
        QByteArray work(int(lzrw3a::kWorkSize), 0);
        std::uint32_t nExpanded = 0;
        const int nExpand =
            expandBlock(reinterpret_cast<const std::uint8_t *>(set.buffer.constData()), nAddress, work.data(),
                        reinterpret_cast<std::uint8_t *>(expanded.data()), Flash::kBufferSize, &nExpanded);
        const bool bGood = nExpand == lzrw3a::ExpandOk && nExpanded == nLength;
        if (nExpand != lzrw3a::ExpandOk)
            result.details << QStringLiteral("error=%1").arg(nExpand);
        set.status[1] = bGood ? 0 : 1;
        if (bGood) {
            std::memcpy(set.buffer.data(), expanded.constData(), size_t(nExpanded));
            set.bDecompressed = true;
        }
        result.details << QStringLiteral("result=%1").arg(set.status[1]);
        return kStatusOk;
    }
    }
    return kStatusInvalidValue;
}
