#include "app/core/stacked_pages.h"

#include <QUrl>

#include "app/core/catalog_page.h"

namespace qm::catalog {

namespace {

void WritePage(TextFileWriter& out, const CatalogSettings& s, const RecordSource& source,
               const QString& date) {
  WriteHeaderBlock(out, s, date);
  out.WriteLine(u"<P>");
  out.WriteLine(u" ");
  out.WriteLine(u"<CENTER><TABLE WIDTH=\"70%\" CELLPADDING=\"10\"><TD>");
  for (int k = 1; k <= s.ColumnCount(); ++k)
    out.WriteText(QStringLiteral("<P><B>") + s.fieldHeadings[k - 1] + QStringLiteral(": </B>") +
                  source.FieldText(k));
  out.WriteText(QStringLiteral("<P>") + source.MemoText());
  out.WriteLine(u"</TD></TABLE>");
  out.WriteLine(u"<P>");
  out.WriteLine(u"<A HREF=\"catalog.htm\"><B>Return to Listing</B></A><P></CENTER>");
  WriteFooterBlock(out);
}

}  // namespace

void CheckPageKey(const QString& key) { CheckProductKey(key); }

void CheckPageKeys(RecordSource& source) {
  for (source.First(); !source.Eof(); source.Next()) CheckPageKey(source.FieldText(1));
}

QString PageLink(const QString& pageName) {
  return QString::fromLatin1(QUrl::toPercentEncoding(pageName, "-._~!$&'()*+,;=:@"));
}

int WriteStackedPages(const CatalogSettings& settings, RecordSource& source, const QDir& workDir,
                      const DateText& dateText, const PageProgress& progress, TextFileWriter* catalog) {
  const QString listName = QLatin1String(kUploadListName);
  TextFileWriter list(workDir.filePath(listName), listName);
  list.WriteLine(QString::fromLatin1(kCatalogPageName));
  int pages = 0;
  for (source.First(); !source.Eof(); source.Next()) {
    const QString key = source.FieldText(1);
    CheckPageKey(key);
    const QString pageName = key + QStringLiteral(".htm");
    list.WriteLine(pageName);
    TextFileWriter page(workDir.filePath(pageName), pageName);
    WritePage(page, settings, source, dateText());
    page.Close();
    if (progress) progress(++pages);
    else ++pages;
  }
  if (catalog != nullptr) catalog->Place();
  list.Close();
  return pages;
}

}  // namespace qm::catalog
