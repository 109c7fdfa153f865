#pragma once
// The setup dialog "Quillmart Setup": six tabs holding everything the pages
// and the upload need (company, page look, table colours, FTP site, table
// headings, stacked pages), loaded from the settings store each time it is
// shown and written back by "Save Setup"; Cancel writes nothing, so the next
// show has the stored values again. The "Database Setup" tab also creates a
// new, empty catalog.dbf in the working directory (new_catalog_table.h).
//
// Controls that hold a setting are named after its ident ("Name",
// "pagetitle", "Field1", ...); the unstored rows of the "Database Setup" tab
// are "width1".."width5" and "dbfname1".."dbfname5".
//
// The "Site Setup" tab also chooses the data connection mode and encryption
// of the upload, and "Test connection" checks the site as typed (see
// TestConnection()).

#include <QDialog>

#include <array>
#include <vector>

#include "app/core/upload_command.h"
#include "app/gui/new_catalog_table.h"

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QGridLayout;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace qm::gui {

class TColorPickerForm;
class THelpForm;

// The column count saved with the headings: the position (1..5) of the last
// non-empty heading, 0 when all are empty; empty headings before it count.
int ColumnCountOf(const std::array<QString, kNewFieldRows>& headings);

class TSetupForm : public QDialog {
  Q_OBJECT
 public:
  explicit TSetupForm(QWidget* parent = nullptr);

  // Every setting into its control; absent ones leave the control empty.
  // Throws the store's SettingsError.
  void LoadSettings();
  // Every control into the store in the order other copies of the store
  // expect, the column count last. Throws the store's SettingsError.
  void SaveSettings();

  TColorPickerForm* ColorPicker() const { return m_picker; }
  THelpForm* HelpForm() const { return m_help; }
  QTabWidget* Tabs() const { return m_tabs; }
  // The "Site Setup" tab's row of buttons under the note; a check of the FTP
  // connection adds its "Test connection" button here.
  QBoxLayout* SiteActionsRow() const { return m_siteActions; }

  // "Test connection": checks the site with the values typed on the "Site
  // Setup" tab (nothing else is saved) under a busy cursor and says what
  // works; the mode that worked is stored. A certificate that cannot be
  // verified is shown by its SHA-256 fingerprint, and trusted (stored) when
  // the user agrees.
  void TestConnection();

 signals:
  // Create New Database is about to replace catalog.dbf: whoever holds the
  // table open (the product window) closes it now.
  void ProductTableMustClose();

 public slots:
  void CreateNewDatabase();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // A control holding one setting, in the order the store lists them.
  struct Binding {
    const char* section;
    const char* ident;
    QWidget* control;
    const char* byDefault = "";  // shown when the store has no (known) value
  };

  QWidget* CreateCompanyTab();
  QWidget* CreateWebPageTab();
  QWidget* CreateTableTab();
  QWidget* CreateSiteTab();
  // The data connection, TLS and connections choices of the Site Setup tab.
  QFormLayout* CreateTransferChoices(QWidget* page);
  QWidget* CreateDatabaseTab();
  QGridLayout* CreateFieldRows(QWidget* page);
  QWidget* CreateStackedTab();
  QWidget* CreateButtons();

  QLineEdit* AddEdit(const char* section, const char* ident);
  QComboBox* AddChoice(const char* section, const char* ident, const char* byDefault,
                       const std::vector<std::pair<const char*, QString>>& choices);
  QLineEdit* AddColorEdit(const char* section, const char* ident, QPushButton* button);
  void PickColor(QLineEdit* edit);
  void Save();
  bool AskOverwrite();
  bool AskTrust(const catalog::SiteCheck& check);

  std::vector<Binding> m_bindings;  // company, page, table and site settings
  std::array<QLineEdit*, kNewFieldRows> m_headings{};
  std::array<QLineEdit*, kNewFieldRows> m_widths{};
  std::array<QLineEdit*, kNewFieldRows> m_names{};
  QTabWidget* m_tabs = nullptr;
  QBoxLayout* m_siteActions = nullptr;
  QCheckBox* m_useStacked = nullptr;
  QPlainTextEdit* m_stackedText = nullptr;
  QPlainTextEdit* m_paragraph = nullptr;
  TColorPickerForm* m_picker = nullptr;
  THelpForm* m_help = nullptr;
  bool m_loading = false;
};

// True when `text` is a colour the pages accept in their colour attributes: an
// HTML or CSS colour name (as the picker writes, "Navy") or #RGB / #RRGGBB.
bool IsPageColour(const QString& text);

}  // namespace qm::gui
