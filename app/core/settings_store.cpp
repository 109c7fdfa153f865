#include "app/core/settings_store.h"

#include "app/core/text_file_writer.h"
#include "dbf/disk_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::catalog {

namespace {

constexpr char kStoreName[] = "Quillmart.ini";

QString Escape(const QString& value) {
  QString out;
  out.reserve(value.size());
  for (QChar c : value) {
    if (c == u'\\') out += QLatin1String("\\\\");
    else if (c == u'\r') out += QLatin1String("\\r");
    else if (c == u'\n') out += QLatin1String("\\n");
    else out += c;
  }
  return out;
}

// Unknown escapes keep their backslash, so a hand-edited path such as C:\temp
// survives a read-modify-write.
QString Unescape(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c != u'\\' || i + 1 == text.size()) {
      out += c;
      continue;
    }
    const QChar n = text[i + 1];
    if (n == u'\\') out += u'\\';
    else if (n == u'r') out += u'\r';
    else if (n == u'n') out += u'\n';
    else {
      out += c;
      continue;
    }
    ++i;
  }
  return out;
}

// Writes `bytes` to a private work file beside `path` and renames it over
// `path`, so readers see either the old store or the new one, never half.
// Returns 0, or the errno of the call that failed (the work file is removed).
int ReplaceAtomically(const QString& path, const QByteArray& bytes) {
  const QByteArray target = QFile::encodeName(path);
  QByteArray work;
  const int fd = CreateWorkFile(target, S_IRUSR | S_IWUSR, work);
  if (fd < 0) return errno;
  dbf::DiskIo& disk = dbf::Disk();
  int error = 0;
  if (disk.ChangeMode(fd, S_IRUSR | S_IWUSR) != 0 ||
      !dbf::AppendAll(fd, bytes.constData(), static_cast<size_t>(bytes.size())) ||
      disk.Sync(fd) != 0)
    error = errno;
  if (disk.Close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
  if (error == 0 && disk.Rename(work.constData(), target.constData()) != 0) error = errno;
  if (error != 0) disk.Remove(work.constData());
  return error;
}

// The file a path finally names, following symbolic links (also dangling ones).
QString LinkTarget(const QString& path) {
  QString target = path;
  for (int hops = 0; hops < 40; ++hops) {
    const QFileInfo info(target);
    if (!info.isSymLink()) break;
    target = info.symLinkTarget();
  }
  return target;
}

QString Quoted(const QString& ident) { return QStringLiteral("'") + ident + QStringLiteral("'"); }

}  // namespace

// The file as lines of bytes, so a rewrite changes only the line of the value
// written: comments, lines it does not understand and bytes that are not UTF-8
// stay exactly as they were. The parsed view points into those lines.
struct SettingsStore::Data {
  struct Value {
    QString ident;
    QString value;
    std::size_t line;
  };
  struct Section {
    QString name;
    std::size_t headerLine;
    std::vector<Value> values;
  };
  bool loaded = false;
  bool unreadable = false;
  std::vector<QByteArray> lines;  // without their LF (a CR stays)
  std::vector<Section> sections;

  Section* Find(const QString& name) {
    for (auto& s : sections)
      if (s.name == name) return &s;
    return nullptr;
  }
  const Value* Find(const QString& section, const QString& ident) {
    Section* s = Find(section);
    if (!s) return nullptr;
    const Value* found = nullptr;
    for (const auto& v : s->values)
      if (v.ident == ident) found = &v;  // the last one wins, as it did when read
    return found;
  }
  void Parse();
  void Set(const QString& section, const QString& ident, const QString& value);
  QByteArray Serialise() const;
};

void SettingsStore::Data::Parse() {
  sections.clear();
  Section* current = nullptr;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    QByteArray bytes = lines[n];
    if (bytes.endsWith('\r')) bytes.chop(1);
    const QByteArray trimmed = bytes.trimmed();
    if (trimmed.startsWith('[') && trimmed.endsWith(']')) {
      const QString name = QString::fromUtf8(trimmed.mid(1, trimmed.size() - 2));
      current = Find(name);
      if (!current) current = &sections.emplace_back(Section{name, n, {}});
      continue;
    }
    const qsizetype eq = bytes.indexOf('=');
    if (!current || eq < 0 || trimmed.startsWith(';') || trimmed.startsWith('#')) continue;
    current->values.push_back(
        {QString::fromUtf8(bytes.left(eq)), Unescape(QString::fromUtf8(bytes.mid(eq + 1))), n});
  }
}

void SettingsStore::Data::Set(const QString& section, const QString& ident, const QString& value) {
  const QByteArray line = (ident + QLatin1Char('=') + Escape(value)).toUtf8();
  if (const Value* v = Find(section, ident)) {
    // A hand-written CR LF line keeps its CR.
    lines[v->line] = lines[v->line].endsWith('\r') ? line + '\r' : line;
  } else if (Section* s = Find(section)) {
    std::size_t after = s->headerLine;
    for (const auto& v : s->values) after = std::max(after, v.line);
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after + 1), line);
  } else {
    if (!lines.empty() && !lines.back().trimmed().isEmpty()) lines.emplace_back();
    lines.push_back('[' + section.toUtf8() + ']');
    lines.push_back(line);
  }
  Parse();
}

QByteArray SettingsStore::Data::Serialise() const {
  QByteArray text;
  for (const auto& line : lines) text += line + '\n';
  return text;
}

SettingsStore::SettingsStore() : SettingsStore(DefaultPath()) {}

