// Typed access to the values of the settings store.
#include <QStringList>

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

}  // namespace qm::catalog
