#include "net/widgets/wait_control.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

namespace qm::net {

namespace {
// The number at the start of a caption: leading blanks skipped, 0 when none.
int LeadingNumber(const QString& text) {
  int i = 0, n = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  while (i < text.size() && text[i].isDigit()) n = n * 10 + text[i++].digitValue();
  return n;
}
}  // namespace

TWait::TWait(QWidget* parent) : QWidget(parent), m_timer(new QTimer(this)) {
  resize(192, 32);
  QFont font("Courier", 8);
  font.setFixedPitch(true);
  font.setStyleHint(QFont::TypeWriter);
  setFont(font);
  m_timer->setInterval(1000);
  connect(m_timer, &QTimer::timeout, this, [this] { Tick(); });
}

void TWait::SetCaption(const QString& caption) {
  m_caption = caption;
  update();
}

int TWait::Interval() const { return m_timer->interval(); }
void TWait::SetInterval(int ms) { m_timer->setInterval(ms); }
bool TWait::Running() const { return m_timer->isActive(); }

void TWait::Start() {
  m_initialCount = LeadingNumber(m_caption);
  if (m_initialCount == 0) {
    m_initialCount = 15;
    SetCaption("15");
  }
  m_timer->start();
  if (OnWaitStart) OnWaitStart(*this);
}

void TWait::Stop() {
  m_modalResult = kStopped;
  m_timer->stop();
  RestoreCaption();
  if (OnWaitStop) OnWaitStop(*this);
}

void TWait::RestoreCaption() { SetCaption(QString::number(m_initialCount)); }

void TWait::Tick() {
  const int left = LeadingNumber(m_caption) - 1;
  if (OnWait) OnWait(*this, left);
  if (left > 0) {
    SetCaption(QString::number(left));
  } else {
    m_timer->stop();
    m_modalResult = kTimedOut;
    RestoreCaption();
    if (OnTimeout) OnTimeout(*this);
  }
  update();
}

void TWait::ModalWait() {
  // The user must not operate the application while a socket waits.
  qApp->installEventFilter(this);
  m_modalResult = kRunning;
  Start();
  while (m_timer->isActive()) {
    if (OnWaiting) OnWaiting(*this);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  qApp->removeEventFilter(this);
}

bool TWait::RunModal(int seconds, const std::function<void()>& eachPass) {
  SetCaption(QString::number(seconds));
  auto previous = std::exchange(OnWaiting, [eachPass](TWait&) { eachPass(); });
  show();
  ModalWait();
  hide();
  OnWaiting = std::move(previous);
  return m_modalResult == kStopped;
}

bool TWait::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      const auto* mouse = dynamic_cast<QMouseEvent*>(event);
      if (mouse && mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton) break;
      QApplication::beep();
      return true;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void TWait::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const int left = LeadingNumber(m_caption);
  const int length = m_initialCount > 0 ? left * (width() - 7) / m_initialCount : 0;
  painter.fillRect(QRect(3, 3, length, height() - 7), palette().color(QPalette::Highlight));
  painter.drawText(4, height() / 2 - 8 + fontMetrics().ascent(), m_caption);
}

}  // namespace qm::net
