// The monitor's block, read once into a copy of the companions' own, through the same calls and
// trust rules as korvalen-snapshot; a view fault is told, never a crash.
#ifndef KORVALEN_EXPOSITION_BLOCK_COPY_H
#define KORVALEN_EXPOSITION_BLOCK_COPY_H

#include <cstdint>

#include "exposition.h"
#include "named_block.h"
#include "sensor_block.h"

// How reading the block went.
enum class ReadOutcome { read, notOpened, notMapped };

// Reads the block once into `copy`. Returns read with `copy` filled, notOpened when the block
// cannot be opened (missing, refused, another user's: `*why` says which), notMapped when it
// cannot be mapped or its memory goes away while it is read.
ReadOutcome readBlock(std::uint8_t (&copy)[kSensorBlockSize], OpenFailure* why);

// korvalen-snapshot's exit status for the same block.
int snapshotStatusOf(ReadOutcome outcome);

// Why the block was not read, for korvalen_down_reason.
DownReason downReasonOf(ReadOutcome outcome, OpenFailure why);

#endif  // KORVALEN_EXPOSITION_BLOCK_COPY_H
