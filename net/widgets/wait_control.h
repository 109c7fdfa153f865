#pragma once
// TWait: the small countdown control that a socket's blocking operations
// (ReadLine, Wait, Flush) run when the socket is not multi-threaded. It counts
// seconds down in its caption while the application keeps processing messages,
// swallows the user's key and mouse presses meanwhile, and is stopped early by
// the socket when the awaited condition is met.
//
// No program links it: the FTP client never calls those blocking operations
// and no window places a TWait. It is kept as the socket's wait control, part
// of the socket component's interface, and is built and tested with the windows.

#include <QWidget>
#include <functional>

#include "net/async_socket.h"

class QTimer;

namespace qm::net {

class TWait : public QWidget, public TWaitControl {
 public:
  enum { kRunning = 0, kStopped = 1, kTimedOut = 2 };  // ModalResult values

  explicit TWait(QWidget* parent = nullptr);

  QString Caption() const { return m_caption; }
  void SetCaption(const QString& caption);
  int ModalResult() const { return m_modalResult; }
  int Interval() const;
  void SetInterval(int ms);
  bool Running() const;

  std::function<void(TWait& sender, int count)> OnWait;
  std::function<void(TWait& sender)> OnWaiting;
  std::function<void(TWait& sender)> OnWaitStart;
  std::function<void(TWait& sender)> OnWaitStop;
  std::function<void(TWait& sender)> OnTimeout;

  void Start();
  void Stop() override;
  void ModalWait();
  void RestoreCaption();
  bool RunModal(int seconds, const std::function<void()>& eachPass) override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Tick();

  QString m_caption = "60";
  int m_initialCount = 60;
  int m_modalResult = kRunning;
  QTimer* m_timer;
};

}  // namespace qm::net
