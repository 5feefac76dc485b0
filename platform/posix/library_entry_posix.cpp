// The shared object's constructor and destructor hand process attach and detach to the device
// library, as DllMain does on Windows.
#include "platform/library_entry.h"

namespace {

__attribute__((constructor)) void tavrinAttach() { tavrin::entry::processAttach(); }
__attribute__((destructor)) void tavrinDetach() { tavrin::entry::processDetach(); }

}  // namespace
