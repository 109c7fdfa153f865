// Reads the input as the settings store's file: every entry, and the known
// settings through the typed readers and the value checks of the setup.
#include "app/core/settings_store.h"
#include "fuzz/fuzz_files.h"

using namespace qm::catalog;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::fuzz::FreshFolder();
  const std::string path =
      qm::fuzz::WriteFile("Quillmart.ini", std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    SettingsStore store(QString::fromStdString(path));
    for (const SettingsStore::Entry& entry : store.Entries()) {
      (void)store.ReadInteger(entry.section, entry.ident, 0);
      if (const SettingInfo* info = FindSetting(entry.section, entry.ident))
        (void)SettingValueProblem(*info, entry.value);
    }
    for (const SettingInfo& info : KnownSettings())
      (void)store.ReadBool(info.section, info.ident, false);
  } catch (const SettingsError&) {
    // An unreadable store is refused with its message.
  }
  return 0;
}
