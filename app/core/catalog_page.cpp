#include "app/core/catalog_page.h"

#include "app/core/stacked_pages.h"

namespace qm::catalog {

namespace {

QString Cell(const CatalogSettings& s, const QString& content) {
  return QStringLiteral("<TD bgcolor=\"") + s.tableCellBkColor + QStringLiteral("\"><font color=\"") +
         s.tableCellFontColor + QStringLiteral("\">") + content + QStringLiteral("</font></TD>");
}

void WriteTableStart(TextFileWriter& out, const CatalogSettings& s) {
  out.WriteLine(u" ");
  out.WriteText(s.pageParagraph);
  out.WriteLine(u" ");
  out.WriteLine(u"<P><CENTER>");
  out.WriteLine(u"<TABLE cellpadding=\"5\" border=\"3\" width=\"90%\">");
  out.WriteLine(u"<TR>");
  for (int k = 1; k <= s.ColumnCount(); ++k)
    out.WriteText(QStringLiteral("<TD align=\"center\" bgcolor=\"") + s.tableHeadingBkColor +
                  QStringLiteral("\"><font color=\"") + s.tableHeadingFontColor + QStringLiteral("\"><B>") +
                  s.fieldHeadings[k - 1] + QStringLiteral("</B></font></TD>"));
  out.WriteLine(u"</TR>");
}

void WriteRecordRow(TextFileWriter& out, const CatalogSettings& s, const RecordSource& source) {
  out.WriteLine(u"<TR>");
  for (int k = 1; k <= s.ColumnCount(); ++k) {
    const QString value = source.FieldText(k);
    if (k == 1 && s.useStackedPages)
      out.WriteText(Cell(s, QStringLiteral("<A HREF=\"") + PageLink(value + QStringLiteral(".htm")) + QStringLiteral("\">") + value +
                                QStringLiteral("</A>")));
    else
      out.WriteText(Cell(s, value));
  }
  out.WriteLine(u"</TR>");
}

void WriteCompanyBlock(TextFileWriter& out, const CatalogSettings& s) {
  out.WriteLine(u"</TABLE>");
  out.WriteLine(u"<P>");
  out.WriteLine(u"<CENTER>");
  out.WriteLine(u"<TABLE cellpadding=\"10\" width=\"50%\" border=\"3\">");
  out.WriteText(QStringLiteral("<TD bgcolor=\"") + s.tableHeadingBkColor + QStringLiteral("\" align=\"center\">"));
  out.WriteText(QStringLiteral("<FONT color=\"") + s.tableHeadingFontColor + QStringLiteral("\">"));
  out.WriteText(QStringLiteral("<B>") + s.name + QStringLiteral("</B><BR>"));
  out.WriteText(s.address + QStringLiteral("<BR>"));
  out.WriteText(s.city + QStringLiteral(", ") + s.prov + QStringLiteral(",   ") + s.pcode + QStringLiteral("<BR>"));
  out.WriteText(QStringLiteral("Telephone: ") + s.tel + QStringLiteral("<BR>"));
  out.WriteText(QStringLiteral("<A HREF=\"mailto:") + s.email + QStringLiteral("\">") + s.email +
                QStringLiteral("</A>"));
  out.WriteLine(u"</FONT></TD></TABLE>");
  out.WriteLine(u"</CENTER><P>");
}

}  // namespace

int WriteCatalogPage(const CatalogSettings& settings, RecordSource& source, const QDir& workDir,
                     const DateText& dateText, std::unique_ptr<TextFileWriter>* unplaced) {
  const QString name = QLatin1String(kCatalogPageName);
  // A key refused as a page name stops the build before any file is written.
  // A source that cannot open is left to fail at its Open below, with its own
  // message; the page's work file goes with the failure.
  if (settings.useStackedPages) {
    bool opened = true;
    try {
      source.Open();
    } catch (const RecordSourceError&) {
      opened = false;
    }
    if (opened) CheckPageKeys(source);
  }
  auto page = std::make_unique<TextFileWriter>(workDir.filePath(name), name);
  TextFileWriter& out = *page;
  WriteHeaderBlock(out, settings, dateText());
  WriteTableStart(out, settings);
  source.Open();
  source.First();
  int recordCount = 0;
  for (; !source.Eof(); source.Next()) {
    WriteRecordRow(out, settings, source);
    ++recordCount;
  }
  WriteCompanyBlock(out, settings);
  WriteFooterBlock(out);
  if (unplaced == nullptr) {
    out.Close();
  } else {
    out.Finish();
    *unplaced = std::move(page);
  }
  return recordCount;
}

}  // namespace qm::catalog
