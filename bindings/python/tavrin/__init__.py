"""The Tavrin device library from Python.

The library's exports with Python types, through ctypes (nothing to compile): texts are str
(UTF-16 on the library's side, encoded here: ctypes' c_wchar is 4 bytes on Linux), data is bytes,
and a failed call raises TavrinError naming the export and its arguments.

    import tavrin

    library = tavrin.Library()                      # finds the installed library
    with library.open("127.0.0.2:9100") as printer: # a network device: data and control port
        answer = printer.command("CTRL_CMDGET_MODEL", retry_for=3.0)
        print(answer.data.decode())
        sent = printer.write(b"TAVRIN\\n\\n")       # may be fewer bytes than given

The library is found at the path of the environment variable TAVRIN_LIBRARY, else in the install
tree this module belongs to (lib/ or bin/ of a folder above it), else by the system's loader.
"""

import ctypes
import os
import re
import sys
import time
from collections import namedtuple
from pathlib import Path

__all__ = [
    "Answer", "Device", "Library", "TavrinError",
    "PORT_USBPRN", "PORT_HID", "PORT_NET_DATA", "PORT_NET_CTRL", "MODE_DATA", "MODE_CTRL",
    "SELECT_CTRL", "SELECT_DATA", "LIBRARY_MAJOR",
]

# The major version of the library this module is written for (TAVRIN_VERSION_MAJOR).
LIBRARY_MAJOR = 0

PORT_USBPRN = 0x0301
PORT_HID = 0x0302
PORT_NET_DATA = 0x0401
PORT_NET_CTRL = 0x0402
MODE_DATA = 0x0001
MODE_CTRL = 0x0002
SELECT_CTRL = 0
SELECT_DATA = 1

# Texts cross the interface as UTF-16 in the machine's byte order, terminated by a zero unit.
_UTF16 = "utf-16-le" if sys.byteorder == "little" else "utf-16-be"
_NET_PATH = re.compile(r"^\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}:\d{1,5}$")


class DevOpenInfo(ctypes.Structure):
    """_DEVOPEN_INFO, the open record."""
    _fields_ = [("path", ctypes.c_void_p), ("readTimeout", ctypes.c_int32), ("writeTimeout", ctypes.c_int32),
                ("portType", ctypes.c_uint16), ("portMode", ctypes.c_uint16)]


class DevAckInfo(ctypes.Structure):
    """_DEVACK_INFO, the answer record of a command exchange."""
    _fields_ = [("lpBuf", ctypes.c_void_p), ("bufLen", ctypes.c_uint16), ("datLen", ctypes.c_uint16),
                ("ackCode", ctypes.c_uint8)]


_u32p = ctypes.POINTER(ctypes.c_uint32)
_text = ctypes.c_void_p  # const tavrin_wchar_t*, passed and returned as an address

# The exports in the order of the library's export list: name without "dllFunc_", result type,
# parameter types.
FUNCTIONS = (
    ("EnumDevPath", ctypes.c_uint32, (ctypes.c_uint16, _text, _u32p, ctypes.c_uint32, ctypes.c_uint32)),
    ("EnumProtoCode", _text, (ctypes.c_uint16, ctypes.POINTER(ctypes.c_uint16))),
    ("OpenDev", ctypes.c_int32, (ctypes.POINTER(DevOpenInfo),)),
    ("CloseDev", ctypes.c_int32, (ctypes.c_int32,)),
    ("GetDevHandle", ctypes.c_ssize_t, (ctypes.c_int32, ctypes.c_uint32)),
    ("DevIoCtrl", ctypes.c_int32,
     (ctypes.c_int32, _text, ctypes.c_void_p, ctypes.c_uint32, ctypes.POINTER(DevAckInfo))),
    ("Write", ctypes.c_int32, (ctypes.c_int32, ctypes.c_void_p, ctypes.c_uint32, _u32p, ctypes.c_void_p)),
    ("Read", ctypes.c_int32, (ctypes.c_int32, ctypes.c_void_p, ctypes.c_uint32, _u32p, ctypes.c_void_p)),
    ("LoadDevCfg", ctypes.c_int32, (ctypes.c_int32, _text)),
    ("GetDevCfgInfo", ctypes.c_int32,
     (ctypes.c_int32, ctypes.c_void_p, _text, ctypes.POINTER(ctypes.c_uint16), ctypes.c_uint16, ctypes.c_uint16)),
    ("SetDevCfgInfo", ctypes.c_int32, (ctypes.c_int32, _text, _text, ctypes.c_int32, ctypes.c_uint16)),
    ("OpenLog", ctypes.c_int32, (_text,)),
    ("SetLogRecord", ctypes.c_int32, (_text, ctypes.c_int32, ctypes.c_int32, ctypes.c_int32)),
    ("GetLogRecord", _text, (_u32p, ctypes.c_int32)),
    ("CloseLog", None, ()),
)


