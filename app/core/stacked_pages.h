#pragma once
// The stacked pages, one per product, named {key}.htm, and the upload list
// upload.txt ("catalog.htm", then every page name in the order visited).
//
//   1-13 header block   14 <P>   15 " "   16 <CENTER><TABLE WIDTH="70%" ...><TD>
//   17 <P><B>{heading k}: </B>{value k}   for k = 1..columns
//   18 <P>{SNOTES}   19 </TD></TABLE>   20 <P>
//   21 <A HREF="catalog.htm"><B>Return to Listing</B></A><P></CENTER>
//   22-25 footer block

#include <QDir>
#include <QString>

#include <functional>

#include "app/core/page_blocks.h"
#include "app/core/product_key.h"
#include "app/core/record_source.h"
#include "app/core/settings_store.h"

namespace qm::catalog {

inline constexpr char kUploadListName[] = "upload.txt";

// A key that cannot name a stacked page (product_key.h says which).
using PageNameError = ProductKeyError;

// Throws PageNameError when CheckProductKey refuses `key`.
void CheckPageKey(const QString& key);
// Throws PageNameError for the first key of `source` that CheckPageKey
// refuses; walks the open source from its first record.
void CheckPageKeys(RecordSource& source);
// The link target of a page name: percent-encoded for a URL (a key may hold
// '"', '#', '?', '%' or blanks), the file name itself unchanged.
QString PageLink(const QString& pageName);

class TextFileWriter;

// Called once per page written (1 .. record count).
using PageProgress = std::function<void(int pagesDone)>;

// Writes upload.txt and one page per record of `source` (walked again from its
// first record; the source must be open) into `workDir`. A refused key stops
// the run before its name reaches upload.txt or any file is created for it.
// Throws FileIoError, RecordSourceError or PageNameError; files written so far
// stay. Returns the number of pages written. `catalog`, the finished listing
// page that links these pages, is put in place after the last page and before
// upload.txt, so that no run stopped part way leaves a link to a missing page.
int WriteStackedPages(const CatalogSettings& settings, RecordSource& source, const QDir& workDir,
                      const DateText& dateText, const PageProgress& progress, TextFileWriter* catalog = nullptr);

}  // namespace qm::catalog
