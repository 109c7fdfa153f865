#pragma once
// The catalog folder the program works in: every working file (catalog.dbf,
// the pages, upload.txt) is addressed by its bare name, so the folder is the
// process's current directory. `quillmart FOLDER` starts there; without an
// argument the folder used last is taken (a desktop launcher starts in the
// home folder), and File > Open Folder... switches. The folder used last is
// remembered in the settings store, section "Main Window", ident "folder".

#include <QString>
#include <QStringList>

namespace qm::gui {

struct StartOptions {
  enum class Action { Run, ShowVersion, ShowHelp, Fail };
  Action action = Action::Run;
  QString folder;  // empty: the folder used last, else the current one
  QString error;   // for Fail: what was wrong with the arguments
};

// The arguments after the program's name (Qt's own options already removed).
StartOptions ParseStartArguments(const QStringList& args);
QString StartUsage();

// The remembered folder when it still exists, else empty.
QString RememberedWorkFolder();
// Makes `folder` the working folder and remembers it. Throws
// std::runtime_error naming the folder when it cannot be entered (the
// working folder is then unchanged), and the store's SettingsError when it
// cannot be remembered (the folder is entered all the same).
void EnterWorkFolder(const QString& folder);

}  // namespace qm::gui
