#ifndef TESTTRANSPORT_H
#define TESTTRANSPORT_H

#include "TComSerial.h"

#include <memory>

// The transport the protocol tests drive the pseudo-terminal with.
std::unique_ptr<TComSerial> makeTestTransport();

#endif // TESTTRANSPORT_H
