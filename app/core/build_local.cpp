#include "app/core/build_local.h"

#include "app/core/catalog_page.h"
#include "app/core/stacked_pages.h"
#include "app/core/text_file_writer.h"

#include <QSet>

namespace qm::catalog {

namespace {

// The products of a source, each key once: the first product that has it. One
// page per key, one line per key in catalog.htm and upload.txt, whatever
// another program wrote into the table.
class FirstOfEachKey : public RecordSource {
 public:
  explicit FirstOfEachKey(RecordSource& products) : m_products(products) {}

  void Open() override { m_products.Open(); }
  void First() override {
    m_seen.clear();
    m_products.First();
    SkipSeen();
  }
  bool Eof() const override { return m_products.Eof(); }
  void Next() override {
    m_products.Next();
    SkipSeen();
  }
  QString FieldText(int position) const override { return m_products.FieldText(position); }
  QString MemoText() const override { return m_products.MemoText(); }
  const QStringList& Repeated() const { return m_repeated; }

 private:
  void SkipSeen() {
    for (; !m_products.Eof(); m_products.Next()) {
      const QString key = m_products.FieldText(1);
      if (!m_seen.contains(key)) {
        m_seen.insert(key);
        return;
      }
      if (!m_repeated.contains(key)) m_repeated.append(key);
    }
  }

  RecordSource& m_products;
  QSet<QString> m_seen;
  QStringList m_repeated;
};

}  // namespace

BuildResult BuildLocal(const CatalogSettings& settings, RecordSource& products, BuildObserver& observer,
                       const BuildOptions& options) {
  BuildResult result;
  FirstOfEachKey source(products);
  TextFileWriter::RemoveLeftWorkFiles(options.workDir.path());
  // With stacked pages the new catalog.htm takes its place only once every page it
  // links is written; a build stopped before keeps the previous catalog whole.
  std::unique_ptr<TextFileWriter> catalog;
  result.recordCount = WriteCatalogPage(settings, source, options.workDir, options.dateText,
                                        settings.useStackedPages ? &catalog : nullptr);
  result.repeatedKeys = source.Repeated();
  if (!result.repeatedKeys.isEmpty()) observer.KeysRepeated(result.repeatedKeys);
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
