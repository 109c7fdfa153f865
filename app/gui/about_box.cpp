#include "app/gui/about_box.h"

#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/gui/artwork.h"
#include "app/gui/version.h"

namespace qm::gui {

namespace {

// The kB figure of one "Name:   12345 kB" line; false when absent or bad.
bool MemInfoValue(const QByteArray& text, const QByteArray& name, uint64_t& kb) {
  for (const QByteArray& line : text.split('\n')) {
    if (!line.startsWith(name + ':')) continue;
    QByteArray number = line.mid(name.size() + 1).trimmed();
    if (number.endsWith("kB")) number.chop(2);
    bool ok = false;
    kb = number.trimmed().toULongLong(&ok);
    return ok;
  }
  return false;
}

}  // namespace

MemoryStatus ParseMemInfo(const QByteArray& text) {
  MemoryStatus status;
  uint64_t totalKb = 0;
  uint64_t availableKb = 0;
  if (!MemInfoValue(text, "MemTotal", totalKb) || totalKb == 0 || totalKb > UINT64_MAX / 1024) return status;
  if (!MemInfoValue(text, "MemAvailable", availableKb) && !MemInfoValue(text, "MemFree", availableKb))
    availableKb = totalKb;
  availableKb = qMin(availableKb, totalKb);
  status.totalBytes = totalKb * 1024;
  status.memoryLoad = static_cast<int>((totalKb - availableKb) * 100 / totalKb);
  status.known = true;
  return status;
}

MemoryStatus ReadMemoryStatus() {
  QFile file(QStringLiteral("/proc/meminfo"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return ParseMemInfo(file.readAll());
}

QString PhysicalMemoryText(uint64_t totalBytes, const QLocale& locale) {
  const double kb = static_cast<double>(totalBytes) / 1024.0;
  return locale.toString(static_cast<qulonglong>(kb + 0.5)) + QStringLiteral(" KB");
}

QString MemoryInUseText(int memoryLoad) { return QStringLiteral("%1 %").arg(memoryLoad); }

TAboutBox::TAboutBox(QWidget* parent, const MemoryStatus& status, const QLocale& locale)
    : QDialog(parent), m_physical(new QLabel(QStringLiteral("0"))), m_inUse(new QLabel(QStringLiteral("0"))) {
  setWindowTitle(QStringLiteral("About Quillmart"));
  QPalette black = palette();
  black.setColor(QPalette::WindowText, Qt::black);
  setPalette(black);

  auto* image = new QLabel(this);
  image->setPixmap(AboutImage());
  auto* title = new QLabel(QStringLiteral("Quillmart ") + QString::fromLatin1(kVersion), this);
  QFont bold = title->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.4);
  title->setFont(bold);
  auto* top = new QHBoxLayout;
  top->addWidget(image, 0, Qt::AlignTop);
  top->addSpacing(12);
  top->addWidget(title, 1, Qt::AlignVCenter);

  auto* bevel = new QFrame(this);
  bevel->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  if (status.known) {
    m_physical->setText(PhysicalMemoryText(status.totalBytes, locale));
    m_inUse->setText(MemoryInUseText(status.memoryLoad));
  }
  auto* figures = new QGridLayout;
  figures->addWidget(new QLabel(tr("Physical Memory Available to Windows:"), this), 0, 0);
  figures->addWidget(m_physical, 0, 1);
  figures->addWidget(new QLabel(tr("Memory in Use:"), this), 1, 0);
  figures->addWidget(m_inUse, 1, 1);
  figures->setColumnStretch(2, 1);

  // Default and cancel button at once: Enter and Escape both close the box.
  auto* ok = new QPushButton(tr("OK"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 12);
  layout->addLayout(top);
  layout->addWidget(bevel);
  layout->addLayout(figures);
  layout->addStretch(1);
  layout->addWidget(ok, 0, Qt::AlignHCenter);
  setFixedSize(QSize(372, 243).expandedTo(minimumSizeHint()));
}

}  // namespace qm::gui
