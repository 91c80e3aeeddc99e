#ifndef APPLANGUAGE_H
#define APPLANGUAGE_H

#include <QString>
#include <QStringList>

class QTranslator;

// The one translator of the process. Start-up loads it, the window's
// language buttons reload it; there is never a second one.
QTranslator &appTranslator();

// The language asked for by the command line: the value of the first "-l"
// (with the next argument) or "--language=" option, or sSystemLocale when
// there is none. A trailing "-l" leaves sSystemLocale in force. The first
// argument (the program) is not looked at; the list itself is not changed.
QString startupLanguage(const QStringList &args, const QString &sSystemLocale);

// Translation file name for a language: the executable's base name (file name
// without directory and without anything from the first dot on), "_" and the
// language, e.g. "servoprog_de_DE".
QString translationFileName(const QString &sExecutable, const QString &sLanguage);

// Removes the application translator, loads sName from sDirectory with the
// toolkit's standard search (".qm" suffix, then cutting the name at its last
// "_" or "." step by step) and installs it again when loading succeeded.
// Returns whether a file was loaded; without one the built-in English texts
// show. With SERVOPROG_TRACE_TRANSLATION set in the environment the outcome
// is written to standard error, so tests and users can see which file won.
bool installAppTranslation(const QString &sName, const QString &sDirectory);

#endif // APPLANGUAGE_H
