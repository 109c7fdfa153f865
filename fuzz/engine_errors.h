#pragma once
// The engines' error reports raise EEngineIoError in every fuzz target, the way
// the command-line companion sees them, but never end the process: a report
// with a negative subcode would otherwise stop it as an internal fault.

#include "dbf/errors.h"

namespace qm::fuzz {

inline void RaiseEngineErrors() {
  static const bool installed = [] {
    dbf::SetErrorHook([](int32_t code, int32_t subCode, const char* text) {
      if (code != 0) throw dbf::EEngineIoError(code, subCode, dbf::BrambleErrorMessage(code, subCode, text));
    });
    return true;
  }();
  (void)installed;
}

}  // namespace qm::fuzz
