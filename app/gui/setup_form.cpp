#include "app/gui/setup_form.h"

#include <QCheckBox>
#include <QClipboard>
#include <QColor>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/core/settings_store.h"
#include "app/gui/color_picker.h"
#include "app/gui/database_help.h"
#include "app/gui/error_box.h"

namespace qm::gui {

namespace {

using catalog::SettingsStore;
namespace settings = catalog::settings;

// Multi-line texts are stored with CR LF line breaks, as typed on the
// original platform; the memo controls use bare LF.
QString StoredText(const QWidget* control) {
  if (const auto* choice = qobject_cast<const QComboBox*>(control)) return choice->currentData().toString();
  if (const auto* memo = qobject_cast<const QPlainTextEdit*>(control))
    return memo->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
  return static_cast<const QLineEdit*>(control)->text();
}

void ShowStoredText(QWidget* control, QString text, const QString& byDefault = {}) {
  if (auto* choice = qobject_cast<QComboBox*>(control)) {
    const int known = choice->findData(text.trimmed().toLower());
    choice->setCurrentIndex(known >= 0 ? known : choice->findData(byDefault));
  } else if (auto* memo = qobject_cast<QPlainTextEdit*>(control))
    memo->setPlainText(text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  else
    static_cast<QLineEdit*>(control)->setText(text);
}

QString FieldIdent(int k) { return QStringLiteral("Field%1").arg(k + 1); }

}  // namespace

int ColumnCountOf(const std::array<QString, kNewFieldRows>& headings) {
  for (int k = kNewFieldRows; k > 0; --k)
    if (!headings[k - 1].isEmpty()) return k;
  return 0;
}

TSetupForm::TSetupForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Quillmart Setup"));
  m_tabs = new QTabWidget(this);
  m_tabs->setTabPosition(QTabWidget::South);
  m_tabs->setUsesScrollButtons(false);  // all six tabs in view: the dialog grows to hold them
  m_tabs->addTab(CreateCompanyTab(), tr("Company Info"));
  m_tabs->addTab(CreateWebPageTab(), tr("Web Page Setup"));
  m_tabs->addTab(CreateTableTab(), tr("Table Setup"));
  m_tabs->addTab(CreateSiteTab(), tr("Site Setup"));
  m_tabs->addTab(CreateDatabaseTab(), tr("Database Setup"));
  m_tabs->addTab(CreateStackedTab(), tr("Stacked Pages"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_tabs, 1);
  layout->addWidget(CreateButtons());
  // The picker and the help window belong to this dialog: the help window
  // stays usable beside it while it is modal.
  m_picker = new TColorPickerForm(this);
  m_help = new THelpForm(this);
  // A fixed border at the size the layout needs (499 x 328 at the usual font).
  setFixedSize(QSize(499, 328).expandedTo(minimumSizeHint()));
}

void TSetupForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // A window brought back from the task bar keeps the user's edits.
  if (event->spontaneous()) return;
  try {
    LoadSettings();
  } catch (const std::exception& e) {
    ShowApplicationError(this, QString::fromUtf8(e.what()));
  }
}

void TSetupForm::LoadSettings() {
  const SettingsStore store;
  m_loading = true;
  const auto loaded = qScopeGuard([this] { m_loading = false; });
  for (const Binding& b : m_bindings) {
    const QString byDefault = QLatin1String(b.byDefault);
    ShowStoredText(b.control, store.ReadString(QLatin1String(b.section), QLatin1String(b.ident), byDefault), byDefault);
  }
  for (int k = 0; k < kNewFieldRows; ++k)
    m_headings[k]->setText(store.ReadString(QLatin1String(settings::kDatabase), FieldIdent(k), {}));
  m_useStacked->setChecked(
      store.ReadBool(QLatin1String(settings::kStackedPages), QLatin1String(settings::kUseStackedPages), true));
  ShowStoredText(m_stackedText,
                 store.ReadString(QLatin1String(settings::kStackedPages), QLatin1String(settings::kStackedText), {}));
  // A default text is only useful with stacked pages, so having one turns them on.
  if (!m_stackedText->toPlainText().isEmpty()) m_useStacked->setChecked(true);
  m_stackedText->setEnabled(m_useStacked->isChecked());
}

void TSetupForm::SaveSettings() {
  SettingsStore store;
  for (const Binding& b : m_bindings)
    store.WriteString(QLatin1String(b.section), QLatin1String(b.ident), StoredText(b.control));
  const QString stacked = QLatin1String(settings::kStackedPages);
  store.WriteString(stacked, QLatin1String(settings::kStackedText), StoredText(m_stackedText));
  store.WriteBool(stacked, QLatin1String(settings::kUseStackedPages), m_useStacked->isChecked());
  std::array<QString, kNewFieldRows> headings;
  const QString database = QLatin1String(settings::kDatabase);
  for (int k = 0; k < kNewFieldRows; ++k) {
    headings[k] = m_headings[k]->text();
    store.WriteString(database, FieldIdent(k), headings[k]);
  }
  store.WriteInteger(database, QLatin1String(settings::kColumns), ColumnCountOf(headings));
}

void TSetupForm::Save() {
  try {
    SaveSettings();
    accept();
  } catch (const std::exception& e) {
    // The dialog stays open with the user's edits; what was written stays written.
    ShowApplicationError(this, QString::fromUtf8(e.what()));
  }
}

void TSetupForm::PickColor(QLineEdit* edit) {
  m_picker->exec();
  // The picker leaves its colour's name on the clipboard. Closed without a
  // choice, the clipboard is pasted only when it holds a colour the pages
  // accept; any other text (a sentence copied earlier) would make the pages
  // unreadable, so the setting keeps its value.
  const QString text = QGuiApplication::clipboard()->text().trimmed();
  if (IsPageColour(text)) edit->setText(text);
}

bool IsPageColour(const QString& text) {
  if (!catalog::HasColourShape(text)) return false;
  // A word must also name a colour browsers know.
  return text.startsWith(u'#') || (QColor::isValidColorName(text) &&
                                   text.compare(QStringLiteral("transparent"), Qt::CaseInsensitive) != 0);
}

bool TSetupForm::AskOverwrite() {
  QMessageBox box(QMessageBox::Warning, tr("Warning"), QString::fromLatin1(kOverwriteQuestion),
                  QMessageBox::Ok | QMessageBox::Cancel, this);
  return box.exec() == QMessageBox::Ok;
}

namespace {

QString TypedText(const QWidget* root, const char* ident) {
  return root->findChild<QLineEdit*>(QLatin1String(ident))->text();
}

QString ChosenValue(const QWidget* root, const char* ident) {
  return root->findChild<QComboBox*>(QLatin1String(ident))->currentData().toString();
}

// The check blocks while it connects: a window-modal box shows that
// something is under way, and its Cancel gives the check up at once (a
// silent server would otherwise hold the dialog for the whole time-out).
catalog::SiteCheck CheckWhileBusy(QWidget* dialog, const catalog::SiteSettings& site, catalog::UploadOptions options) {
  QProgressDialog busy(QObject::tr("Testing the connection..."), QObject::tr("Cancel"), 0, 0, dialog);
  busy.setObjectName(QStringLiteral("checkProgress"));
  busy.setWindowModality(Qt::WindowModal);
  busy.setMinimumDuration(0);
  busy.show();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  options.cancelRequested = [&busy] { return busy.wasCanceled(); };
  return catalog::CheckTypedSite(site, options);
}

}  // namespace

bool TSetupForm::AskTrust(const catalog::SiteCheck& check) {
  QMessageBox box(QMessageBox::Warning, tr("Test connection"),
                  tr("%1\n\nIts SHA-256 fingerprint is\n%2\n\nIf this is your own server's certificate (compare "
                     "the fingerprint with the one your host gives you), it can be trusted for this site.\n"
                     "Trust this certificate?")
                      .arg(check.lines.value(0), check.fingerprint),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void TSetupForm::TestConnection() {
  const catalog::SiteSettings site{TypedText(this, settings::kRemoteAddress), TypedText(this, settings::kUserName),
                                   TypedText(this, settings::kRemoteDirectory),
                                   TypedText(this, settings::kRemotePassword)};
  catalog::UploadOptions options;
  options.connectionMode = ChosenValue(this, catalog::kConnectionModeIdent);
  options.tlsMode = ChosenValue(this, catalog::kTlsIdent);
  try {
    catalog::SiteCheck check = CheckWhileBusy(this, site, options);
    if (check.untrustedCertificate && !check.fingerprint.isEmpty()) {
      if (!AskTrust(check)) return;
      options.trustedFingerprint = check.fingerprint;  // stored by the check
      check = CheckWhileBusy(this, site, options);
    }
    QMessageBox box(check.ok ? QMessageBox::Information : QMessageBox::Warning, tr("Test connection"),
                    check.lines.join(u'\n'), QMessageBox::Ok, this);
    box.exec();
  } catch (const std::exception& e) {
    ShowApplicationError(this, QString::fromUtf8(e.what()));
  }
}

void TSetupForm::CreateNewDatabase() {
  std::array<NewFieldRow, kNewFieldRows> rows;
  for (int k = 0; k < kNewFieldRows; ++k) rows[k] = {m_names[k]->text(), m_widths[k]->text()};
  try {
    if (CreateNewCatalogTable(rows, [this] { return AskOverwrite(); }, [this] { emit ProductTableMustClose(); }))
      ShowNotice(this, QString::fromLatin1(kNewTableCreatedMessage));
  } catch (const std::exception& e) {
    ShowApplicationError(this, QString::fromUtf8(e.what()));
  }
}

}  // namespace qm::gui
