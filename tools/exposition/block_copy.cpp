#include "block_copy.h"

#include "exit_status.h"
#include "exposition.h"

ReadOutcome readBlock(std::uint8_t (&copy)[kSensorBlockSize], OpenFailure* why) {
  NamedBlockHandle handle;
  if (!openNamedBlock(kSensorMappingName, &handle, why)) return ReadOutcome::notOpened;
  const volatile std::uint8_t* view = mapNamedBlock(handle, kSensorBlockSize);
  const bool copied = view != nullptr && copyNamedBlock(view, kSensorBlockSize, copy);
  closeNamedBlock(handle);
  return copied ? ReadOutcome::read : ReadOutcome::notMapped;
}

int snapshotStatusOf(ReadOutcome outcome) {
  return outcome == ReadOutcome::read        ? kStatusReported
         : outcome == ReadOutcome::notOpened ? kStatusOpenFailed
                                             : kStatusMapFailed;
}

DownReason downReasonOf(ReadOutcome outcome, OpenFailure why) {
  // A failure to open that is neither "no such block" nor a refusal still finds an object of
  // the name that is of no use to us.
  if (outcome == ReadOutcome::notMapped) return DownReason::notMapped;
  return why == OpenFailure::missing ? DownReason::missing : DownReason::notOurs;
}
