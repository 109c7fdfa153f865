#include "app/core/page_blocks.h"

#include <QDate>
#include <QLocale>

namespace qm::catalog {

QString ShortDateToday() {
  return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
}

void WriteHeaderBlock(TextFileWriter& out, const CatalogSettings& s, const QString& date) {
  out.WriteLine(u"<!-- Built with Quillmart from Lumenfold");
  out.WriteText(QStringLiteral("for ") + s.name);
  out.WriteLine(QStringLiteral("Last Update ... ") + date + QStringLiteral("  -->"));
  out.WriteLine(u"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\">");
  out.WriteLine(u" ");
  out.WriteLine(u"<HTML>");
  out.WriteLine(u"<HEAD>");
  // Pages are UTF-8: served without this line, "Crème" shows as "CrÃ¨me".
  out.WriteLine(u"<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=utf-8\">");
  out.WriteText(QStringLiteral("       <TITLE>") + s.pageTitle + QStringLiteral("</TITLE>"));
  out.WriteLine(u"</HEAD>");
  out.WriteLine(u" ");
  out.WriteText(QStringLiteral("<BODY BGCOLOR=\"") + s.pageColor + QStringLiteral("\" TEXT=\"") +
                s.pageFontColor + QStringLiteral("\" >"));
  out.WriteText(QStringLiteral("<H2 align=center>") + s.pageHeading + QStringLiteral("</H2>"));
  out.WriteLine(u"<HR align=\"center\" width=\"80%\">");
}

void WriteFooterBlock(TextFileWriter& out) {
  out.WriteLine(u"<HR align=\"center\" width=\"80%\">");
  // Quillmart has no public home page, so the credit links nowhere.
  out.WriteLine(u"<CENTER><FONT SIZE=\"-2\">Prepared with Quillmart from Lumenfold</FONT></CENTER>");
  out.WriteLine(u"</BODY>");
  out.WriteLine(u"</HTML>");
}

}  // namespace qm::catalog
