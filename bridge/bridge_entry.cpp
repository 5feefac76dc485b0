// What the bridge does when it is attached to a process, when a thread ends and when it leaves.
#include "bridge/device_functions.h"
#include "bridge/trace_log.h"
#include "platform/bridge_services.h"

namespace tavrin::bridge::entry {

void processAttach() { (void)BindDeviceLibrary(); }

void threadDetach() { traceThreadEnd(); }

// The device library stays loaded; the trace log's thread states go.
void processDetach() {
    platform::bridge::releaseThreadEndHooks();
    traceShutdown();
}

}  // namespace tavrin::bridge::entry
