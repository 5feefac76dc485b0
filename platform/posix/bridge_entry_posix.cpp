// The bridge's shared object constructor and destructor hand process attach and detach to the
// bridge, as its DllMain does on Windows; thread ends come through the thread-end hook.
#include "platform/bridge_services.h"

namespace {

__attribute__((constructor)) void tavrinBridgeAttach() { tavrin::bridge::entry::processAttach(); }
__attribute__((destructor)) void tavrinBridgeDetach() { tavrin::bridge::entry::processDetach(); }

}  // namespace
