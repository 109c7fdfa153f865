// quillmart-cli upload: publishes the files of upload.txt to the FTP site of
// the setup, like the window's Upload Catalog but without its question. One
// line per file with its outcome; exit status 1 when any file did not go up.
// --all sends unchanged files too, --dry-run only lists what would be sent
// and deleted, --check tests the site instead of uploading; --trust-fingerprint
// stores the SHA-256 fingerprint of a self-signed server certificate to trust;
// --connections N sends up to N pages at once.
#include <cstdio>
#include <map>

#include "app/core/upload_command.h"
#include "cli_command.h"
#include "net/printable_text.h"

namespace qm::cli {

namespace {

// Server replies and names from upload.txt are printed as text: a control
// character (an escape sequence from a hostile server, say) is written out,
// never sent raw.
std::string Printable(const QString& text) { return net::PrintableText(text.toStdString()); }

class PrintingObserver : public catalog::UploadObserver {
 public:
  // A large file tells how far it got, about every tenth of it (at most a
  // line a second would flood a log; a tenth is enough to see it moving).
  void FileProgress(const QString& name, qint64 sent, qint64 size) override {
    qint64& next = m_nextReport[name];  // several files may be on their way at once
    if (size < kProgressFrom || sent < next) return;
    next = sent + size / 10;
    std::printf("sending %s: %lld of %lld bytes\n", qPrintable(name), static_cast<long long>(sent),
                static_cast<long long>(size));
    std::fflush(stdout);
  }
  void FileDone(int, const catalog::UploadedFile& file) override {
    m_nextReport.erase(file.localName);
    const char* verb = file.deletion ? "deleted" : "uploaded";
    if (file.uploaded)
      std::printf("%s %s -> %s\n", verb, Printable(file.localName).c_str(), Printable(file.remoteName).c_str());
    else
      std::printf("FAILED %s%s -> %s: %s\n", file.deletion ? "to delete " : "", Printable(file.localName).c_str(),
                  Printable(file.remoteName).c_str(), Printable(file.reply).c_str());
    std::fflush(stdout);
  }

 private:
  static constexpr qint64 kProgressFrom = 4 << 20;  // smaller files go up in a moment
  std::map<QString, qint64> m_nextReport;
};

int Connections(const std::string& value) {
  bool numeric = false;
  const int count = QString::fromStdString(value).toInt(&numeric);
  if (!numeric || count < 1 || count > catalog::kMostConnections)
    throw UsageError("--connections takes a number from 1 to " + std::to_string(catalog::kMostConnections) +
                                ", not \"" + value + "\"");
  return count;
}

int Check(const catalog::UploadOptions& options) {
  const catalog::SiteCheck check = catalog::CheckSite(options);
  for (const QString& line : check.lines) std::printf("%s\n", Printable(line).c_str());
  return check.ok ? 0 : 1;
}

void PrintDryRun(const catalog::UploadResult& result) {
  for (const catalog::UploadedFile& file : result.files)
    std::printf("would %s %s -> %s\n", file.deletion ? "delete" : "send", Printable(file.localName).c_str(),
                Printable(file.remoteName).c_str());
  std::printf("%d unchanged\n", result.unchangedCount);
}

int Upload(const Args& arguments) {
  Args args = arguments;
  catalog::UploadOptions options;
  std::string value;
  if (TakeOption(args, "--port", value)) options.port = QString::fromStdString(value);
  if (TakeOption(args, "--mode", value)) options.connectionMode = QString::fromStdString(value);
  if (TakeOption(args, "--tls", value)) options.tlsMode = QString::fromStdString(value);
  if (TakeOption(args, "--passive-address", value)) options.passiveAddress = QString::fromStdString(value);
  if (TakeOption(args, "--trust-fingerprint", value)) options.trustedFingerprint = QString::fromStdString(value);
  if (TakeOption(args, "--connections", value)) options.connections = Connections(value);
  options.sendAll = TakeFlag(args, "--all");
  options.dryRun = TakeFlag(args, "--dry-run");
  const bool check = TakeFlag(args, "--check");
  ExpectOperands("upload", Operands("upload", args), 0, 0);
  if (check) return Check(options);
  PrintingObserver observer;
  const catalog::UploadResult result = catalog::UploadCatalog(observer, options);
  if (options.dryRun) {
    PrintDryRun(result);
    return 0;
  }
  if (!result.connected) std::fprintf(stderr, "%s\n", Printable(result.connectReply).c_str());
  for (const QString& line : result.NoticeLines()) std::fprintf(stderr, "%s\n", Printable(line).c_str());
  if (result.unchangedCount == 1) std::printf("1 unchanged file was not sent again\n");
  if (result.unchangedCount > 1) std::printf("%d unchanged files were not sent again\n", result.unchangedCount);
  if (!result.AllUploaded()) return 1;
  std::printf("%s\n", catalog::kCatalogUploadedMessage);
  return 0;
}

}  // namespace

QM_CLI_COMMAND("upload", "upload [OPTION]...  send new and changed files of upload.txt to the FTP site",
               Upload);
QM_CLI_HELP("upload",
            "Sends the files named in upload.txt to the FTP site of the setup (\"Site Setup\"):\n"
            "only new and changed ones, each under a temporary name renamed into place,\n"
            "catalog.htm last; pages of products no longer listed are deleted there.\n"
            "\nOptions:\n"
            "  --port=PORT                  control port (default \"ftp\", 21)\n"
            "  --mode=automatic|passive|active\n"
            "                               data connection (default: the setup's, else automatic)\n"
            "  --tls=required|\"if offered\"|plain\n"
            "                               TLS on the connection (default: the setup's, else if offered)\n"
            "  --trust-fingerprint=SHA256   trust the server certificate with this fingerprint\n"
            "  --passive-address=control|server\n"
            "                               passive data connections go to the control connection's\n"
            "                               host (default) or where the server says (behind NAT)\n"
            "  --connections=N              send up to N files at once, each over its own\n"
            "                               connection (1-16; default: the setup's, else 4)\n"
            "  --all                        send every file, changed or not\n"
            "  --dry-run                    list what would be sent and deleted; send nothing\n"
            "  --check                      test the connection, log-in, modes and remote directory\n");

}  // namespace qm::cli
