// Every exit status of the programs, in one place. korvalen-snapshot's own come first: what
// runSnapshot returns, and what the companions report of the block they read. The companions'
// others are sysexits.h's, where one fits.
#ifndef KORVALEN_STATUS_EXIT_STATUS_H
#define KORVALEN_STATUS_EXIT_STATUS_H

inline constexpr int kStatusReported = 0;     // the whole report reached standard output
inline constexpr int kStatusOpenFailed = 1;   // the block could not be opened
inline constexpr int kStatusMapFailed = 2;    // the block could not be mapped or read
inline constexpr int kStatusWriteFailed = 3;  // the output could not be written

inline constexpr int kUsageStatus = 64;         // EX_USAGE: the command line is wrong
inline constexpr int kNoInputStatus = 66;       // EX_NOINPUT: korvalen-sim's raw file unreadable
inline constexpr int kUnavailableStatus = 69;   // EX_UNAVAILABLE: no broker, or the network failed
inline constexpr int kCantCreateStatus = 73;    // EX_CANTCREAT: the block exists or cannot be made
inline constexpr int kHelpUnwritten = 74;       // EX_IOERR: what was asked for did not reach stdout
inline constexpr int kNoPermissionStatus = 77;  // EX_NOPERM: the broker refused the credentials
inline constexpr int kConfigStatus = 78;        // EX_CONFIG: the sensors file is refused
inline constexpr int kCannotExecuteStatus = 126;  // korvalen-sim's command, as a shell says
inline constexpr int kNotFoundStatus = 127;

#endif  // KORVALEN_STATUS_EXIT_STATUS_H
