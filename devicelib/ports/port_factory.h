// Creates the port object for a port type; none for a type this library has no port for.
#pragma once

#include <cstdint>
#include <memory>

#include "devicelib/ports/b_port.h"

namespace tavrin {

// host: what the port needs of the library (it outlives the port).
std::unique_ptr<CBPort> createPort(std::uint16_t portType, PortHost& host);

}  // namespace tavrin
