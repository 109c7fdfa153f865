#pragma once
// Upload Catalog in the windows program: enables the main window's menu item
// and runs the command with the window's progress bar and message boxes.
//
// The user is asked to bring the network up first ("Connect to the Net, then
// click OK"); that box's check box sends every file, not only the new and
// changed ones (the command line's --all), and its Cancel ends the command.
// While it runs, a progress box shows the file being sent with its bytes, and
// its Cancel stops after that file. " Catalog has been uploaded " is shown
// only when every file went up, otherwise the error box names each file that
// did not, with the server's reply. A missing upload.txt is reported by the
// error box and sends nothing.

#include "app/core/upload_command.h"

class QProgressBar;
class QWidget;

namespace qm::gui {

class TCatMainForm;

// Connects the window's Upload Catalog item; options choose the FTP port and
// time-out (the defaults are the program's: "ftp", 15 seconds).
void InstallUploadCatalog(TCatMainForm& window, const catalog::UploadOptions& options = {});

// The command itself, as the menu item runs it.
void UploadCatalogFromWindow(QWidget* owner, QProgressBar* bar, const catalog::UploadOptions& options);

}  // namespace qm::gui
