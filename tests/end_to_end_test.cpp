// korvalen-snapshot as its users run it, with korvalen-sim publishing the block. Runs natively
// and, built for Windows, under Wine.
#include <string>

#include "outcome.h"
#include "support/block_bytes.h"

namespace {

const BlockDescription kRawBlock{.version = 4,
                                 .flags = 2,
                                 .temperatures = {2, {4550, -120}},
                                 .fans = {65535, sequence(32, 3)},
                                 .voltages = {1, {331}},
                                 .filler = 0xFF};
const std::string kRawBytes = bytesOf(kRawBlock);
const std::string kRawReport =
    "Version: 4\nFlags: 2\nTemperatures: 45.50 -1.20\nFans:" + valuesText(sequence(32, 3), false) +
    "\nVoltages: 3.31\n";
const std::vector<std::string> kSnapshotOfRaw{"{sim}", "--raw", "{file}", "--", "{snapshot}"};
const std::vector<std::string> kSnapshotOfSample{"{sim}", "--sample", "--", "{snapshot}"};

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Snapshot, Outcome,
    testing::Values(
        OutcomeRow{"MissingBlock", {"{snapshot}"}, 1, "", kOpenError},
        OutcomeRow{"MissingBlockWithArguments", {"{snapshot}", "--help"}, 1, "", kOpenError},
        OutcomeRow{"ArgumentsChangeNothing", {"{sim}", "--sample", "--", "{snapshot}", "--help",
                   "-v", "x y", ""}, 0, kSampleReport, ""},
        OutcomeRow{"RawWholeRecord", kSnapshotOfRaw, 0, kRawReport, "", {}, kRawBytes},
        OutcomeRow{"RawLargerThanRecord", kSnapshotOfRaw, 0, kRawReport, "", {},
                   kRawBytes + std::string(5000, '\x7f')},
        OutcomeRow{"RawOneByteShort", kSnapshotOfRaw, 2, "", kMapError, {}, kRawBytes.substr(0, 401)},
        OutcomeRow{"RawOneByte", kSnapshotOfRaw, 2, "", kMapError, {}, "\x01"},
        OutcomeRow{"BlockThatRefusesReaders", {"{unprivileged}", "{sim}", "--refuse-readers",
                   "--sample", "--", "{snapshot}"}, 1, "", kOpenError},
        OutcomeRow{"ReportToNullDevice", kSnapshotOfSample, 0, "", "", OutputSink::nullDevice},
        OutcomeRow{"ReportToFullDevice", kSnapshotOfSample, 3, "", kWriteError, OutputSink::fullDevice},
        OutcomeRow{"ReportToClosedPipe", kSnapshotOfSample, 3, "", kWriteError, OutputSink::closedPipe},
        OutcomeRow{"ReportWithoutStandardOutput", kSnapshotOfSample, 3, "", kWriteError,
                   OutputSink::closed}),
    testing::PrintToStringParamName());
// clang-format on

}  // namespace