SettingsStore::SettingsStore(const QString& path) : m_path(path), m_data(std::make_unique<Data>()) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::DefaultPath() {
  QString dir = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (dir.isEmpty()) dir = QDir::homePath() + QStringLiteral("/.config");
  return dir + u'/' + QLatin1String(kStoreName);
}

void SettingsStore::Load() const {
  if (m_data->loaded) return;
  m_data->loaded = true;
  QFile file(m_path);
  // stat follows links: a store that links to a file not made yet is absent too.
  struct stat st {};
  if (::stat(QFile::encodeName(m_path).constData(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) return;
  if (!file.open(QIODevice::ReadOnly)) {
    m_data->unreadable = true;
    return;
  }
  QByteArray bytes = file.readAll();
  if (bytes.endsWith('\n')) bytes.chop(1);
  if (!bytes.isEmpty()) {
    for (const QByteArray& line : bytes.split('\n')) m_data->lines.push_back(line);
  }
  m_data->Parse();
}

QString SettingsStore::ReadString(const QString& section, const QString& ident,
                                  const QString& def) const {
  Load();
  if (m_data->unreadable) Fail("Failed to get data for " + Quoted(ident));
  const auto* v = m_data->Find(section, ident);
  if (!v) return def;
  // The store's values end at the first NUL, as every other copy of it reads them.
  const qsizetype nul = v->value.indexOf(QChar(0));
  return nul < 0 ? v->value : v->value.left(nul);
}

bool SettingsStore::ValueExists(const QString& section, const QString& ident) const {
  Load();
  return m_data->Find(section, ident) != nullptr;
}

int SettingsStore::ReadInteger(const QString& section, const QString& ident, int def) const {
  if (!ValueExists(section, ident)) return def;
  QString text = ReadString(section, ident, QString());
  int base = 10;
  if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
    text = text.mid(2);
    base = 16;
  }
  // Only digits (and a sign for decimals): "12abc" or " 12" is not a number.
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    const bool sign = i == 0 && base == 10 && (c == u'-' || c == u'+');
    if (!sign && !(base == 16 ? isxdigit(c.unicode()) && c.unicode() < 128 : c.isDigit())) return def;
  }
  bool ok = false;
  const long long n = text.toLongLong(&ok, base);
  if (!ok) return def;
  // Hexadecimal texts denote the 32-bit pattern (0xFFFFFFFF is -1).
  if (base == 16 && n >= 0 && n <= 0xFFFFFFFFLL) return static_cast<int>(static_cast<unsigned>(n));
  if (n < INT32_MIN || n > INT32_MAX) return def;
  return static_cast<int>(n);
}

bool SettingsStore::ReadBool(const QString& section, const QString& ident, bool def) const {
  return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

void SettingsStore::WriteString(const QString& section, const QString& ident, const QString& value) {
  Load();
  // An ident the reader would take for a comment, a section or a value
  // could never be read back.
  const bool unreadableIdent = ident.isEmpty() || ident.contains(u'=') || ident.contains(u'\n') ||
                               ident.contains(u'\r') || ident.trimmed().startsWith(u'#') ||
                               ident.trimmed().startsWith(u';') || ident.trimmed().startsWith(u'[');
  if (m_data->unreadable || unreadableIdent)
    Fail("Failed to set data for " + Quoted(ident));
  if (section.contains(u']') || section.contains(u'\n') || section.contains(u'\r'))
    Fail("Failed to create key " + section);
  m_data->Set(section, ident, value);
  Save(section, ident);
}

void SettingsStore::WriteInteger(const QString& section, const QString& ident, int value) {
  WriteString(section, ident, QString::number(value));
}

void SettingsStore::WriteBool(const QString& section, const QString& ident, bool value) {
  WriteString(section, ident, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void SettingsStore::Save(const QString& section, const QString& ident) const {
  const QString dir = QFileInfo(m_path).absolutePath();
  if (!QDir().mkpath(dir)) Fail("Failed to create key " + section);
  // A store that is a symbolic link (dotfiles kept elsewhere) stays one:
  // the file it points to is replaced.
  const int error = ReplaceAtomically(LinkTarget(m_path), m_data->Serialise());
  if (error == 0) return;
  // The store keeps what the file holds: the value that could not be written
  // is read back as it was.
  *m_data = Data();
  Fail("Failed to set data for " + Quoted(ident) + " (" + QString::fromLocal8Bit(std::strerror(error)) + ")");
}

std::vector<SettingsStore::Entry> SettingsStore::Entries() const {
  Load();
  if (m_data->unreadable)
    Fail("Failed to get data for " + Quoted(QLatin1String(kStoreName)));
  std::vector<Entry> out;
  for (const auto& s : m_data->sections)
    for (const auto& v : s.values) out.push_back({s.name, v.ident, v.value});
  return out;
}

void SettingsStore::Fail(const QString& message) const {
  throw SettingsError(message.toStdString(), QFile::encodeName(m_path).toStdString());
}

std::string SettingsStore::ExposureWarning() const {
  struct stat st {};
  const QByteArray path = QFile::encodeName(m_path);
  if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  const std::string name = path.toStdString();
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  if (st.st_uid != ::geteuid())
    return name + " belongs to another user (uid " + std::to_string(st.st_uid) +
           ") and holds the FTP password";
  if ((st.st_mode & 077) != 0)
    return name + " can be read by others (mode " + mode +
           ") and holds the FTP password; chmod 600 " + name + " makes it private";
  return {};
}

}  // namespace qm::catalog
