#include "net/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <QCoreApplication>
#include <cerrno>
#include <map>
#include <mutex>
#include <thread>

#include "net/socket_errors.h"

namespace qm::net {

namespace {

// Receivers of running lookups. A worker posts only while holding the mutex and
// only to a receiver still listed; a socket unlists itself before it is
// destroyed, so a late result can never reach a dead object.
std::mutex g_mutex;
std::map<int, QObject*> g_running;
int g_nextId = 0;

}  // namespace

QEvent::Type TLookupDoneEvent::EventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

bool ResolveHostNow(const std::string& name, std::vector<std::string>& addrs, int& error) {
  addrs.clear();
  // IPv4 addresses first (what the program always used), IPv6 ones after them.
  for (const int family : {AF_INET, AF_INET6}) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (addrs.empty()) error = WsaErrorFromGai(rc, errno);
    if (rc != 0) continue;
    for (addrinfo* ai = result; ai; ai = ai->ai_next) {
      char text[INET6_ADDRSTRLEN] = {};
      const void* where = family == AF_INET ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr)
                                            : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(ai->ai_addr)->sin6_addr);
      inet_ntop(family, where, text, sizeof text);
      addrs.emplace_back(text);
    }
    freeaddrinfo(result);
  }
  if (!addrs.empty()) error = 0;
  else if (error == 0) error = kWsaNoData;
  return !addrs.empty();
}

int StartHostLookup(QObject* receiver, const std::string& name) {
  TLookupDoneEvent::EventType();  // register the type on the caller's thread
  int id = 0;
  {
    std::lock_guard lock(g_mutex);
    id = ++g_nextId;
    if (id <= 0) id = g_nextId = 1;
    g_running[id] = receiver;
  }
  std::thread([id, name] {
    std::vector<std::string> addrs;
    int error = 0;
    ResolveHostNow(name, addrs, error);
    std::lock_guard lock(g_mutex);
    const auto it = g_running.find(id);
    if (it == g_running.end()) return;
    QCoreApplication::postEvent(it->second, new TLookupDoneEvent(id, error, std::move(addrs)));
    g_running.erase(it);
  }).detach();
  return id;
}

bool CancelHostLookup(int id) {
  std::lock_guard lock(g_mutex);
  return g_running.erase(id) > 0;
}

}  // namespace qm::net
