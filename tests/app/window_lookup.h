#pragma once
// For window tests: finds a push button by its caption (the nth of that
// caption) and reads a file whole ("<missing>" when it cannot be read).
#include <QFile>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace qm::test {

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
