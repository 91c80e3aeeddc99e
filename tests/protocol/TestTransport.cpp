#include "TestTransport.h"

#include "PtyTransport.h"

std::unique_ptr<TComSerial> makeTestTransport()
{
    return std::make_unique<PtyTransport>();
}
