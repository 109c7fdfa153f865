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

// What the client waits for on the control connection. With TFtpClientState
// (the coarse state its users see) and TFtpDataLink this is the whole protocol
// state of a session; the client changes it in one place and traces each change.
enum TFtpReplyPhase {
  frpIdle,              // no reply is due
  frpStepReply,         // a step's reply; then the request goes on
  frpQuitReply,         // QUIT's reply; then the control connection is closed
  frpAuthReply,         // AUTH TLS's reply; then the TLS handshake
  frpPassiveReply,      // PASV or EPSV's reply; then the data connection is made
  frpTlsHandshake,      // the control connection's handshake: lines are only shown
  frpPassiveConnecting, // the data connection is being made: lines are only shown
  frpTransferStart,     // the first reply to a transfer command (125 or 150)
  frpTransferEnd,       // the transfer's final reply (226 or 250)
  frpTransferConfirmed  // 226 or 250 came; the data connection's close completes the transfer
};

// The data connection of the transfer running. A transfer is complete when
// the reply phase is frpTransferConfirmed and the link fdlClosed.
enum TFtpDataLink {
  fdlNone,      // no transfer data connection yet (a listening socket may wait)
  fdlFlowing,   // connected; bytes flow
  fdlFileSent,  // a store's whole file is queued; over TLS our close alert may wait for a ticket
  fdlShutDown,  // a store's sending side is shut: the server's close ends the transfer
  fdlClosed     // the data connection is gone
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
const char* FtpReplyPhaseName(TFtpReplyPhase phase);
const char* FtpDataLinkName(TFtpDataLink link);
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
