#pragma once
// Asynchronous host lookup: getaddrinfo runs on a worker thread and its result
// is posted back, as a TLookupDoneEvent, to the object that asked for it on the
// event loop's thread. A cancelled lookup never posts anything.

#include <QEvent>

#include <string>
#include <vector>

class QObject;

namespace qm::net {

class TLookupDoneEvent : public QEvent {
 public:
  static QEvent::Type EventType();
  TLookupDoneEvent(int id, int error, std::vector<std::string> addrs)
      : QEvent(EventType()), LookupId(id), Error(error), Addrs(std::move(addrs)) {}

  int LookupId;
  int Error;                       // Windows Sockets number, 0 on success
  std::vector<std::string> Addrs;  // IPv4, dotted, in the order the resolver gave
};

// Starts a lookup of IPv4 addresses of name; returns its id (never 0).
int StartHostLookup(QObject* receiver, const std::string& name);
// Forgets a running lookup; false when it had already finished or never ran.
bool CancelHostLookup(int id);

// Blocking lookup used when an address is set by name; false when unknown.
bool ResolveHostNow(const std::string& name, std::vector<std::string>& addrs, int& error);

}  // namespace qm::net