class TavrinError(OSError):
    """A call of the library that failed: `call` is the export ("dllFunc_OpenDev"), `arguments` what
    it was given, `result` what it returned. The library's log says why."""

    def __init__(self, call, arguments, result):
        self.call = call
        self.arguments = arguments
        self.result = result
        shown = ", ".join(f"{key}={value!r}" for key, value in arguments.items())
        super().__init__(f"{call}({shown}) failed with {result}")


Answer = namedtuple("Answer", "ack_code data")
Answer.__doc__ = "The answer of a command exchange: the device's acknowledge code and its data."


def _wide(text):
    """A zero-terminated UTF-16 copy of text for the library; None stays a null pointer."""
    if text is None:
        return None
    encoded = os.fspath(text).encode(_UTF16, "surrogatepass") + b"\0\0"
    return ctypes.create_string_buffer(encoded, len(encoded))


def _from_wide(address, count=None):
    """The str of UTF-16 text at address: count units, or up to its terminating zero."""
    if not address:
        return None
    if count is None:
        units = ctypes.cast(address, ctypes.POINTER(ctypes.c_uint16))
        count = 0
        while units[count] != 0:
            count += 1
    return ctypes.string_at(address, count * 2).decode(_UTF16, "surrogatepass")


def _library_file_name():
    return "Tavrin.dll" if os.name == "nt" else f"libTavrin.so.{LIBRARY_MAJOR}"


def find_library():
    """The path of the library to load (see the module's description)."""
    named = os.environ.get("TAVRIN_LIBRARY")
    if named:
        return named
    name = _library_file_name()
    here = Path(__file__).resolve().parent
    for folder in [here, *here.parents][:6]:
        for candidate in (folder / name, folder / "lib" / name, folder / "bin" / name):
            if candidate.is_file():
                return str(candidate)
    return name


