#include "app/run_snapshot.h"

#include <cstdio>

#include "platform/named_block.h"
#include "sensor/snapshot_report.h"

namespace {

// Larger than the longest report (three lines of 32 values, about 1.3 KB).
char reportBuffer[4096];

}  // namespace

int runSnapshot() {
  prepareStandardStreams();
  // The report leaves in one write when the process exits, whatever standard output is: a
  // reader of a pipe or terminal never sees half a report, and the C library has nothing to
  // probe or allocate for the stream.
  std::setvbuf(stdout, reportBuffer, _IOFBF, sizeof reportBuffer);

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
