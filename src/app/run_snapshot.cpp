#include "app/run_snapshot.h"

#include <cstdio>

#include "platform/named_block.h"
#include "sensor/snapshot_report.h"

int runSnapshot() {
  prepareStandardStreams();

  NamedBlockHandle handle;
  if (!openNamedBlock(kSensorMappingName, &handle)) {
    std::fputs("Korvalen OpenFileMapping Error.\n", stderr);
    return kStatusOpenFailed;
  }

  const volatile std::uint8_t* view = mapNamedBlock(handle, kSensorBlockSize);
  if (view == nullptr) {
    // The handle goes before the message, so nothing is held while we report.
    closeNamedBlock(handle);
    std::fputs("Korvalen MapViewOfFile Error.\n", stderr);
    return kStatusMapFailed;
  }

  writeSnapshotReport(SensorBlock{view}, stdout);
  closeNamedBlock(handle);
  return kStatusReported;
}
