#include "TestTransport.h"

#include "TComSerialPort.h"

std::unique_ptr<TComSerial> makeTestTransport()
{
    return std::make_unique<TComSerialPort>();
}
