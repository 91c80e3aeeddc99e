#ifndef CLIPORTS_H
#define CLIPORTS_H

#include <QString>
#include <QStringList>

// The ports a command line names, made ready to open: usb: identities and
// links such as /dev/serial/by-id/... (PortResolver.h) are looked up in the
// port list, which is read once and only when one of them needs it; every
// other text stays as it is. Each port that resolves to another name is
// announced on standard output. Returns ExitOk, or the exit status after the
// refusal (with the candidates) was reported: 1 when no port or several fit,
// for the same command succeeds once the converter is plugged in or named
// uniquely; 2 for a usb: text that is no identity at all.
int resolveCliPorts(const char *sCommand, const QStringList &given, QStringList &resolved);

#endif // CLIPORTS_H
