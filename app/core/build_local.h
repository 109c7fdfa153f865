#pragma once
// Build Local: catalog.htm, then, with stacked pages on, upload.txt and one
// stacked page per product. Shared by the main window and quillmart-cli build.

#include <QDir>
#include <QString>
#include <QStringList>

#include "app/core/page_blocks.h"
#include "app/core/record_source.h"
#include "app/core/settings_store.h"

namespace qm::catalog {

inline constexpr char kCatalogCreatedMessage[] = "catalog.htm created";
inline constexpr char kStackedPagesCreatedMessage[] = "Stacked Pages Created";

// What the caller shows while the build runs. The window shows modal message
// boxes and its progress bar; the command line prints and draws a text bar.
class BuildObserver {
 public:
  virtual ~BuildObserver() = default;
  // catalog.htm is written and closed ("catalog.htm created"); with stacked
  // pages it takes its place once the pages it links are written.
  virtual void CatalogCreated() {}
  // Stacked pages start: progress range 0..recordCount, step 1.
  virtual void PagesStarted(int recordCount) {}
  virtual void PageWritten(int pagesDone) {}
  // upload.txt is closed ("Stacked Pages Created").
  virtual void PagesCreated() {}
  // The table holds these keys more than once (another program wrote them):
  // each was published once, from the first of its products in the source's
  // order, as the unique key index keeps it. Told once catalog.htm is written.
  virtual void KeysRepeated(const QStringList& keys) {}
  // The build stopped with an error after PagesStarted (the error itself is
  // thrown to the caller); lets the caller put its progress display away.
  virtual void PagesAborted() {}
};

struct BuildOptions {
  QDir workDir;                         // the working directory by default
  DateText dateText = &ShortDateToday;  // header dates
};

struct BuildResult {
  int recordCount = 0;
  bool stackedPages = false;
  QStringList repeatedKeys;  // see BuildObserver::KeysRepeated
};

// Runs the whole command with settings already read. Throws FileIoError,
// RecordSourceError or PageNameError; pages written so far stay, and a
// catalog.htm whose stacked pages were not all written does not replace the
// previous one.
BuildResult BuildLocal(const CatalogSettings& settings, RecordSource& source, BuildObserver& observer,
                       const BuildOptions& options = {});

// The same, reading the settings from the user's store first.
BuildResult BuildLocal(RecordSource& source, BuildObserver& observer, const BuildOptions& options = {});

}  // namespace qm::catalog
