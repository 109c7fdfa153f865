#pragma once
// For window tests: a scratch folder with a private settings store, finding a
// push button by its caption (the nth of that caption) and reading a file
// whole ("<missing>" when it cannot be read).
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

namespace qm::test {

// A fresh working folder, made the current directory, and a private folder for
// the settings store (XDG_CONFIG_HOME); both removed with the object.
class WindowScratch {
 public:
  WindowScratch() {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QDir::setCurrent(m_work.path());
  }
  bool IsValid() const { return m_work.isValid() && m_config.isValid(); }
  // The working folder, or a file in it.
  QString Work(const QString& name = {}) const { return name.isEmpty() ? m_work.path() : m_work.filePath(name); }

 private:
  QTemporaryDir m_work, m_config;
};

inline QPushButton* Button(QWidget* root, const QString& text, int nth = 0) {
  for (QPushButton* b : root->findChildren<QPushButton*>())
    if (b->text() == text && nth-- == 0) return b;
  return nullptr;
}

inline QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

}  // namespace qm::test
