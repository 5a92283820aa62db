#include "app/run_snapshot.h"

#include <cstdio>

#include "platform/named_block.h"
#include "sensor/sensor_block.h"
#include "sensor/snapshot_report.h"

namespace {

constexpr char kOpenFailedMessage[] = "Korvalen OpenFileMapping Error.\n";
constexpr char kMapFailedMessage[] = "Korvalen MapViewOfFile Error.\n";

// Larger than the longest report (three lines of 32 values, about 1.3 KB).
char reportBuffer[4096];

}  // namespace

int runSnapshot() {
  prepareStandardStreams();
  // The report stays in this buffer until the process exits. On Linux it then leaves in one
  // write, to a file, a pipe or a terminal alike, so a reader never sees half a report. On
  // Windows msvcrt's text mode may split it (under Wine it leaves in two writes). Either way the
  // C library has nothing to probe or allocate for the stream.
  std::setvbuf(stdout, reportBuffer, _IOFBF, sizeof reportBuffer);

  NamedBlockHandle handle;
  if (!openNamedBlock(kSensorMappingName, &handle)) {
    std::fputs(kOpenFailedMessage, stderr);
    return kStatusOpenFailed;
  }

  const volatile std::uint8_t* view = mapNamedBlock(handle, kSensorBlockSize);
  if (view == nullptr) {
    // The handle goes before the message, so nothing is held while we report.
    closeNamedBlock(handle);
    std::fputs(kMapFailedMessage, stderr);
    return kStatusMapFailed;
  }

  // A view whose memory goes away while we read it is a failed map too, found late: the same
  // message and status, and none of the report, which is still in the buffer.
  endProcessOnViewFault(handle, kMapFailedMessage, kStatusMapFailed);
  writeSnapshotReport(SensorBlock{view}, stdout);
  closeNamedBlock(handle);
  return kStatusReported;
}
