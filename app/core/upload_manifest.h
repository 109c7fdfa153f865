#pragma once
// What Quillmart last put on one site (host, port, user) and remote directory:
// one line per file that went up completely, "name<TAB>size<TAB>content
// hash<TAB>modification time" (ns since 1970; older manifests have no time),
// kept beside the catalog as upload-manifest-<site hash>.txt. Upload Catalog
// sends only files whose hash differs (or that the server's listing shows
// missing or changed) and deletes on the server only files listed here.
//
// A file whose size and modification time are those of its line is not read
// again: its hash is the line's. A time is kept only once it lies a few
// seconds in the past when the file is read, so a page rewritten within the
// file system's clock step after it was hashed is never taken as unchanged.
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
  QByteArray hash;       // hex
  qint64 modifiedNs = -1;  // the file's modification time; -1: not known, not to be trusted
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

  // Size, date-blind hash and modification time of a local file; throws
  // FileIoError. With `known` of the same size and time, its hash is taken
  // without reading the file.
  static ManifestEntry Describe(const QString& path, const ManifestEntry* known = nullptr);

 private:
  QString m_path;
  QString m_title;
  bool m_exists = false;
  std::map<QString, ManifestEntry> m_entries;
};

}  // namespace qm::catalog
