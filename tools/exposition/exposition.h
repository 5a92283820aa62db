// What the companions expose of a block, in one table: for each kind of reading its metric and
// help, the table that names its positions in the sensors file, and its limits (the sensors
// file's key, the limit's metric and help, and how a reading breaks it). The textfile, the
// sensors file's schema, --check and the tests all read this table; nothing else spells a name.
#ifndef KORVALEN_EXPOSITION_EXPOSITION_H
#define KORVALEN_EXPOSITION_EXPOSITION_H

#include <cstdint>
#include <span>

#include "sensor_block.h"

// A gauge with a single value, written before the readings.
struct Gauge {
  const char* name;
  const char* help;
};

inline constexpr Gauge kUpGauge{"korvalen_up", "1 when the Korvalen block was read, else 0."};
inline constexpr Gauge kSnapshotStatusGauge{
    "korvalen_snapshot_status",
    "0 read, 1 not opened, 2 not mapped, as korvalen-snapshot's status."};
// Written only when the block was not read, with a label `reason` that says why.
inline constexpr Gauge kDownReasonGauge{
    "korvalen_down_reason",
    "Why the block was not read: 1, with reason missing (no block), not_ours (a block there but "
    "not ours to read) or not_mapped."};
enum class DownReason { missing, notOurs, notMapped };
inline constexpr const char* kDownReasons[] = {"missing", "not_ours", "not_mapped"};  // its labels
inline constexpr const char* labelOf(DownReason reason) {
  return kDownReasons[static_cast<int>(reason)];
}
// Written only with a sensors file.
inline constexpr Gauge kSensorsFileGauge{
    "korvalen_sensors_file_ok",
    "1 when the sensors file was read, 0 when it was refused: then no reading is written."};
inline constexpr Gauge kWrittenGauge{"korvalen_textfile_written_seconds",
                                     "When this file was written, in seconds since 1970."};
inline constexpr Gauge kBlockVersionGauge{"korvalen_block_version", "The block's version field."};
inline constexpr Gauge kBlockFlagsGauge{"korvalen_block_flags", "The block's flag word."};

// A limit of a position's readings, in the order that holds between them: min <= max <= crit.
enum class Limit { min, max, crit };
inline constexpr int kLimitCount = 3;

// How a reading breaks a limit.
enum class Breach { below, above, atOrAbove };

// Whether a reading of `entry` breaks a limit of `limit` by `breach` (both as the block holds
// them).
inline constexpr bool breaks(Breach breach, std::int32_t entry, std::int32_t limit) {
  return breach == Breach::below   ? entry < limit
         : breach == Breach::above ? entry > limit
                                   : entry >= limit;
}

struct LimitExposition {
  Limit limit;
  const char* key;     // in the sensors file, and in --check's lines
  const char* metric;  // the gauge of the limit, with the reading's labels
  const char* help;
  Breach breach;
};

struct KindExposition {
  ReadingKind kind;
  const char* table;   // the sensors file's table of the kind's positions
  const char* title;   // a position without a name is shown as TITLE N, as the alerts name it
  const char* unit;    // as korvalen-sensors shows a value, in plain ASCII
  const char* metric;  // the gauge of the readings
  const char* help;
  std::span<const LimitExposition> limits;  // in the order they are written
  const char* homeAssistantUnit;            // the unit as Home Assistant takes it
  const char* deviceClass;                  // Home Assistant's device class, or none
};

inline constexpr LimitExposition kTemperatureLimits[] = {
    {Limit::max, "max", "korvalen_temp_max_celsius",
     "Temperature above which the sensor runs hot, degrees Celsius (sensors file).", Breach::above},
    {Limit::crit, "crit", "korvalen_temp_crit_celsius",
     "Temperature at which the sensor is critical, degrees Celsius (sensors file).",
     Breach::atOrAbove}};
inline constexpr LimitExposition kFanLimits[] = {
    {Limit::min, "min", "korvalen_fan_min_rpm",
     "Fan speed below which the fan is slow, revolutions per minute (sensors file).",
     Breach::below}};
inline constexpr LimitExposition kVoltageLimits[] = {
    {Limit::min, "min", "korvalen_in_min_volts", "Lowest good voltage, volts (sensors file).",
     Breach::below},
    {Limit::max, "max", "korvalen_in_max_volts", "Highest good voltage, volts (sensors file).",
     Breach::above}};

// In the order of ReadingKind, which is the block's.
inline constexpr KindExposition kExposition[] = {
    {ReadingKind::temperatures, "temperature", "Temperature", "C", "korvalen_temp_celsius",
     "Temperature, degrees Celsius.", kTemperatureLimits,
     "\xC2\xB0"
     "C",
     "temperature"},
    {ReadingKind::fans, "fan", "Fan", "RPM", "korvalen_fan_rpm",
     "Fan speed, revolutions per minute.", kFanLimits, "rpm", nullptr},
    {ReadingKind::voltages, "voltage", "Voltage", "V", "korvalen_in_volts", "Voltage, volts.",
     kVoltageLimits, "V", "voltage"}};

static_assert(kExposition[0].kind == ReadingKind::temperatures &&
              kExposition[1].kind == ReadingKind::fans &&
              kExposition[2].kind == ReadingKind::voltages);

inline constexpr const KindExposition& exposition(ReadingKind kind) {
  return kExposition[static_cast<int>(kind)];
}

#endif  // KORVALEN_EXPOSITION_EXPOSITION_H
