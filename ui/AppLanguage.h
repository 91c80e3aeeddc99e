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

// Translation file name for a language: the executable's base name (file name
// without directory and without anything from the first dot on), "_" and the
// language, e.g. "servoprog_de_DE".
QString translationFileName(const QString &sExecutable, const QString &sLanguage);

// Where the program's translations are looked for, in this order: the
// directory that holds the executable (a build tree, a copied program), then
// the installed data folder, found relative to the executable so that an
// installation under another root (DESTDIR, dpkg --root) finds its own files.
QStringList translationDirectories(const QString &sExecutableDir);

// Removes the application translator, loads sName from the first of
// directories that has it, each with the toolkit's standard search (".qm"
// suffix, then cutting the name at its last "_" or "." step by step), and
// installs it again when loading succeeded. Returns whether a file was
// loaded; without one the built-in English texts show. With
// SERVOPROG_TRACE_TRANSLATION set in the environment the outcome is written
// to standard error, so tests and users can see which file won.
bool installAppTranslation(const QString &sName, const QStringList &directories);

// Switches the running program to sLanguage: its own translation (file name
// from the executable, directories from translationDirectories()) and, when
// that was found, Qt's own texts in the same language from Qt's translation
// folder. Without the program's translation Qt's stays out as well, so
// buttons never speak another language than the window.
bool installLanguage(const QString &sLanguage);

#endif // APPLANGUAGE_H
