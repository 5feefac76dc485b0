// The system's COM and OLE declarations the control is built on, after the one header that
// includes <windows.h>. Only the control's Windows files include this.
#pragma once

#include "platform/win32/windows_api.h"

#include <ole2.h>
#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>
