#pragma once
// Types of the FTP client: client states, request kinds, steps and share modes,
// each with a name table for traces, and the client's exception.

#include <cstdint>
#include <stdexcept>

namespace qm::net {

enum TFtpClientState {
  fcsNotConnected, fcsReady, fcsBetweenSteps, fcsLookingUp,
  fcsConnected, fcsAwaitingWelcome, fcsAwaitingReply, fcsAborting
};

// Request kinds, with the ordinals reported by OnRequestDone (19 and 20 unused).
enum TFtpRequest {
  frqNone = 0, frqOpen, frqUser, frqPass, frqCwd, frqConnect, frqSessionRetr, frqList,
  frqNlst, frqPort, frqRetr, frqSessionList, frqSessionNlst, frqSessionSyst, frqSyst,
  frqQuit, frqSize, frqStor, frqAppe,
  frqMkd = 21, frqRmd, frqSessionRename, frqDele, frqRenamePair, frqRnto, frqRnfr,
  frqSessionDele, frqSessionMkd, frqSessionRmd, frqPwd, frqQuote, frqCdup,
  frqSessionQuote, frqSessionStor, frqType, frqRest, frqRestRetr, frqSessionRestRetr
};

// Steps: the number is both the bit in a step set and the current-step id.
enum TFtpStep {
  ftpNoStep = 0, ftpOpen, ftpUser, ftpPass, ftpCwd, ftpSize, ftpMkd, ftpRmd, ftpRnfr,
  ftpRnto, ftpRetr, ftpList, ftpQuit, ftpSyst, ftpDele, ftpPwd, ftpQuote, ftpStor,
  ftpType, ftpRest, ftpCdup, ftpNlst, ftpAppe, ftpPort,
  ftpAuth, ftpPbsz, ftpProt  // TLS: AUTH TLS before the log-in, PBSZ 0 and PROT P after it
};
using TFtpStepSet = std::uint32_t;
constexpr TFtpStepSet StepBit(TFtpStep step) { return TFtpStepSet{1} << step; }

// How data connections are made: the client listens and announces it (PORT),
// or the server listens and the client connects (PASV, or EPSV of RFC 2428).
enum TFtpDataMode { ftpDataActive, ftpDataPassive, ftpDataExtendedPassive };
const char* FtpDataModeName(TFtpDataMode mode);  // "active", "passive", "extended passive"

// Whether the session is encrypted (explicit FTPS, RFC 4217): plain never
// asks; "if offered" goes on in plain when AUTH TLS is refused; required ends
// the session then.
enum TFtpTlsMode { ftpTlsPlain, ftpTlsIfOffered, ftpTlsRequired };

enum TFtpShareMode {
  ftpShareCompat, ftpShareExclusive, ftpShareDenyWrite, ftpShareDenyRead, ftpShareDenyNone
};

const char* FtpStateName(TFtpClientState state);
const char* FtpRequestName(TFtpRequest request);
const char* FtpStepName(TFtpStep step);

// The step set that a multi-step request kind runs (0 for kinds of one step).
TFtpStepSet RequestSteps(TFtpRequest request);

// Precondition failures of the client; the synchronous calls turn them into false.
class FtpException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace qm::net
