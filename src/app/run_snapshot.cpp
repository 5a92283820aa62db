#include "run_snapshot.h"

#include <cstdio>

#include "named_block.h"
#include "sensor_block.h"
#include "snapshot_report.h"
#include "standard_streams.h"

namespace {

constexpr char kOpenFailedMessage[] = "Korvalen OpenFileMapping Error.\n";
constexpr char kMapFailedMessage[] = "Korvalen MapViewOfFile Error.\n";
constexpr char kWriteFailedMessage[] = "Korvalen WriteFile Error.\n";

// Larger than the longest report (three lines of 32 values, about 1.3 KB).
char reportBuffer[4096];

}  // namespace

int runSnapshot() {
  prepareStandardStreams();
  // The report stays in this buffer until it is flushed at the end, so it leaves in one write
  // (on Linux, to a file, a pipe or a terminal alike) and a reader never sees half a report; nor
  // does the C library probe or allocate anything for the stream.
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

  // The report leaves here, in the flush that the exit would otherwise make, and a report that
  // did not arrive whole (a full disk, a closed pipe or stdout, a failed write) is told. The
  // stream drops what it failed to write, so the exit writes nothing of it again.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fputs(kWriteFailedMessage, stderr);
    return kStatusWriteFailed;
  }
  return kStatusReported;
}
