#include "app/core/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
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

bool WriteAll(int fd, const QByteArray& bytes) {
  const char* p = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= n;
  }
  return true;
}

// Writes `bytes` to a private temporary beside `path` and renames it over
// `path`, so readers see either the old store or the new one, never half.
bool ReplaceAtomically(const QString& path, const QByteArray& bytes) {
  QByteArray tmpl = QFile::encodeName(path) + ".XXXXXX";
  const int fd = ::mkstemp(tmpl.data());  // mode 0600
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(tmpl.constData(), QFile::encodeName(path).constData()) == 0;
  if (!ok) ::unlink(tmpl.constData());
  return ok;
}

QString Quoted(const QString& ident) { return QStringLiteral("'") + ident + QStringLiteral("'"); }

}  // namespace

struct SettingsStore::Data {
  struct Section {
    QString name;
    std::vector<std::pair<QString, QString>> values;
  };
  bool loaded = false;
  bool unreadable = false;
  std::vector<Section> sections;

  Section* Find(const QString& name) {
    for (auto& s : sections)
      if (s.name == name) return &s;
    return nullptr;
  }
  const std::pair<QString, QString>* Value(const QString& section, const QString& ident) {
    Section* s = Find(section);
    if (!s) return nullptr;
    for (const auto& v : s->values)
      if (v.first == ident) return &v;
    return nullptr;
  }
  void Parse(const QString& text);
  QByteArray Serialise() const;
};

void SettingsStore::Data::Parse(const QString& text) {
  Section* current = nullptr;
  for (QStringView line : QStringView(text).split(u'\n')) {
    if (line.endsWith(u'\r')) line.chop(1);
    const QStringView trimmed = line.trimmed();
    if (trimmed.startsWith(u'[') && trimmed.endsWith(u']')) {
      const QString name = trimmed.mid(1, trimmed.size() - 2).toString();
      current = Find(name);
      if (!current) current = &sections.emplace_back(Section{name, {}});
      continue;
    }
    const qsizetype eq = line.indexOf(u'=');
    if (!current || eq < 0 || trimmed.startsWith(u';') || trimmed.startsWith(u'#')) continue;
    const QString ident = line.left(eq).toString();
    const QString value = Unescape(line.mid(eq + 1).toString());
    bool replaced = false;
    for (auto& v : current->values)
      if (v.first == ident) v.second = value, replaced = true;
    if (!replaced) current->values.emplace_back(ident, value);
  }
}

QByteArray SettingsStore::Data::Serialise() const {
  QString text;
  for (const auto& s : sections) {
    text += QLatin1Char('[') + s.name + QLatin1String("]\n");
    for (const auto& v : s.values) text += v.first + QLatin1Char('=') + Escape(v.second) + QLatin1Char('\n');
    text += QLatin1Char('\n');
  }
  return text.toUtf8();
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
  if (!file.exists()) return;
  if (!file.open(QIODevice::ReadOnly)) {
    m_data->unreadable = true;
    return;
  }
  m_data->Parse(QString::fromUtf8(file.readAll()));
}

QString SettingsStore::ReadString(const QString& section, const QString& ident,
                                  const QString& def) const {
  Load();
  if (m_data->unreadable) throw SettingsError(("Failed to get data for " + Quoted(ident)).toStdString());
  const auto* v = m_data->Value(section, ident);
  if (!v) return def;
  // The store's values end at the first NUL, as every other copy of it reads them.
  const qsizetype nul = v->second.indexOf(QChar(0));
  return nul < 0 ? v->second : v->second.left(nul);
}

bool SettingsStore::ValueExists(const QString& section, const QString& ident) const {
  Load();
  return m_data->Value(section, ident) != nullptr;
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
  if (m_data->unreadable || ident.contains(u'=') || ident.contains(u'\n') || ident.contains(u'\r'))
    throw SettingsError(("Failed to set data for " + Quoted(ident)).toStdString());
  if (section.contains(u']') || section.contains(u'\n') || section.contains(u'\r'))
    throw SettingsError(("Failed to create key " + section).toStdString());
  Data::Section* s = m_data->Find(section);
  if (!s) s = &m_data->sections.emplace_back(Data::Section{section, {}});
  bool found = false;
  for (auto& v : s->values)
    if (v.first == ident) v.second = value, found = true;
  if (!found) s->values.emplace_back(ident, value);
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
  if (!QDir().mkpath(dir)) throw SettingsError(("Failed to create key " + section).toStdString());
  if (!ReplaceAtomically(m_path, m_data->Serialise()))
    throw SettingsError(("Failed to set data for " + Quoted(ident)).toStdString());
}

std::vector<SettingsStore::Entry> SettingsStore::Entries() const {
  Load();
  if (m_data->unreadable)
    throw SettingsError(("Failed to get data for " + Quoted(QLatin1String(kStoreName))).toStdString());
  std::vector<Entry> out;
  for (const auto& s : m_data->sections)
    for (const auto& v : s.values) out.push_back({s.name, v.first, v.second});
  return out;
}

}  // namespace qm::catalog
