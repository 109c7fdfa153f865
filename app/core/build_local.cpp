#include "app/core/build_local.h"

#include "app/core/catalog_page.h"
#include "app/core/stacked_pages.h"

namespace qm::catalog {

BuildResult BuildLocal(const CatalogSettings& settings, RecordSource& source, BuildObserver& observer,
                       const BuildOptions& options) {
  BuildResult result;
  result.recordCount = WriteCatalogPage(settings, source, options.workDir, options.dateText);
  observer.CatalogCreated();
  if (!settings.useStackedPages) return result;  // upload.txt and old pages stay as they are

  result.stackedPages = true;
  source.First();
  observer.PagesStarted(result.recordCount);
  try {
    WriteStackedPages(settings, source, options.workDir, options.dateText,
                      [&observer](int done) { observer.PageWritten(done); });
  } catch (...) {
    observer.PagesAborted();
    throw;
  }
  observer.PagesCreated();
  return result;
}

BuildResult BuildLocal(RecordSource& source, BuildObserver& observer, const BuildOptions& options) {
  const CatalogSettings settings = CatalogSettings::Read(SettingsStore());
  return BuildLocal(settings, source, observer, options);
}

}  // namespace qm::catalog
