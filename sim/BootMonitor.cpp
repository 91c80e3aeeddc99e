#include "BootMonitor.h"

#include "CommError.h"
#include "Lzrw3a.h"
#include "MonitorObjects.h"
#include "TBootMonitorLink.h"

#include <cstring>

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

quint32 be32(const QByteArray &data)
{
    quint32 nValue = 0;
    for (char c : data)
        nValue = (nValue << 8) | quint8(c);
    return nValue;
}

} // namespace

BootMonitor::BootMonitor(const SimGeometry &geometry, quint32 nPowerOnRate)
    : m_geometry(geometry), m_nLineRate(nPowerOnRate), m_flashBuffer(int(Flash::kBufferSize), char(0xFF)),
      m_eepromBuffer(int(Eeprom::kBufferSize), char(0xFF))
{
    for (int i = 0; i < 2; ++i) {
        m_flash[i] = std::make_unique<SimMemory>(geometry.nFlashSize, true);
        m_eeprom[i] = std::make_unique<SimMemory>(geometry.nEepromSize, false);
    }
}

bool BootMonitor::isSupportedRate(quint32 nRate)
{
    static const quint32 kRates[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    for (quint32 n : kRates) {
        if (n == nRate)
            return true;
    }
    return false;
}

QByteArray BootMonitor::u32(quint32 nValue)
{
    QByteArray data(4, 0);
    data[0] = char(nValue >> 24);
    data[1] = char(nValue >> 16);
    data[2] = char(nValue >> 8);
    data[3] = char(nValue);
    return data;
}

QString BootMonitor::objectName(quint16 nIndex, quint8 nSubindex)
{
    return QStringLiteral("%1.%2").arg(nIndex, 4, 16, QLatin1Char('0')).toUpper().arg(nSubindex);
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

BootMonitor::Result BootMonitor::busyAnswer(const QByteArray &request, int nStatus) const
{
    Result result;
    const Parsed p = parse(request);
    result.nStatus = nStatus;
    result.sObject = QStringLiteral("-");
    switch (p.nService) {
    case TBootMonitorLink::ReadObjectRequest:
        result.sService = QStringLiteral("read");
        result.sObject = objectName(p.nIndex, p.nSubindex);
        result.nLength = p.nLengthByte;
        result.response = QByteArray(5, 0);
        result.response[0] = char(TBootMonitorLink::ReadObjectResponse);
        break;
    case TBootMonitorLink::WriteObjectRequest:
        result.sService = QStringLiteral("write");
        result.sObject = objectName(p.nIndex, p.nSubindex);
        result.nLength = p.data.size();
        result.response = QByteArray(2, 0);
        result.response[0] = char(TBootMonitorLink::WriteObjectResponse);
        break;
    case TBootMonitorLink::DeviceIdentRequest:
        result.sService = QStringLiteral("ident");
        result.response = QByteArray(4, 0);
        result.response[0] = char(TBootMonitorLink::DeviceIdentResponse);
        break;
    default: result.sService = QStringLiteral("unknown"); return result;
    }
    result.response[1] = char(nStatus);
    return result;
}

BootMonitor::Result BootMonitor::handle(const QByteArray &request)
{
    Result result;
    const Parsed p = parse(request);
    result.sObject = QStringLiteral("-");
    switch (p.nService) {
    case TBootMonitorLink::ReadObjectRequest: {
        result.sService = QStringLiteral("read");
        result.sObject = objectName(p.nIndex, p.nSubindex);
        result.nLength = p.nLengthByte;
        QByteArray data;
        result.nStatus = p.bWellFormed ? readObject(p, data, result) : kStatusInconsistent;
        result.response = QByteArray(5, 0);
        result.response[0] = char(TBootMonitorLink::ReadObjectResponse);
        result.response[1] = char(result.nStatus);
        if (result.nStatus == kStatusOk)
            result.response += data;
        return result;
    }
    case TBootMonitorLink::WriteObjectRequest:
        result.sService = QStringLiteral("write");
        result.sObject = objectName(p.nIndex, p.nSubindex);
        result.nLength = p.data.size();
        result.nStatus = p.bWellFormed ? writeObject(p, result) : kStatusInconsistent;
        result.response = QByteArray(2, 0);
        result.response[0] = char(TBootMonitorLink::WriteObjectResponse);
        result.response[1] = char(result.nStatus);
        return result;
    case TBootMonitorLink::DeviceIdentRequest:
        result.sService = QStringLiteral("ident");
        result.nStatus = p.bWellFormed ? kStatusOk : kStatusInconsistent;
        result.response = QByteArray(4, 0);
        result.response[0] = char(TBootMonitorLink::DeviceIdentResponse);
        result.response[1] = char(result.nStatus);
        if (result.nStatus == kStatusOk)
            result.response += identification();
        return result;
    default:
        // A service the monitor does not know gets no answer at all, as
        // there is no response code to carry a status.
        result.sService = QStringLiteral("unknown");
        result.details << QStringLiteral("code=0x%1").arg(p.nService, 2, 16, QLatin1Char('0'));
        return result;
    }
}

QByteArray BootMonitor::identification() const
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

int BootMonitor::readObject(const Parsed &request, QByteArray &data, Result &result)
{
    const int nSub = request.nSubindex;
    switch (request.nIndex) {
    case kBaudRate:
        if (nSub != kBaudRateSub)
            return kStatusObjectUndefined;
        data = u32(m_nLineRate);
        return kStatusOk;
    case Flash::kCommand:
        if (nSub < kCommandSub || nSub > kParam3Sub)
            return kStatusObjectUndefined;
        data = u32(m_flashParam[nSub]);
        return kStatusOk;
    case Flash::kStatus:
        if (nSub < 1 || nSub > int(Flash::kStatusCount))
            return kStatusObjectUndefined;
        data = u32(m_flashStatus[nSub]);
        return kStatusOk;
    case Flash::kData:
        if (nSub < 1 || nSub > int(Flash::kBufferSize / kPieceSize))
            return kStatusObjectUndefined;
        data = m_flashBuffer.mid((nSub - 1) * int(kPieceSize), int(kPieceSize));
        return kStatusOk;
    case Eeprom::kCommand:
        if (nSub < kCommandSub || nSub > kParam3Sub)
            return kStatusObjectUndefined;
        data = u32(m_eepromParam[nSub]);
        return kStatusOk;
    case Eeprom::kStatus:
        if (nSub != 1)
            return kStatusObjectUndefined;
        data = u32(m_eepromStatus);
        return kStatusOk;
    case Eeprom::kData:
        if (nSub < 1 || nSub > int(Eeprom::kBufferSize / kPieceSize))
            return kStatusObjectUndefined;
        data = m_eepromBuffer.mid((nSub - 1) * int(kPieceSize), int(kPieceSize));
        return kStatusOk;
    default: Q_UNUSED(result); return kStatusObjectUndefined;
    }
}

int BootMonitor::writeObject(const Parsed &request, Result &result)
{
    const int nSub = request.nSubindex;
    const bool bU32 = request.data.size() == 4;
    switch (request.nIndex) {
    case kBaudRate: {
        if (nSub != kBaudRateSub)
            return kStatusObjectUndefined;
        if (!bU32)
            return kStatusInconsistent;
        const quint32 nRate = be32(request.data);
        result.details << QStringLiteral("baud=%1").arg(nRate);
        if (!isSupportedRate(nRate))
            return kStatusInvalidValue;
        // Answered at the old rate; the server switches after the answer.
        result.nNewLineRate = nRate;
        return kStatusOk;
    }
    case Flash::kCommand:
        if (nSub < kCommandSub || nSub > kParam3Sub)
            return kStatusObjectUndefined;
        if (!bU32)
            return kStatusInconsistent;
        if (nSub == kCommandSub)
            return executeFlashCommand(be32(request.data), result);
        m_flashParam[nSub] = be32(request.data);
        return kStatusOk;
    case Eeprom::kCommand:
        if (nSub < kCommandSub || nSub > kParam3Sub)
            return kStatusObjectUndefined;
        if (!bU32)
            return kStatusInconsistent;
        if (nSub == kCommandSub)
            return executeEepromCommand(be32(request.data), result);
        m_eepromParam[nSub] = be32(request.data);
        return kStatusOk;
    case Flash::kStatus:
        return nSub >= 1 && nSub <= int(Flash::kStatusCount) ? kStatusAccessTypeConflict : kStatusObjectUndefined;
    case Eeprom::kStatus: return nSub == 1 ? kStatusAccessTypeConflict : kStatusObjectUndefined;
    case Flash::kData:
    case Eeprom::kData: {
        const bool bFlash = request.nIndex == Flash::kData;
        QByteArray &buffer = bFlash ? m_flashBuffer : m_eepromBuffer;
        if (nSub < 1 || nSub > buffer.size() / int(kPieceSize))
            return kStatusObjectUndefined;
        if (request.data.size() > int(kPieceSize))
            return kStatusValueTooLarge;
        buffer.replace((nSub - 1) * int(kPieceSize), request.data.size(), request.data);
        if (bFlash)
            m_bBufferDecompressed = false;
        return kStatusOk;
    }
    default: return kStatusObjectUndefined;
    }
}

bool BootMonitor::verifyFails(bool bEqual, Result &result)
{
    ++m_nVerifyCount;
    if (!m_failingVerifies.contains(m_nVerifyCount))
        return !bEqual;
    result.details << QStringLiteral("fault=verify");
    return true;
}

int BootMonitor::executeFlashCommand(quint32 nCommand, Result &result)
{
    SimMemory &memory = *m_flash[m_nFlashDevice];
    const quint32 nAddress = m_flashParam[2];
    const quint32 nLength = m_flashParam[3];
    const QString sDev = QStringLiteral("dev=%1").arg(m_nFlashDevice);
    const QString sAddr = QStringLiteral("addr=") + hex(nAddress);
    const QString sSize = QStringLiteral("size=") + hex(nLength);
    switch (nCommand) {
    case Flash::kSelect:
        result.details << QStringLiteral("cmd=flash-select") << QStringLiteral("dev=%1").arg(nAddress);
        if (nAddress > 1)
            return kStatusInvalidValue;
        m_nFlashDevice = int(nAddress);
        return kStatusOk;
    case Flash::kDeviceInfo: {
        result.details << QStringLiteral("cmd=flash-info") << sDev;
        m_flashStatus[1] = m_geometry.nRegionCount;
        m_flashStatus[2] = memory.size();
        m_flashStatus[3] = memory.size() / m_geometry.nSectorSize;
        m_flashStatus[4] = m_geometry.nPageSize;
        return kStatusOk;
    }
    case Flash::kRegionInfo:
        result.details << QStringLiteral("cmd=flash-region") << QStringLiteral("region=%1").arg(nAddress);
        if (nAddress >= m_geometry.nRegionCount)
            return kStatusInvalidValue;
        // Every region is reported alike: start, size, sector count, sector size.
        m_flashStatus[1] = 0;
        m_flashStatus[2] = memory.size();
        m_flashStatus[3] = memory.size() / m_geometry.nSectorSize;
        m_flashStatus[4] = m_geometry.nSectorSize;
        return kStatusOk;
    case Flash::kEraseSector:
    case Flash::kCheckErase: {
        const bool bErase = nCommand == Flash::kEraseSector;
        result.details << QLatin1String(bErase ? "cmd=flash-erase" : "cmd=flash-check") << sDev << sAddr << sSize;
        if (nAddress % m_geometry.nSectorSize != 0 || nLength != m_geometry.nSectorSize)
            return kStatusInvalidValue;
        if (!memory.contains(nAddress, nLength))
            return kStatusValueTooLarge;
        if (bErase) {
            memory.erase(nAddress, nLength);
            result.nSectorsErased = 1;
            return kStatusOk;
        }
        m_flashStatus[1] = memory.isErased(nAddress, nLength) ? 0 : 1;
        result.details << QStringLiteral("result=%1").arg(m_flashStatus[1]);
        return kStatusOk;
    }
    case Flash::kRead:
        result.details << QStringLiteral("cmd=flash-read") << sDev << sAddr << sSize;
        if (nLength > Flash::kBufferSize)
            return kStatusValueTooLarge;
        if (!memory.contains(nAddress, nLength))
            return kStatusValueTooLarge;
        memory.read(nAddress, m_flashBuffer.data(), nLength);
        m_bBufferDecompressed = false;
        return kStatusOk;
    case Flash::kProgram:
        result.details << QStringLiteral("cmd=flash-program") << sDev << sAddr << sSize
                       << QStringLiteral("compressed=%1").arg(m_bBufferDecompressed ? 1 : 0);
        if (nLength > Flash::kBufferSize || !memory.contains(nAddress, nLength))
            return kStatusValueTooLarge;
        memory.program(nAddress, m_flashBuffer.constData(), nLength);
        // A flash programs page by page; a range that starts or ends inside
        // a page still costs that whole page.
        if (nLength > 0)
            result.nPagesProgrammed =
                int((nAddress + nLength - 1) / m_geometry.nPageSize - nAddress / m_geometry.nPageSize + 1);
        return kStatusOk;
    case Flash::kVerify: {
        result.details << QStringLiteral("cmd=flash-verify") << sDev << sAddr << sSize;
        if (nLength > Flash::kBufferSize || !memory.contains(nAddress, nLength))
            return kStatusValueTooLarge;
        m_flashStatus[1] = verifyFails(memory.equals(nAddress, m_flashBuffer.constData(), nLength), result) ? 1 : 0;
        result.details << QStringLiteral("result=%1").arg(m_flashStatus[1]);
        return kStatusOk;
    }
    case Flash::kDecompress: {
        // Parameter 2 is the compressed length (flag word included),
        // parameter 3 the length the block must expand to.
        result.details << QStringLiteral("cmd=flash-decompress") << QStringLiteral("clen=") + hex(nAddress) << sSize;
        if (nAddress > Flash::kBufferSize || nLength > Flash::kBufferSize)
            return kStatusValueTooLarge;
        QByteArray expanded(int(Flash::kBufferSize), 0);
        QByteArray work(int(lzrw3a::kWorkSize), 0);
        std::uint32_t nExpanded = 0;
        const int nExpand =
            expandBlock(reinterpret_cast<const std::uint8_t *>(m_flashBuffer.constData()), nAddress, work.data(),
                        reinterpret_cast<std::uint8_t *>(expanded.data()), Flash::kBufferSize, &nExpanded);
        const bool bGood = nExpand == lzrw3a::ExpandOk && nExpanded == nLength;
        if (nExpand != lzrw3a::ExpandOk)
            result.details << QStringLiteral("error=%1").arg(nExpand);
        m_flashStatus[1] = bGood ? 0 : 1;
        if (bGood) {
            std::memcpy(m_flashBuffer.data(), expanded.constData(), size_t(nExpanded));
            m_bBufferDecompressed = true;
        }
        result.details << QStringLiteral("result=%1").arg(m_flashStatus[1]);
        return kStatusOk;
    }
    default:
        result.details << QStringLiteral("cmd=flash-0x%1").arg(nCommand, 2, 16, QLatin1Char('0'));
        return kStatusInvalidValue;
    }
}

int BootMonitor::executeEepromCommand(quint32 nCommand, Result &result)
{
    SimMemory &memory = *m_eeprom[m_nEepromDevice];
    const quint32 nAddress = m_eepromParam[2];
    const quint32 nLength = m_eepromParam[3];
    const QString sDev = QStringLiteral("dev=%1").arg(m_nEepromDevice);
    const QString sAddr = QStringLiteral("addr=") + hex(nAddress);
    const QString sSize = QStringLiteral("size=") + hex(nLength);
    switch (nCommand) {
    case Eeprom::kSelect:
        result.details << QStringLiteral("cmd=eeprom-select") << QStringLiteral("dev=%1").arg(nAddress);
        if (nAddress > 1)
            return kStatusInvalidValue;
        m_nEepromDevice = int(nAddress);
        return kStatusOk;
    case Eeprom::kInfo:
        result.details << QStringLiteral("cmd=eeprom-info") << sDev;
        m_eepromStatus = memory.size();
        return kStatusOk;
    case Eeprom::kRead:
    case Eeprom::kWrite:
    case Eeprom::kVerify: {
        const char *name = nCommand == Eeprom::kRead    ? "cmd=eeprom-read"
                           : nCommand == Eeprom::kWrite ? "cmd=eeprom-write"
                                                        : "cmd=eeprom-verify";
        result.details << QLatin1String(name) << sDev << sAddr << sSize;
        if (nLength > Eeprom::kBufferSize || !memory.contains(nAddress, nLength))
            return kStatusValueTooLarge;
        if (nCommand == Eeprom::kRead) {
            memory.read(nAddress, m_eepromBuffer.data(), nLength);
        } else if (nCommand == Eeprom::kWrite) {
            memory.program(nAddress, m_eepromBuffer.constData(), nLength);
        } else {
            m_eepromStatus = verifyFails(memory.equals(nAddress, m_eepromBuffer.constData(), nLength), result) ? 1 : 0;
            result.details << QStringLiteral("result=%1").arg(m_eepromStatus);
        }
        return kStatusOk;
    }
    default:
        result.details << QStringLiteral("cmd=eeprom-0x%1").arg(nCommand, 2, 16, QLatin1Char('0'));
        return kStatusInvalidValue;
    }
}
