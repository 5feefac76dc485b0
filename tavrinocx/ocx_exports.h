/*
 * TavrinOcx, the browser control: the list of its exported functions, the entry points of an
 * in-process COM server, in the order of its export table. The build writes the Windows
 * module-definition file from it and checks the built DLL against it.
 *
 * Each entry is TAVRIN_OCX_FUNCTION(name, stack bytes, (parameters)) for the export Dll<name>;
 * "stack bytes" is what a 32-bit __stdcall caller pushes. The file has no include guard.
 */
#ifndef TAVRIN_OCX_FUNCTION
#error "define TAVRIN_OCX_FUNCTION before including ocx_exports.h"
#endif

/* The class factory of the control's class. */
TAVRIN_OCX_FUNCTION(GetClassObject, 12, (REFCLSID rclsid, REFIID riid, LPVOID* ppv))
/* S_OK when no object of the module and no server lock is left. */
TAVRIN_OCX_FUNCTION(CanUnloadNow, 0, (void))
/* Registers the type library and the control's class and ProgID. */
TAVRIN_OCX_FUNCTION(RegisterServer, 0, (void))
/* Removes what DllRegisterServer wrote. */
TAVRIN_OCX_FUNCTION(UnregisterServer, 0, (void))
