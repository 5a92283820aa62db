// Windows: a write to a closed pipe fails with an error; nothing can kill the process.
#include "standard_streams.h"

void prepareStandardStreams() {}