class Library:
    """The device library, loaded once per process (its start-up runs at the first load)."""

    def __init__(self, path=None):
        self.path = path or find_library()
        loader = ctypes.WinDLL if os.name == "nt" else ctypes.CDLL  # __stdcall on Windows
        try:
            self._dll = loader(self.path)
        except OSError as error:
            raise OSError(f"cannot load the Tavrin library {self.path}: {error}") from error
        self.functions = {}
        for name, result, parameters in FUNCTIONS:
            function = getattr(self._dll, "dllFunc_" + name)
            function.restype = result
            function.argtypes = parameters
            self.functions[name] = function

    def _call(self, name, *arguments):
        if self._dll is None:
            raise TavrinError("dllFunc_" + name, {}, "an unloaded library")
        return self.functions[name](*arguments)

    def unload(self):
        """Unloads the library (its detach runs: open devices are closed, the log is flushed).
        Devices and functions of this object cannot be used afterwards."""
        if self._dll is None:
            return
        import _ctypes
        handle, self._dll = self._dll._handle, None
        self.functions = {}
        if os.name == "nt":
            _ctypes.FreeLibrary(handle)
        else:
            _ctypes.dlclose(handle)

    # Devices

    def enum_dev_path(self, port_type, vid=0, pid=0):
        """The device paths of a port type. For the network types vid is the UDP port of the
        search, which waits until 2000 ms pass without an answer."""
        capacity = 4096
        while True:
            buffer = ctypes.create_string_buffer(capacity * 2)
            size = ctypes.c_uint32(capacity)
            count = self._call("EnumDevPath", port_type, ctypes.addressof(buffer), ctypes.byref(size), vid, pid)
            if size.value <= capacity or count == 0:
                break
            capacity = size.value
        text = buffer.raw.decode(_UTF16, "surrogatepass")
        return [path for path in text.split("\0") if path][:count]

    def enum_proto_code(self, index):
        """(name, code) of a row of the command name table, or None past its end."""
        code = ctypes.c_uint16(0)
        address = self._call("EnumProtoCode", index, ctypes.byref(code))
        return None if not address else (_from_wide(address), code.value)

    def command_names(self):
        """Every row of the command name table as (name, code)."""
        rows = []
        while (row := self.enum_proto_code(len(rows))) is not None:
            rows.append(row)
        return rows

    def open(self, path, port_type=None, mode=MODE_DATA | MODE_CTRL, read_timeout=0, write_timeout=0):
        """Opens a device; port_type defaults to PORT_NET_DATA for "a.b.c.d:port", else
        PORT_USBPRN. Time-outs in ms, below 1 for the settings' values. Network connections are
        made in the background: transfers fail until they are up (see retry_for)."""
        if port_type is None:
            port_type = PORT_NET_DATA if _NET_PATH.match(str(path)) else PORT_USBPRN
        text = _wide(path)
        info = DevOpenInfo(ctypes.addressof(text), read_timeout, write_timeout, port_type, mode)
        handle = self._call("OpenDev", ctypes.byref(info))
        if handle < 0:
            raise TavrinError("dllFunc_OpenDev", {"path": str(path), "port_type": hex(port_type), "mode": mode},
                              handle)
        return Device(self, handle, str(path))

    # Device configuration: one model in the library for every device and caller. device is an
    # open Device, or None for no device: the description then comes from a file and the packet
    # from and to "devCfg.dat" in the library's user data folder.

    def load_config(self, device=None, path=None):
        """Loads a configuration description: the device's own, or without a device the file at
        path (None: "devCfg.xml" in the user data folder)."""
        handle = _config_handle(device, "dllFunc_LoadDevCfg")
        text = _wide(path)
        if not self._call("LoadDevCfg", handle, ctypes.addressof(text) if text is not None else None):
            raise TavrinError("dllFunc_LoadDevCfg", {"handle": handle, "path": None if path is None else str(path)}, 0)

    def _config_text(self, handle, key, by_name, refresh, arguments):
        capacity = 1024
        while True:
            buffer = ctypes.create_string_buffer(capacity * 2)
            size = ctypes.c_uint16(capacity)
            if self._call("GetDevCfgInfo", handle, key, ctypes.addressof(buffer), ctypes.byref(size), int(by_name),
                          0 if refresh else 1):
                return buffer.raw[:size.value * 2].decode(_UTF16, "surrogatepass")
            if size.value <= capacity:
                raise TavrinError("dllFunc_GetDevCfgInfo", arguments, 0)
            capacity = size.value  # the room the text needs
            refresh = False

    def config_item(self, index, device=None, refresh=True):
        """The description line of item index ("Name=..,Type=..,..\r\n"); unless refresh is
        False the configuration packet is read again first."""
        handle = _config_handle(device, "dllFunc_GetDevCfgInfo")
        key = ctypes.c_uint16(index)
        return self._config_text(handle, ctypes.addressof(key), False, refresh, {"handle": handle, "index": index})

    def config_value(self, name, device=None, refresh=True):
        """The value of the named item as text; unless refresh is False the configuration packet
        is read again first."""
        handle = _config_handle(device, "dllFunc_GetDevCfgInfo")
        key = _wide(name)
        return self._config_text(handle, ctypes.addressof(key), True, refresh, {"handle": handle, "name": name})

    def config_items(self, device=None):
        """Every item's description line ("" for placeholder bits), the packet read once."""
        lines = [self.config_item(0, device)]
        while True:
            try:
                lines.append(self.config_item(len(lines), device, refresh=False))
            except TavrinError:
                return lines  # past the last item

    def set_config_value(self, name, value, device=None, write=True):
        """Sets the named item's value (numbers and selections in decimal); with write the packet
        goes to the device (or "devCfg.dat") as well, which needs a packet read before."""
        handle = _config_handle(device, "dllFunc_SetDevCfgInfo")
        wide_name, wide_value = _wide(name), _wide(str(value))
        if not self._call("SetDevCfgInfo", handle, ctypes.addressof(wide_name), ctypes.addressof(wide_value), 0,
                          int(write)):
            raise TavrinError("dllFunc_SetDevCfgInfo", {"handle": handle, "name": name, "value": value,
                                                        "write": write}, 0)

    # The log

    def open_log(self, path=None):
        """Opens the log file at path (None: the settings' LogPath); an open one is kept."""
        text = _wide(path)
        if not self._call("OpenLog", ctypes.addressof(text) if text is not None else None):
            raise TavrinError("dllFunc_OpenLog", {"path": None if path is None else str(path)}, 0)

    def set_log_record(self, text, new_line=True, time_stamp=False, flush=False):
        """Adds text to the log and to the records that get_log_record returns."""
        wide = _wide(text)
        self._call("SetLogRecord", ctypes.addressof(wide), int(new_line), int(time_stamp), int(flush))

    def get_log_record(self, reset=False):
        """The records added since the last call ("" when there are none)."""
        count = ctypes.c_uint32(0)
        address = self._call("GetLogRecord", ctypes.byref(count), int(reset))
        return _from_wide(address, count.value) or ""

    def close_log(self):
        """Writes the collected lines to the log file and closes it."""
        self._call("CloseLog")


