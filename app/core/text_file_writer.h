#pragma once
// A buffered writer of the generated text files (catalog.htm, the stacked
// pages, upload.txt): UTF-8, every line ended by CR LF, every create, write
// and close checked.

#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <stdexcept>

namespace qm::catalog {

// A failed file operation. The text starts with the platform's input/output
// message ("File access denied", "Disk full", "I/O error <n>") and names the file.
class FileIoError : public std::runtime_error {
 public:
  FileIoError(int errnoValue, const QString& fileName);
  static QString Message(int errnoValue);
};

// Creates a new, empty work file beside `path` the engine's one way
// (dbf::CreateWorkFile: "<path>.qm<pid>-<n>.tmp", n unguessable, exclusive,
// never through a link); its handle, or -1 with errno set.
int CreateWorkFile(const QByteArray& path, mode_t mode, QByteArray& workPath);

class TextFileWriter {
 public:
  // Writes to a new work file beside `path`, which Close() renames into place,
  // so readers never see half a file; throws FileIoError (a symbolic link or a
  // folder named `path` is refused). `displayName` names the file in error
  // texts (the bare name the user knows).
  TextFileWriter(const QString& path, const QString& displayName);
  ~TextFileWriter();  // without Close(): removes the work file, `path` unchanged
  TextFileWriter(const TextFileWriter&) = delete;
  TextFileWriter& operator=(const TextFileWriter&) = delete;

  // Removes from `directory` the work files of writers whose process no
  // longer exists (killed before it could remove them); returns how many.
  static int RemoveLeftWorkFiles(const QString& directory);

  // Writes `text` followed by CR LF.
  void WriteLine(QStringView text);
  // Writes a multi-line text: each of its lines (split at CR LF, LF or CR)
  // ends with CR LF, so the file keeps one line-end convention.
  void WriteText(QStringView text);
  // Flushes, closes and renames into place; throws FileIoError (the work file
  // is removed, `path` unchanged).
  void Close() {
    Finish();
    Place();
  }
  // Close in two steps, for a file that must not appear before others it
  // names: Finish flushes and closes the work file, Place renames it into
  // place. Destroyed between the two, the work file goes and `path` stays.
  void Finish();
  void Place();

 private:
  void Flush();

  int m_fd = -1;
  bool m_finished = false;  // the work file is complete and closed, not yet renamed
  QByteArray m_path;
  QByteArray m_workPath;
  QString m_name;
  QByteArray m_buffer;
};

}  // namespace qm::catalog
