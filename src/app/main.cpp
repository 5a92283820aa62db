// korvalen-snapshot: prints one snapshot of the Korvalen monitor's sensor readings.
// Arguments are ignored; the exit status is runSnapshot's.
#include "run_snapshot.h"

int main() { return runSnapshot(); }
