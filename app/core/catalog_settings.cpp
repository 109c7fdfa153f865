// Typed access to the values of the settings store.
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

#include "app/core/settings_store.h"

namespace qm::catalog {

namespace {
QString Text(const SettingsStore& store, const char* section, const char* ident) {
  return store.ReadString(QLatin1String(section), QLatin1String(ident), QString());
}
}  // namespace

CatalogSettings CatalogSettings::Read(const SettingsStore& store) {
  using namespace settings;
  CatalogSettings s;
  s.name = Text(store, kCompanyInfo, "Name");
  s.address = Text(store, kCompanyInfo, "Address");
  s.city = Text(store, kCompanyInfo, "City");
  s.prov = Text(store, kCompanyInfo, "Prov");
  s.pcode = Text(store, kCompanyInfo, "Pcode");
  s.tel = Text(store, kCompanyInfo, "Tel");
  s.email = Text(store, kCompanyInfo, "Email");
  s.pageTitle = Text(store, kWebPageSetup, "pagetitle");
  s.pageColor = Text(store, kWebPageSetup, "pagecolor");
  s.pageFontColor = Text(store, kWebPageSetup, "pagefontcolor");
  s.pageHeading = Text(store, kWebPageSetup, "pageheading");
  s.pageParagraph = Text(store, kWebPageSetup, "pageparagraph");
  s.tableHeadingFontColor = Text(store, kTableSetup, "tableheadingfontcolor");
  s.tableHeadingBkColor = Text(store, kTableSetup, "tableheadingbkcolor");
  s.tableCellFontColor = Text(store, kTableSetup, "tablecellfontcolor");
  s.tableCellBkColor = Text(store, kTableSetup, "tablecellbkcolor");
  for (int k = 0; k < kMaxColumns; ++k)
    s.fieldHeadings[k] = store.ReadString(QLatin1String(kDatabase), QStringLiteral("Field%1").arg(k + 1), {});
  s.columns = store.ReadInteger(QLatin1String(kDatabase), QLatin1String(kColumns), kDefaultColumns);
  s.useStackedPages = store.ReadBool(QLatin1String(kStackedPages), QLatin1String(kUseStackedPages), false);
  return s;
}

int CatalogSettings::ColumnCount() const {
  if (columns <= 0) return 0;
  return columns > kMaxColumns ? kMaxColumns : columns;
}

SiteSettings SiteSettings::Read(const SettingsStore& store) {
  using namespace settings;
  return SiteSettings{Text(store, kSiteSetup, kRemoteAddress), Text(store, kSiteSetup, kUserName),
                      Text(store, kSiteSetup, kRemoteDirectory), Text(store, kSiteSetup, kRemotePassword)};
}

void SiteSettings::Write(SettingsStore& store) const {
  const QString section = QLatin1String(settings::kSiteSetup);
  store.WriteString(section, QLatin1String(settings::kRemoteAddress), remoteAddress);
  store.WriteString(section, QLatin1String(settings::kUserName), userName);
  store.WriteString(section, QLatin1String(settings::kRemoteDirectory), remoteDirectory);
  store.WriteString(section, QLatin1String(settings::kRemotePassword), remotePassword);
}

const std::vector<SettingInfo>& KnownSettings() {
  using namespace settings;
  using K = SettingKind;
  static const std::vector<SettingInfo> known = {
      {kCompanyInfo, "Name", K::kText, 0, "Company Name"},
      {kCompanyInfo, "Address", K::kText, 0, "Company Address"},
      {kCompanyInfo, "City", K::kText, 0, "City"},
      {kCompanyInfo, "Prov", K::kText, 0, "Prov/State"},
      {kCompanyInfo, "Pcode", K::kText, 0, "Postal Code/ZIP"},
      {kCompanyInfo, "Tel", K::kText, 0, "Telephone"},
      {kCompanyInfo, "Email", K::kText, 0, "E-Mail"},
      {kWebPageSetup, "pagetitle", K::kText, 0, "Page Title"},
      {kWebPageSetup, "pagecolor", K::kColour, 0, "Page Color"},
      {kWebPageSetup, "pagefontcolor", K::kColour, 0, "page Font Color"},
      {kWebPageSetup, "pageheading", K::kText, 0, "Main Heading"},
      {kWebPageSetup, "pageparagraph", K::kMultiLineText, 255, "catalog paragraph"},
      {kTableSetup, "tableheadingfontcolor", K::kColour, 0, "heading Font Color"},
      {kTableSetup, "tableheadingbkcolor", K::kColour, 0, "heading Bkgrnd Color"},
      {kTableSetup, "tablecellfontcolor", K::kColour, 0, "cell Font Color"},
      {kTableSetup, "tablecellbkcolor", K::kColour, 0, "cell Bkgrnd Color"},
      {kSiteSetup, kRemoteAddress, K::kText, 0, "Remote Address (FTP host name)"},
      {kSiteSetup, kUserName, K::kText, 0, "User Name"},
      {kSiteSetup, kRemoteDirectory, K::kText, 0, "Remote Directory (prefix of remote file names)"},
      {kSiteSetup, kRemotePassword, K::kPassword, 0, "Login Password (stored as plain text)"},
      {kSiteSetup, "connection mode", K::kChoice, 0, "data connection (automatic tries EPSV, PASV, PORT)",
       "automatic|passive|active"},
      {kSiteSetup, "passive address", K::kChoice, 0,
       "where passive data connections go: the control connection's host, or the server's address (NAT)",
       "control|server"},
      {kSiteSetup, "TLS", K::kChoice, 0, "TLS on the connection", "required|if offered|plain"},
      {kSiteSetup, "connections", K::kChoice, 0, "pages sent at once, each over its own connection (default 4)",
       "1|2|3|4|5|6|7|8|9|10|11|12|13|14|15|16"},
      {kSiteSetup, "trusted certificate", K::kText, 0, "SHA-256 fingerprint of a server certificate to trust"},
      {kSiteSetup, "mode that worked", K::kText, 0, "data connection that worked last (kept by the upload)"},
      {kStackedPages, kStackedText, K::kMultiLineText, 0, "Default Text of a new product's memo"},
      {kStackedPages, kUseStackedPages, K::kSwitch, 0, "\"Yes\": one page per product"},
      {kDatabase, "Field1", K::kText, 0, "Field One (heading of catalog column 1)"},
      {kDatabase, "Field2", K::kText, 0, "Field Two (heading of catalog column 2)"},
      {kDatabase, "Field3", K::kText, 0, "Field Three (heading of catalog column 3)"},
      {kDatabase, "Field4", K::kText, 0, "Field Four (heading of catalog column 4)"},
      {kDatabase, "Field5", K::kText, 0, "Field Five (heading of catalog column 5)"},
      {kDatabase, kColumns, K::kColumnCount, 0, "number of catalog columns"},
      {"Main Window", "folder", K::kText, 0, "catalog folder the window used last"},
  };
  return known;
}

const SettingInfo* FindSetting(const QString& section, const QString& ident) {
  for (const SettingInfo& info : KnownSettings())
    if (section == QLatin1String(info.section) && ident == QLatin1String(info.ident)) return &info;
  return nullptr;
}

QString SettingKindName(SettingKind kind) {
  switch (kind) {
    case SettingKind::kText: return QStringLiteral("text");
    case SettingKind::kMultiLineText: return QStringLiteral("text, several lines");
    case SettingKind::kColour: return QStringLiteral("colour name or #RRGGBB");
    case SettingKind::kColumnCount: return QStringLiteral("whole number 0 to %1").arg(kMaxColumns);
    case SettingKind::kSwitch: return QStringLiteral("0 (off) or 1 (on)");
    case SettingKind::kPassword: return QStringLiteral("password");
    case SettingKind::kChoice: return QStringLiteral("one of the listed words");
  }
  return {};
}

QString SettingValueProblem(const SettingInfo& info, const QString& value) {
  const QString takes = QStringLiteral("%1 %2 takes ").arg(QLatin1String(info.section), QLatin1String(info.ident));
  switch (info.kind) {
    case SettingKind::kColumnCount: {
      bool ok = false;
      const int n = value.toInt(&ok);
      const bool digitsOnly = !value.isEmpty() && std::all_of(value.begin(), value.end(), [](QChar c) {
        return c >= u'0' && c <= u'9';
      });
      if (!ok || !digitsOnly || n > kMaxColumns) return takes + SettingKindName(info.kind);
      return {};
    }
    case SettingKind::kSwitch:
      if (value != QLatin1String("0") && value != QLatin1String("1")) return takes + SettingKindName(info.kind);
      return {};
    case SettingKind::kChoice:
      if (!QString::fromLatin1(info.choices).split(u'|').contains(value))
        return takes + QString::fromLatin1(info.choices).split(u'|').join(QStringLiteral(", "));
      return {};
    case SettingKind::kMultiLineText:
      break;
    case SettingKind::kColour:
      // Empty leaves the colour to the browser.
      if (!value.isEmpty() && !HasColourShape(value))
        return takes + QStringLiteral("a colour name (a word such as navy), #RGB or #RRGGBB");
      return {};
    default:
      // The dialog's edits hold one line; a line break would split the page's markup.
      if (value.contains(u'\n') || value.contains(u'\r')) return takes + QStringLiteral("one line of text");
  }
  if (info.maxLength > 0 && value.size() > info.maxLength)
    return takes + QStringLiteral("at most %1 characters, not %2").arg(info.maxLength).arg(value.size());
  return {};
}

bool HasColourShape(const QString& text) {
  static const QRegularExpression shape(QStringLiteral("^(#[0-9A-Fa-f]{3}|#[0-9A-Fa-f]{6}|[A-Za-z]+)$"));
  return shape.match(text).hasMatch();
}

}  // namespace qm::catalog
