#pragma once
// The header and footer blocks shared by catalog.htm and every stacked page.
//
//   header (14 lines)                          footer (4 lines)
//    1 <!-- Built with Quillmart from Lumenfold    <HR align="center" width="80%">
//    2 for {Name}                                  <CENTER>...Prepared with Quillmart...
//    3 Last Update ... {date}  -->                 </BODY>
//    4 <!DOCTYPE HTML PUBLIC ...>                  </HTML>
//    5 " "   6 <HTML>  7 <HEAD>  8 <META ... charset=utf-8>  9 <TITLE>  10 </HEAD>
//   11 " "   12 <BODY BGCOLOR=... TEXT=... >  13 <H2 ...>{pageheading}</H2>  14 <HR ...>
//
// Values go in unescaped: the user's settings may carry HTML on purpose.

#include <QString>

#include <functional>

#include "app/core/settings_store.h"
#include "app/core/text_file_writer.h"

namespace qm::catalog {

// Gives the date text of a page header; asked afresh for every page.
using DateText = std::function<QString()>;

// Today's date in the locale's short date format.
QString ShortDateToday();

void WriteHeaderBlock(TextFileWriter& out, const CatalogSettings& s, const QString& date);
void WriteFooterBlock(TextFileWriter& out);

}  // namespace qm::catalog