def _config_handle(device, call):
    """The handle a configuration call takes: the device's, or -1 for no device."""
    return -1 if device is None else device._handle(call)


def _retrying(seconds, attempt):
    """Calls attempt() until it does not raise TavrinError or seconds have passed."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            return attempt()
        except TavrinError:
            if time.monotonic() >= deadline:
                raise
            time.sleep(0.05)


class Device:
    """An open device (a handle of the library's device table); close it, or use it in a with."""

    def __init__(self, library, handle, path):
        self.library = library
        self.handle = handle
        self.path = path

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __repr__(self):
        return f"<tavrin.Device {self.handle} {self.path}>"

    def close(self):
        """Closes the device; closing a closed one does nothing."""
        if self.handle is None:
            return
        handle, self.handle = self.handle, None
        if not self.library._call("CloseDev", handle):
            raise TavrinError("dllFunc_CloseDev", {"handle": handle}, 0)

    def _handle(self, call):
        if self.handle is None:
            raise TavrinError(call, {"path": self.path}, "a closed device")
        return self.handle

    def os_handle(self, selector=SELECT_DATA):
        """The operating-system handle of the data port (SELECT_DATA) or control port, or -1."""
        return self.library._call("GetDevHandle", self._handle("dllFunc_GetDevHandle"), selector)

    def write(self, data, retry_for=0.0):
        """Writes raw data once and returns the bytes taken, which may be fewer than given."""
        data = bytes(data)

        def attempt():
            written = ctypes.c_uint32(0)
            if not self.library._call("Write", self._handle("dllFunc_Write"), data, len(data),
                                      ctypes.byref(written), None):
                raise TavrinError("dllFunc_Write", {"handle": self.handle, "length": len(data)}, 0)
            return written.value
        return _retrying(retry_for, attempt)

    def write_all(self, data, retry_for=0.0):
        """Writes all of data, each write given the rest."""
        data = bytes(data)
        sent = 0
        while sent < len(data):
            sent += self.write(data[sent:], retry_for)
        return sent

    def read(self, size, retry_for=0.0):
        """Reads once, at most size bytes, with the port's read time-out."""
        def attempt():
            buffer = ctypes.create_string_buffer(size)
            got = ctypes.c_uint32(0)
            if not self.library._call("Read", self._handle("dllFunc_Read"), buffer, size, ctypes.byref(got), None):
                raise TavrinError("dllFunc_Read", {"handle": self.handle, "size": size}, 0)
            return buffer.raw[:got.value]
        return _retrying(retry_for, attempt)

    def command(self, name, data=b"", answer_size=1024, retry_for=0.0):
        """A command exchange: the command name (see Library.command_names, or "TAVR_DUMP" for raw
        bytes) with its data; returns the device's Answer."""
        data = bytes(data)
        wide = _wide(name)

        def attempt():
            buffer = ctypes.create_string_buffer(max(answer_size, 1))
            answer = DevAckInfo(ctypes.addressof(buffer), answer_size, 0, 0)
            if not self.library._call("DevIoCtrl", self._handle("dllFunc_DevIoCtrl"), ctypes.addressof(wide),
                                      data or None, len(data), ctypes.byref(answer)):
                raise TavrinError("dllFunc_DevIoCtrl", {"handle": self.handle, "name": name, "data": data}, 0)
            return Answer(answer.ackCode, buffer.raw[:answer.datLen])
        return _retrying(retry_for, attempt)
