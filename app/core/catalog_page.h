#pragma once
// The listing page "catalog.htm": header block, the page paragraph, a coloured
// table with a heading row and one row per record, the company block and the
// footer block.
//
//   14 " "  15 {pageparagraph}  16 " "  17 <P><CENTER>  18 <TABLE ...>  19 <TR>
//   20 heading cell k = 1..columns   21 </TR>
//   22 per record: <TR>, value cell k = 1..columns (cell 1 links to
//      {key}.htm when stacked pages are on), </TR>
//   23-35 </TABLE>, the company block   36-39 footer block

#include <QDir>
#include <QString>

#include <memory>

#include "app/core/page_blocks.h"
#include "app/core/record_source.h"
#include "app/core/settings_store.h"

namespace qm::catalog {

inline constexpr char kCatalogPageName[] = "catalog.htm";

class TextFileWriter;

// Writes catalog.htm into `workDir` from the records of `source` (opened and
// walked from its first record) and returns the number of record rows.
// Lines 1-21 are written before the source is opened, so a missing table
// leaves that much of the page. Throws FileIoError or RecordSourceError.
// With `unplaced` the finished page is handed back not yet in place, for the
// caller to Place() once the stacked pages it links exist.
int WriteCatalogPage(const CatalogSettings& settings, RecordSource& source, const QDir& workDir,
                     const DateText& dateText, std::unique_ptr<TextFileWriter>* unplaced = nullptr);

}  // namespace qm::catalog
