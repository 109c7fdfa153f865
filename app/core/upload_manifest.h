#pragma once
// What Quillmart last put on one site (host, port, user) and remote directory:
// one line per file that went up completely, "name<TAB>size<TAB>content hash",
// kept beside the catalog as upload-manifest-<site hash>.txt. Upload Catalog
// sends only files whose hash differs (or that the server's listing shows
// missing or changed) and deletes on the server only files listed here.
//
// The content hash (SHA-256) leaves out the build-date line of the page
// header ("Last Update ... <date>  -->"): a page rebuilt on another day with
// the same products is unchanged, else every page would go up every day.

#include <QDir>
#include <QString>
#include <map>

namespace qm::catalog {

struct ManifestEntry {
  qint64 size = 0;
  QByteArray hash;  // hex
};

class UploadManifest {
 public:
  // The manifest of the site inside workDir. Its names are as found: the
  // caller checks them like the names of upload.txt.
  UploadManifest(const QDir& workDir, const QString& host, int port, const QString& userName,
                 const QString& remoteDirectory);

  const QString& Path() const { return m_path; }
  bool Exists() const { return m_exists; }
  const std::map<QString, ManifestEntry>& Entries() const { return m_entries; }
  void Set(const QString& name, const ManifestEntry& entry) { m_entries[name] = entry; }
  void Remove(const QString& name) { m_entries.erase(name); }
  // Written through a new work file renamed into place; throws FileIoError.
  void Save() const;

  // Size and date-blind hash of a local file; throws FileIoError.
  static ManifestEntry Describe(const QString& path);

 private:
  QString m_path;
  QString m_title;
  bool m_exists = false;
  std::map<QString, ManifestEntry> m_entries;
};

}  // namespace qm::catalog
