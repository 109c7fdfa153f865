#include "dbf/errors.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace qm::dbf {
namespace {

std::mutex& HookMutex() {
  static std::mutex mutex;
  return mutex;
}

ErrorHook& InstalledHook() {
  static ErrorHook hook = DefaultErrorHandler;
  return hook;
}

}  // namespace

std::string BrambleErrorMessage(int32_t code, int32_t subCode, const char* text) {
  std::string message =
      "Bramble Error " + std::to_string(code) + ", SubCode" + " " + std::to_string(subCode) + "  ";
  if (text != nullptr) message += text;
  return message;
}

void FatalStop(int32_t code) {
  std::fprintf(stderr, "Runtime error %d\n", static_cast<int>(code));
  std::fflush(stderr);
  std::_Exit(code & 0xFF);
}

void DefaultErrorHandler(int32_t code, int32_t subCode, const char* text) {
  if (code == 0) return;
  if (subCode < 0 && subCode != subcode::kValueConversion) FatalStop(code);
  throw EEngineIoError(code, subCode, BrambleErrorMessage(code, subCode, text));
}

ErrorHook SetErrorHook(ErrorHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  ErrorHook previous = InstalledHook();
  InstalledHook() = hook ? std::move(hook) : ErrorHook(DefaultErrorHandler);
  return previous;
}

void CallErrorHook(int32_t code, int32_t subCode, const char* text) {
  ErrorHook hook;
  {
    std::lock_guard<std::mutex> lock(HookMutex());
    hook = InstalledHook();
  }
  hook(code, subCode, text);
}

bool TbrErrorReporter::Check(int32_t code, int32_t subCode) {
  m_lastCode = code;
  if (code == 0) return true;
  errno = code;
  if (m_suppressCount <= 0) Error(code, subCode, ErrorText());
  return false;
}

void TbrErrorReporter::Error(int32_t code, int32_t subCode, const char* text) {
  CallErrorHook(code, subCode, text);
}

void TbrErrorReporter::ReportText(int32_t code, int32_t subCode, const char* text) {
  m_lastCode = code;
  if (code != 0) errno = code;
  if (code != 0 && m_suppressCount <= 0) Error(code, subCode, text);
}

}  // namespace qm::dbf
