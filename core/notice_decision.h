// The notice decision as pure functions of the machine's readings. The
// trigger notification does the reading (embedded controller, SecureBoot
// variable, the end-of-DXE probe's result) in a fixed order and asks these
// functions what follows; host tools call the same functions to explain a
// result.
#pragma once

#include "efi/efi_types.h"

// Embedded-controller registers the controller's firmware gives meaning to.
inline constexpr UINT8 kEcStateRegister = 0x80;  // bits 0-1: state code
inline constexpr UINT8 kEcLevelRegister = 0x93;  // 5 or less is critical
inline constexpr UINT8 kEcFlagRegister = 0x0D;   // bit 1 selects notice 2

inline constexpr UINT8 kEcStateCodeMask = 0x03;
inline constexpr UINT8 kEcStateNotice1 = 1;
inline constexpr UINT8 kEcStateCheckLevel = 2;
inline constexpr UINT8 kEcCriticalLevel = 5;
inline constexpr UINT8 kEcFlagNotice2 = 0x02;

// Notices the decision chooses (6 exists as a picture; the decision never picks it).
inline constexpr UINT8 kNoticeNone = 0;
inline constexpr UINT8 kNoticeEcState = 1;
inline constexpr UINT8 kNoticeEcFlag = 2;
inline constexpr UINT8 kNoticeCriticalLevel = 3;
inline constexpr UINT8 kNoticeNoStorage = 4;
inline constexpr UINT8 kNoticeSecureBootOff = 5;

inline constexpr UINT8 kSecureBootUnread = 0xFF;
inline constexpr UINT8 kSecureBootEnabled = 1;

// What one notification read, in the order it read it.
struct NoticeReadings {
  UINT8 State;            // register 0x80
  UINT8 Level;            // register 0x93
  UINT8 LevelAgain;       // register 0x93 a second later; read only when the critical wait was due
  UINT8 Flag;             // register 0x0D
  UINT8 SecureBootState;  // the SecureBoot byte, 0 when the read failed
  UINT8 StorageAbsent;    // 1 when end of DXE found no NVM Express or SATA controller
  UINT8 PreviousMode;     // the notice chosen by the previous notification (0 at the first)
};

// A state code of 2 with a level of 5 or less must be confirmed a second later.
constexpr bool CriticalWaitDue(UINT8 State, UINT8 Level) {
  return (State & kEcStateCodeMask) == kEcStateCheckLevel && Level <= kEcCriticalLevel;
}

// The rule that decides a notification's notice, lowest priority first: each
// later rule that applies overrides the earlier ones.
enum class NoticeRule : UINT8 {
  PreviousNotice,  // nothing applied: the previous notification's choice stands (none at the first)
  EcStateCode1,    // state code 1: notice 1
  CriticalLevel,   // state code 2 with a level of 5 or less, still so a second later: notice 3
  EcFlag,          // register 0x0D bit 1: notice 2
  SecureBootOff,   // the SecureBoot byte is not 1: notice 5
  NoStorage,       // end of DXE found no NVM Express or SATA controller: notice 4
};

constexpr NoticeRule DecidingRule(const NoticeReadings &Readings) {
  if (Readings.StorageAbsent != 0) return NoticeRule::NoStorage;
  if (Readings.SecureBootState != kSecureBootEnabled) return NoticeRule::SecureBootOff;
  if ((Readings.Flag & kEcFlagNotice2) != 0) return NoticeRule::EcFlag;
  if (CriticalWaitDue(Readings.State, Readings.Level)) {
    return Readings.LevelAgain <= kEcCriticalLevel ? NoticeRule::CriticalLevel : NoticeRule::PreviousNotice;
  }
  if ((Readings.State & kEcStateCodeMask) == kEcStateNotice1) return NoticeRule::EcStateCode1;
  return NoticeRule::PreviousNotice;
}

// The notice a rule gives.
constexpr UINT8 NoticeOfRule(NoticeRule Rule, UINT8 PreviousMode) {
  switch (Rule) {
    case NoticeRule::EcStateCode1:
      return kNoticeEcState;
    case NoticeRule::CriticalLevel:
      return kNoticeCriticalLevel;
    case NoticeRule::EcFlag:
      return kNoticeEcFlag;
    case NoticeRule::SecureBootOff:
      return kNoticeSecureBootOff;
    case NoticeRule::NoStorage:
      return kNoticeNoStorage;
    case NoticeRule::PreviousNotice:
      break;
  }
  return PreviousMode;
}

constexpr UINT8 DecideNotice(const NoticeReadings &Readings) {
  return NoticeOfRule(DecidingRule(Readings), Readings.PreviousMode);
}
