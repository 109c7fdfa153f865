#include "app/gui/work_folder.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

#include "app/core/settings_store.h"

namespace qm::gui {

namespace {
constexpr char kSection[] = "Main Window";
constexpr char kIdent[] = "folder";
}  // namespace

StartOptions ParseStartArguments(const QStringList& args) {
  StartOptions options;
  for (const QString& arg : args) {
    if (arg == u"--help" || arg == u"-h") return {StartOptions::Action::ShowHelp, {}, {}};
    if (arg == u"--version" || arg == u"-v") return {StartOptions::Action::ShowVersion, {}, {}};
    if (arg.startsWith(u'-') && arg != u"-")
      return {StartOptions::Action::Fail, {}, QStringLiteral("Unknown option: %1").arg(arg)};
    if (!options.folder.isEmpty())
      return {StartOptions::Action::Fail, {}, QStringLiteral("Give one catalog folder, not several")};
    options.folder = arg;
  }
  return options;
}

QString StartUsage() {
  return QStringLiteral(
      "usage: quillmart [FOLDER]\n"
      "Keeps a product table and publishes it as a web catalog.\n"
      "  FOLDER     the catalog folder to work in (catalog.dbf, the pages, upload.txt);\n"
      "             without it, the folder used last, else the current folder\n"
      "  --help     show this text and end\n"
      "  --version  show the version and end\n"
      "quillmart-cli does the same work from the command line.\n");
}

QString RememberedWorkFolder() {
  const catalog::SettingsStore store;
  const QString folder = store.ReadString(QLatin1String(kSection), QLatin1String(kIdent), {});
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void EnterWorkFolder(const QString& folder) {
  const QFileInfo info(folder);
  if (!info.isDir())
    throw std::runtime_error(QStringLiteral("The catalog folder %1 does not exist").arg(folder).toStdString());
  const QString path = info.absoluteFilePath();
  if (!QDir::setCurrent(path))
    throw std::runtime_error(QStringLiteral("The catalog folder %1 cannot be opened").arg(path).toStdString());
  catalog::SettingsStore store;
  store.WriteString(QLatin1String(kSection), QLatin1String(kIdent), QDir::cleanPath(path));
}

}  // namespace qm::gui
