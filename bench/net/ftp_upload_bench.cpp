// ftp_upload_bench PORT REMOTE_DIR FILE...
// Logs in to 127.0.0.1:PORT as user/secret and stores every FILE under
// REMOTE_DIR + its base name in one session (TYPE I, then one Put per file),
// the way Upload Catalog does. Prints the session's wall time; exit 1 when any
// file failed.
#include <QCoreApplication>
#include <QFileInfo>
#include <chrono>
#include <cstdio>

#include "net/ftp_sync_client.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: ftp_upload_bench PORT REMOTE_DIR FILE...\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  qm::net::TFtpClient client;
  client.HostName = "127.0.0.1";
  client.Port = argv[1];
  client.UserName = "user";
  client.PassWord = "secret";
  if (!client.Connect()) {
    std::fprintf(stderr, "connect failed: %s\n", client.ErrorMessage().c_str());
    return 1;
  }
  client.SetBinary(true);
  client.TypeSet();
  int failed = 0;
  for (int i = 3; i < argc; ++i) {
    client.LocalFileName = argv[i];
    client.HostFileName = std::string(argv[2]) + QFileInfo(argv[i]).fileName().toStdString();
    if (!client.Put()) {
      std::fprintf(stderr, "%s: %s\n", argv[i], client.ErrorMessage().c_str());
      ++failed;
    }
  }
  client.Quit();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d files in %.3f s\n", argc - 3 - failed, seconds);
  return failed ? 1 : 0;
}
