#pragma once
// The two messages the FTP client posts to itself on the event loop.

#include <QEvent>

#include "net/ftp_types.h"

namespace qm::net {

class TFtpPostedEvent : public QEvent {
 public:
  enum TKind { kRequestDone, kDeferredClose };

  static QEvent::Type EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  TFtpPostedEvent(TKind kind, int a, int b) : QEvent(EventType()), Kind(kind), A(a), B(b) {}

  TKind Kind;
  int A;  // request done: the request kind;  deferred close: the transfer id
  int B;  // request done: the code;          deferred close: the pass count
};

}  // namespace qm::net
