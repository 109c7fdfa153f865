#include "app/core/build_local.h"

#include "app/core/catalog_page.h"
#include "app/core/stacked_pages.h"
#include "app/core/text_file_writer.h"

namespace qm::catalog {

BuildResult BuildLocal(const CatalogSettings& settings, RecordSource& source, BuildObserver& observer,
                       const BuildOptions& options) {
  BuildResult result;
  TextFileWriter::RemoveLeftWorkFiles(options.workDir.path());
  // With stacked pages the new catalog.htm takes its place only once every page it
  // links is written; a build stopped before keeps the previous catalog whole.
  std::unique_ptr<TextFileWriter> catalog;
  result.recordCount = WriteCatalogPage(settings, source, options.workDir, options.dateText,
                                        settings.useStackedPages ? &catalog : nullptr);
  observer.CatalogCreated();
  if (!settings.useStackedPages) return result;  // upload.txt and old pages stay as they are

  result.stackedPages = true;
  source.First();
  observer.PagesStarted(result.recordCount);
  try {
    WriteStackedPages(settings, source, options.workDir, options.dateText,
                      [&observer](int done) { observer.PageWritten(done); }, catalog.get());
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
