#pragma once
// The about box: the program's name and version, and two memory figures of
// the machine taken once when the box is created — the total physical memory
// in KB and the share of it in use. Not modal; OK hides it.

#include <QByteArray>
#include <QDialog>
#include <QLocale>

#include <cstdint>

class QLabel;

namespace qm::gui {

struct MemoryStatus {
  uint64_t totalBytes = 0;  // 64-bit: machines hold more than 4 GB
  int memoryLoad = 0;       // percent of the memory in use
  bool known = false;       // false when the text held no usable MemTotal
};

// From the text of /proc/meminfo: total = MemTotal; load = (MemTotal -
// MemAvailable) x 100 / MemTotal, with MemFree standing in for an absent
// MemAvailable.
MemoryStatus ParseMemInfo(const QByteArray& text);
MemoryStatus ReadMemoryStatus();

// "65,024 KB": the byte count / 1024, grouped by the locale, no decimals.
QString PhysicalMemoryText(uint64_t totalBytes, const QLocale& locale);
// "37 %".
QString MemoryInUseText(int memoryLoad);

class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr, const MemoryStatus& status = ReadMemoryStatus(),
                     const QLocale& locale = QLocale());

  QLabel* PhysicalMemoryLabel() const { return m_physical; }
  QLabel* MemoryInUseLabel() const { return m_inUse; }

 private:
  QLabel* m_physical;
  QLabel* m_inUse;
};

}  // namespace qm::gui
