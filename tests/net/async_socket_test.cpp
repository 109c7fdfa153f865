// The asynchronous socket and its send queue against plain loopback peers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/async_socket.h"
#include "net/buffer.h"
#include "net/message_pump.h"
#include "net/socket_errors.h"

namespace qm::net {
namespace {

// A blocking loopback listener standing in for a remote peer.
struct Peer {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  int port = 0;
  Peer() {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener, 1);
    socklen_t len = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
  }
  ~Peer() { close(listener); }
  int Accept() { return accept(listener, nullptr, nullptr); }
};

bool PumpFor(const std::function<bool()>& done, int ms = 3000) {
  const qint64 deadline = TickCountMs() + ms;
  return PumpUntil(done, [deadline] { return deadline; });
}

void ConnectTo(TAsyncSocket& socket, int port) {
  socket.SetAddr("127.0.0.1");
  socket.SetPort(std::to_string(port));
  socket.Connect();
  ASSERT_TRUE(PumpFor([&] { return socket.State() == wsConnected; }));
}

TEST(SendQueue, SpillsIntoNewBlocksAndReusesEmptiedOnes) {
  TSendQueue queue;
  const std::string bytes(3000, 'x');
  queue.Append(bytes.data(), 3000);
  ASSERT_EQ(queue.BlockCount(), 2);
  int length = 0;
  queue.Front(length);
  EXPECT_EQ(length, 1514);
  queue.Consume(1514);
  queue.Front(length);
  EXPECT_EQ(length, 1486);
  EXPECT_EQ(queue.BlockCount(), 1);  // the emptied first block was freed
  queue.Consume(1486);
  EXPECT_TRUE(queue.AllSent());
  EXPECT_EQ(queue.BlockCount(), 1);  // the last one stays for reuse

  TBuffer block(0);
  EXPECT_EQ(block.Size(), 1514);
  EXPECT_EQ(block.Write(bytes.data(), 2000), 1514);
  EXPECT_EQ(block.Write(bytes.data(), 1), 0);
  EXPECT_EQ(block.Remove(5000), 1514);
  EXPECT_EQ(block.Write(bytes.data(), 10), 10);  // counts were reset to 0
}

TEST(SocketErrors, WindowsSocketsNumbersAndTexts) {
  EXPECT_EQ(SocketErrorText(10061), "Connection refused");
  EXPECT_EQ(SocketErrorText(11001), "Host not found");
  // Numbers without a text of their own are still told in plain words.
  EXPECT_EQ(SocketErrorText(12345), "Unknown network error #12345");
  EXPECT_EQ(SocketErrorText(WsaErrorFromErrno(EBADMSG)), std::strerror(EBADMSG));
  EXPECT_EQ(WsaErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(WsaErrorFromErrno(EINPROGRESS), 10035);
  EXPECT_EQ(WsaErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(WsaErrorFromErrno(EHOSTUNREACH), 10065);
}

TEST(AsyncSocket, DottedLookupAnswersBeforeReturning) {
  TAsyncSocket socket;
  int error = -1;
  socket.OnDnsLookupDone = [&](TAsyncSocket&, int e) { error = e; };
  socket.DnsLookup("127.1");
  EXPECT_EQ(error, 0);
  EXPECT_EQ(socket.DnsResult(), "127.0.0.1");
}

TEST(AsyncSocket, HostLookupResultComesFromTheLoop) {
  TAsyncSocket socket;
  int error = -1;
  socket.OnDnsLookupDone = [&](TAsyncSocket&, int e) { error = e; };
  socket.DnsLookup("localhost");
  EXPECT_EQ(error, -1);
  ASSERT_TRUE(PumpFor([&] { return error != -1; }));
  EXPECT_EQ(error, 0);
  EXPECT_EQ(socket.DnsResult(), "127.0.0.1");
  socket.DnsLookup("localhost");
  socket.CancelDnsLookup();
  EXPECT_EQ(error, 10004);
}

TEST(AsyncSocket, PortServiceNamesAndPreconditions) {
  TAsyncSocket socket;
  socket.SetPort("ftp");
  socket.SetPort(" 21");
  try {
    socket.SetPort("no-such-service");
    FAIL() << "unknown service accepted";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Error 11004 in function SetPort: Cannot convert port 'no-such-service'\r\nNo Data");
  }
  socket.SetAddr("127.0.0.1");
  try {
    socket.Connect();
    FAIL() << "connect without a port";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Connect: No Port Specified");
  }
  bool reported = false;
  socket.OnError = [&](TAsyncSocket&) { reported = true; };
  socket.Connect();  // OnError takes the failure instead of an exception
  EXPECT_TRUE(reported);
}

TEST(AsyncSocket, SettingsRefusedWhileConnectedAndPortNeededAfterClose) {
  Peer peer;
  TAsyncSocket socket;
  ConnectTo(socket, peer.port);
  const int remote = peer.Accept();
  EXPECT_THROW(socket.SetAddr("127.0.0.2"), ESocketException);
  EXPECT_THROW(socket.SetPort("22"), ESocketException);
  EXPECT_THROW(socket.SetProto("udp"), ESocketException);
  socket.Close();
  EXPECT_EQ(socket.State(), wsClosed);
  socket.SetAddr("127.0.0.1");
  EXPECT_THROW(socket.Connect(), ESocketException);  // the port must be set again
  close(remote);
}

TEST(AsyncSocket, RefusedConnectReportsThenCloses) {
  const int port = 1;  // privileged, nobody listens (a freed ephemeral port may self-connect)
  TAsyncSocket socket;
  int connectError = -1, closedCount = 0;
  socket.OnSessionConnected = [&](TAsyncSocket&, int e) { connectError = e; };
  socket.OnSessionClosed = [&](TAsyncSocket&, int) { ++closedCount; };
  socket.SetAddr("127.0.0.1");
  socket.SetPort(std::to_string(port));
  socket.Connect();
  ASSERT_TRUE(PumpFor([&] { return connectError != -1; }));
  EXPECT_EQ(connectError, 10061);
  EXPECT_EQ(socket.State(), wsClosed);
  EXPECT_EQ(closedCount, 1);
}

TEST(AsyncSocket, PeerDataArrivesBeforeItsClose) {
  Peer peer;
  TAsyncSocket socket;
  std::string events;
  socket.OnDataAvailable = [&](TAsyncSocket& s, int) {
    char buffer[64];
    const int n = s.Receive(buffer, sizeof buffer);
    if (n > 0) events += "data:" + std::string(buffer, n) + ";";
  };
  socket.OnSessionClosed = [&](TAsyncSocket&, int) { events += "closed;"; };
  ConnectTo(socket, peer.port);
  const int remote = peer.Accept();
  send(remote, "hello", 5, 0);
  close(remote);
  ASSERT_TRUE(PumpFor([&] { return socket.State() == wsClosed; }));
  EXPECT_EQ(events, "data:hello;closed;");
  EXPECT_EQ(socket.ReadCount(), 0);  // reset by the close
}

TEST(AsyncSocket, DataSentFiresFromTheLoopNeverInsideSend) {
  Peer peer;
  TAsyncSocket socket;
  ConnectTo(socket, peer.port);
  const int remote = peer.Accept();
  bool inSend = false, firedInside = false;
  int sentEvents = 0;
  socket.OnDataSent = [&](TAsyncSocket&, int) {
    firedInside |= inSend;
    ++sentEvents;
  };
  inSend = true;
  EXPECT_EQ(socket.SendStr("hello\r\n"), 7);
  inSend = false;
  EXPECT_EQ(sentEvents, 0);
  ASSERT_TRUE(PumpFor([&] { return sentEvents > 0; }));
  EXPECT_FALSE(firedInside);
  char first[7];
  ASSERT_EQ(recv(remote, first, sizeof first, MSG_WAITALL), 7);

  // A large send drains through write notifications, then one OnDataSent.
  sentEvents = 0;
  const std::string big(4 << 20, 'q');
  socket.Send(big.data(), static_cast<int>(big.size()));
  size_t received = 0;
  char buffer[65536];
  while (received < big.size()) {
    PumpMessagesOnce(TickCountMs() + 5);
    const ssize_t n = recv(remote, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) received += n;
  }
  ASSERT_TRUE(PumpFor([&] { return sentEvents > 0; }));
  EXPECT_EQ(received, big.size());
  close(remote);
}

TEST(AsyncSocket, SendWhenNotConnectedIsRefused) {
  TAsyncSocket socket;
  bool reported = false;
  socket.OnError = [&](TAsyncSocket&) { reported = true; };
  EXPECT_EQ(socket.SendStr("x"), -1);
  EXPECT_TRUE(reported);
}

TEST(AsyncSocket, ReadLineSplitsLinesAndCutsLongOnes) {
  Peer peer;
  TAsyncSocket socket;
  socket.MultiThreaded = true;
  int tooLong = 0;
  socket.OnLineTooLong = [&](TAsyncSocket&) { ++tooLong; };
  ConnectTo(socket, peer.port);
  const int remote = peer.Accept();
  const std::string text = "first\r\n" + std::string(300, 'L') + "\n";
  send(remote, text.data(), text.size(), 0);
  std::string line;
  socket.ReadLine(2, line);
  EXPECT_EQ(line, "first");
  socket.ReadLine(2, line);
  EXPECT_EQ(line, std::string(253, 'L'));
  EXPECT_EQ(tooLong, 1);
  EXPECT_TRUE(socket.Wait(1, wsConnected));
  close(remote);
}

TEST(AsyncSocket, ListenAcceptAndAdoptAConnection) {
  TAsyncSocket listener;
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  ASSERT_EQ(listener.Listen(), 0);
  const int port = std::stoi(listener.LocalPortText());
  int offered = 0;
  listener.OnSessionAvailable = [&](TAsyncSocket&, int) { ++offered; };
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_TRUE(PumpFor([&] { return offered > 0; }));
  std::string peerAddr;
  const int handle = listener.Accept(&peerAddr);
  ASSERT_GT(handle, 0);
  EXPECT_EQ(peerAddr, "127.0.0.1");
  TAsyncSocket adopted;
  adopted.Dup(handle);
  EXPECT_EQ(adopted.State(), wsConnected);
  EXPECT_EQ(adopted.PeerAddressText(), "127.0.0.1");
  close(client);
}

// A server that connects before the client is ready (right after PORT) must
// not make the listener fire unheard forever, nor be lost.
TEST(AsyncSocket, OfferWithoutHandlerWaitsForRearm) {
  TAsyncSocket listener;
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  ASSERT_EQ(listener.Listen(), 0);
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(std::stoi(listener.LocalPortText())));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  int passes = 0;
  PumpFor([&] { return ++passes > 1000; }, 50);
  EXPECT_LT(passes, 100);  // the loop slept instead of reporting the offer again and again
  int offered = 0;
  listener.OnSessionAvailable = [&](TAsyncSocket& s, int) {
    ++offered;
    close(s.Accept());
  };
  listener.Rearm();
  ASSERT_TRUE(PumpFor([&] { return offered > 0; }));
  close(client);
}

}  // namespace
}  // namespace qm::net
