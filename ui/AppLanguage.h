#ifndef APPLANGUAGE_H
#define APPLANGUAGE_H

#include <QString>
#include <QStringList>

class QTranslator;

// The one translator of the program's own texts. Start-up loads it, the
// window's language buttons reload it; there is never a second one for them.
QTranslator &appTranslator();

// The translator of Qt's own texts (the buttons of message boxes and file
// dialogs). It follows the application translator: loaded, installed and
// removed together with it, always in the same language.
QTranslator &qtTranslator();

// The language asked for by the command line: the value of the first "-l"
// (with the next argument) or "--language=" option, or sSystemLocale when
// there is none. A trailing "-l" leaves sSystemLocale in force. The first
// argument (the program) is not looked at; the list itself is not changed.
QString startupLanguage(const QStringList &args, const QString &sSystemLocale);

// Switches the running program to sLanguage: its own translation (named
// after the executable, beside it or in the installed data folder; without
// one the built-in English texts show) and, when that was found, Qt's own
// texts in the same language from Qt's translation folder. Without the
// program's translation Qt's stays out as well, so buttons never speak
// another language than the window.
bool installLanguage(const QString &sLanguage);

#endif // APPLANGUAGE_H
