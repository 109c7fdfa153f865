#pragma once
// The program's version: one number, set by the project's VERSION in CMake,
// shown by the main window, the about box and `quillmart --version`.

namespace qm::gui {

inline constexpr char kVersion[] = QM_VERSION;

}  // namespace qm::gui
