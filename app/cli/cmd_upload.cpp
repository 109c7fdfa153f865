// quillmart-cli upload: publishes the files of upload.txt to the FTP site of
// the setup, like the window's Upload Catalog but without its question. One
// line per file with its outcome; exit status 1 when any file did not go up.
#include <cstdio>

#include "app/core/upload_command.h"
#include "cli_command.h"

namespace qm::cli {

namespace {

class PrintingObserver : public catalog::UploadObserver {
 public:
  void FileDone(int, const catalog::UploadedFile& file) override {
    if (file.uploaded)
      std::printf("uploaded %s -> %s\n", qPrintable(file.localName), qPrintable(file.remoteName));
    else
      std::printf("FAILED %s -> %s: %s\n", qPrintable(file.localName), qPrintable(file.remoteName),
                  qPrintable(file.reply));
    std::fflush(stdout);
  }
};

int Upload(const Args& arguments) {
  Args args = arguments;
  catalog::UploadOptions options;
  std::string port;
  if (TakeOption(args, "--port", port)) options.port = QString::fromStdString(port);
  if (!args.empty()) throw CliError("upload: unexpected argument " + args.front());
  PrintingObserver observer;
  const catalog::UploadResult result = catalog::UploadCatalog(observer, options);
  if (!result.connected)
    std::fprintf(stderr, "Connect failed: %s\n", qPrintable(result.connectReply));
  if (!result.AllUploaded()) return 1;
  std::printf("%s\n", catalog::kCatalogUploadedMessage);
  return 0;
}

}  // namespace

QM_CLI_COMMAND("upload", "upload [--port PORT]         send the files of upload.txt to the FTP site of the setup",
               Upload);

}  // namespace qm::cli
