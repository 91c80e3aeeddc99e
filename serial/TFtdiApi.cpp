#include "TFtdiApi.h"

#ifdef SERVOPROG_HAVE_LIBFTDI
#include "TFtdiApiLibftdi.h"
#else
namespace {

// Built without libftdi1: no converter is ever found and nothing opens, so
// the FTDI transport fails cleanly with "cannot open". Callers take nothing
// from the out-parameters of a failed call.
class TFtdiApiNone : public TFtdiApi
{
public:
    int open(int, Handle &) override { return -1; }
    int openByLocation(uint32_t, Handle &) override { return -1; }
    int close(Handle) override { return -1; }
    int setDataCharacteristics(Handle, uint8_t, uint8_t, uint8_t) override { return -1; }
    int setFlowControl(Handle, uint16_t, uint8_t, uint8_t) override { return -1; }
    int setLatencyTimer(Handle, uint8_t) override { return -1; }
    int setBaudRate(Handle, uint32_t) override { return -1; }
    int setTimeouts(Handle, uint32_t, uint32_t) override { return -1; }
    int getQueueStatus(Handle, uint32_t &) override { return -1; }
    int read(Handle, uint8_t *, uint32_t, uint32_t &) override { return -1; }
    int write(Handle, const uint8_t *, uint32_t, uint32_t &) override { return -1; }
    int purge(Handle, uint32_t) override { return -1; }
    int createDeviceInfoList(uint32_t &nDevices) override
    {
        nDevices = 0;
        return 0;
    }
    int getDeviceInfoList(QVector<DeviceNode> &, uint32_t &) override { return -1; }
    int getComPortNumber(Handle, int32_t &) override { return -1; }
};

} // namespace
#endif

TFtdiApi &defaultFtdiApi()
{
#ifdef SERVOPROG_HAVE_LIBFTDI
    static TFtdiApiLibftdi api;
#else
    static TFtdiApiNone api;
#endif
    return api;
}
