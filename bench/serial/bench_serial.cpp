// Prints how long one request/response exchange takes through the COM-port
// transport over a pseudo-terminal, as a ratio against plain POSIX reads and
// writes on the same pty, plus the cost of sending 8 KiB blocks.
//
//   bench_serial [exchanges]

#include "TComSerialPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int requestSize = 140; // one 128-byte piece with its frame
constexpr int responseSize = 8;

// The far end: answers every complete request with a short response, and
// swallows bulk data when the request size is 0.
void peer(int nMaster, std::atomic<bool> &bStop, std::atomic<int> &nRequestSize)
{
    std::vector<char> buffer(65536);
    int nHave = 0;
    const char response[responseSize] = {1, 2, 3, 4, 5, 6, 7, 8};
    while (!bStop) {
        pollfd pfd{nMaster, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        const ssize_t nRead = ::read(nMaster, buffer.data(), buffer.size());
        if (nRead <= 0)
            continue;
        const int nSize = nRequestSize;
        if (nSize == 0)
            continue;
        nHave += int(nRead);
        while (nHave >= nSize) {
            nHave -= nSize;
            if (::write(nMaster, response, responseSize) != responseSize)
                return;
        }
    }
}

double rawExchanges(int nSlave, int nCount)
{
    const std::vector<char> request(requestSize, 0x55);
    char response[responseSize];
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < nCount; ++i) {
        if (::write(nSlave, request.data(), request.size()) != requestSize)
            return -1;
        int nGot = 0;
        while (nGot < responseSize) {
            pollfd pfd{nSlave, POLLIN, 0};
            if (::poll(&pfd, 1, 1000) <= 0)
                return -1;
            const ssize_t n = ::read(nSlave, response + nGot, size_t(responseSize - nGot));
            if (n <= 0)
                return -1;
            nGot += int(n);
        }
    }
    return double(timer.nsecsElapsed()) / 1000.0 / nCount;
}

double transportExchanges(TComSerialPort &transport, int nCount)
{
    const std::vector<uint8_t> request(requestSize, 0x55);
    uint8_t response[64];
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < nCount; ++i) {
        if (transport.write(request.data(), requestSize) != 0)
            return -1;
        uint32_t nGot = 0;
        while (nGot < responseSize) {
            uint32_t n = 0;
            if (transport.read(response, sizeof response, n) != 0)
                return -1;
            nGot += n;
        }
    }
    return double(timer.nsecsElapsed()) / 1000.0 / nCount;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int nCount = argc > 1 ? std::max(10, atoi(argv[1])) : 3000;

    int nMaster = -1, nSlave = -1;
    char sName[128] = {};
    if (::openpty(&nMaster, &nSlave, sName, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios tio;
    ::tcgetattr(nSlave, &tio);
    cfmakeraw(&tio);
    ::tcsetattr(nSlave, TCSANOW, &tio);

    std::atomic<bool> bStop{false};
    std::atomic<int> nRequestSize{requestSize};
    std::thread far(peer, nMaster, std::ref(bStop), std::ref(nRequestSize));

    rawExchanges(nSlave, nCount / 10); // warm up
    const double dRaw = rawExchanges(nSlave, nCount);

    TComSerialPort transport;
    if (transport.open(sName, 921600) != 0) {
        std::fprintf(stderr, "cannot open %s\n", sName);
        bStop = true;
        far.join();
        return 1;
    }
    transport.setTimeout(1000);
    transportExchanges(transport, nCount / 10);
    const double dTransport = transportExchanges(transport, nCount);

    // Bulk: 8 KiB blocks handed over, nobody answering.
    nRequestSize = 0;
    const std::vector<uint8_t> block(8192, 0xA5);
    const int nBlocks = 200;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < nBlocks; ++i) {
        if (transport.write(block.data(), uint32_t(block.size())) != 0) {
            std::fprintf(stderr, "bulk write failed\n");
            break;
        }
    }
    const double dBlockUs = double(timer.nsecsElapsed()) / 1000.0 / nBlocks;

    transport.close();
    bStop = true;
    far.join();
    ::close(nSlave);
    ::close(nMaster);

    std::printf("exchanges:                      %d of %d bytes out, %d back\n", nCount, requestSize, responseSize);
    std::printf("plain POSIX on the pty:         %8.1f us per exchange\n", dRaw);
    std::printf("TComSerialPort on the pty:      %8.1f us per exchange\n", dTransport);
    std::printf("ratio transport / plain:        %8.2f\n", dRaw > 0 ? dTransport / dRaw : 0.0);
    std::printf("8 KiB block handed over:        %8.1f us (%.1f MB/s)\n", dBlockUs, 8192.0 / dBlockUs);
    return dRaw > 0 && dTransport > 0 ? 0 : 1;
}
