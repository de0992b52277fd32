#include "util/StopFlags.h"

namespace StopFlags {

volatile bool StopRequested = false;
volatile bool RemoteStopRequested = false;
volatile bool TerminationSignalled = false;

}  // namespace StopFlags
