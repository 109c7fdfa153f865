#include "net/ftp_types.h"

#include <map>

namespace qm::net {

const char* FtpStateName(TFtpClientState state) {
  static const char* const kNames[] = {"fcsNotConnected", "fcsReady",     "fcsBetweenSteps",
                                       "fcsLookingUp",    "fcsConnected", "fcsAwaitingWelcome",
                                       "fcsAwaitingReply", "fcsAborting"};
  return kNames[state];
}

const char* FtpReplyPhaseName(TFtpReplyPhase phase) {
  static const char* const kNames[] = {
      "frpIdle",         "frpStepReply",         "frpQuitReply",     "frpAuthReply",   "frpPassiveReply",
      "frpTlsHandshake", "frpPassiveConnecting", "frpTransferStart", "frpTransferEnd", "frpTransferConfirmed"};
  return phase >= frpIdle && phase <= frpTransferConfirmed ? kNames[phase] : "?";
}

const char* FtpDataLinkName(TFtpDataLink link) {
  static const char* const kNames[] = {"fdlNone", "fdlFlowing", "fdlFileSent", "fdlShutDown", "fdlClosed"};
  return link >= fdlNone && link <= fdlClosed ? kNames[link] : "?";
}

const char* FtpStepName(TFtpStep step) {
  static const char* const kNames[] = {
      "none", "Open", "USER", "PASS", "CWD",  "SIZE", "MKD", "RMD",  "RNFR", "RNTO", "RETR", "LIST",
      "QUIT", "SYST", "DELE", "PWD",  "QUOTE", "STOR", "TYPE", "REST", "CDUP", "NLST", "APPE", "PORT",
      "AUTH", "PBSZ", "PROT"};
  return step >= ftpNoStep && step <= ftpProt ? kNames[step] : "?";
}

const char* FtpRequestName(TFtpRequest request) {
  static const std::map<TFtpRequest, const char*> kNames = {
      {frqNone, "frqNone"}, {frqOpen, "frqOpen"}, {frqUser, "frqUser"}, {frqPass, "frqPass"},
      {frqCwd, "frqCwd"}, {frqConnect, "frqConnect"}, {frqSessionRetr, "frqSessionRetr"},
      {frqList, "frqList"}, {frqNlst, "frqNlst"}, {frqPort, "frqPort"}, {frqRetr, "frqRetr"},
      {frqSessionList, "frqSessionList"}, {frqSessionNlst, "frqSessionNlst"},
      {frqSessionSyst, "frqSessionSyst"}, {frqSyst, "frqSyst"}, {frqQuit, "frqQuit"},
      {frqSize, "frqSize"}, {frqStor, "frqStor"}, {frqAppe, "frqAppe"}, {frqMkd, "frqMkd"},
      {frqRmd, "frqRmd"}, {frqSessionRename, "frqSessionRename"}, {frqDele, "frqDele"},
      {frqRenamePair, "frqRenamePair"}, {frqRnto, "frqRnto"}, {frqRnfr, "frqRnfr"},
      {frqSessionDele, "frqSessionDele"}, {frqSessionMkd, "frqSessionMkd"},
      {frqSessionRmd, "frqSessionRmd"}, {frqPwd, "frqPwd"}, {frqQuote, "frqQuote"},
      {frqCdup, "frqCdup"}, {frqSessionQuote, "frqSessionQuote"},
      {frqSessionStor, "frqSessionStor"}, {frqType, "frqType"}, {frqRest, "frqRest"},
      {frqRestRetr, "frqRestRetr"}, {frqSessionRestRetr, "frqSessionRestRetr"}};
  const auto it = kNames.find(request);
  return it == kNames.end() ? "?" : it->second;
}

const char* FtpDataModeName(TFtpDataMode mode) {
  switch (mode) {
    case ftpDataPassive: return "passive";
    case ftpDataExtendedPassive: return "extended passive";
    default: return "active";
  }
}

TFtpStepSet RequestSteps(TFtpRequest request) {
  // The TLS steps run only when the client's TlsMode asks for them.
  constexpr TFtpStepSet kLogin = StepBit(ftpOpen) | StepBit(ftpAuth) | StepBit(ftpUser) | StepBit(ftpPass) |
                                 StepBit(ftpPbsz) | StepBit(ftpProt);
  constexpr TFtpStepSet kSession = kLogin | StepBit(ftpCwd) | StepBit(ftpQuit);
  switch (request) {
    case frqConnect: return kLogin;
    case frqSessionRetr:
      return kSession | StepBit(ftpType) | StepBit(ftpPort) | StepBit(ftpRetr);
    case frqList: return StepBit(ftpPort) | StepBit(ftpList);
    case frqNlst: return StepBit(ftpPort) | StepBit(ftpNlst);
    case frqRetr: return StepBit(ftpPort) | StepBit(ftpRetr);
    case frqSessionList: return kSession | StepBit(ftpPort) | StepBit(ftpList);
    case frqSessionNlst: return kSession | StepBit(ftpPort) | StepBit(ftpNlst);
    case frqSessionSyst: return kLogin | StepBit(ftpSyst) | StepBit(ftpQuit);
    case frqStor: return StepBit(ftpPort) | StepBit(ftpStor);
    case frqAppe: return StepBit(ftpPort) | StepBit(ftpAppe);
    case frqSessionRename: return kSession | StepBit(ftpRnfr) | StepBit(ftpRnto);
    case frqRenamePair: return StepBit(ftpRnfr) | StepBit(ftpRnto);
    case frqSessionDele: return kSession | StepBit(ftpDele);
    case frqSessionMkd: return kSession | StepBit(ftpMkd);
    case frqSessionRmd: return kSession | StepBit(ftpRmd);
    case frqSessionQuote: return kSession | StepBit(ftpQuote);
    case frqSessionStor:
      return kSession | StepBit(ftpType) | StepBit(ftpPort) | StepBit(ftpStor);
    case frqRestRetr: return StepBit(ftpPort) | StepBit(ftpRest) | StepBit(ftpRetr);
    case frqSessionRestRetr:
      return kSession | StepBit(ftpType) | StepBit(ftpPort) | StepBit(ftpRest) | StepBit(ftpRetr);
    default: return 0;
  }
}

}  // namespace qm::net
