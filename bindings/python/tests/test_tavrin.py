"""The module against the library of the build and the simulator tavrin-sim, through the real
exports."""

import ctypes
import tempfile
import unittest
from pathlib import Path

import tavrin
from tavrin_testing import (ADDRESS, Simulator, export_entries, free_udp_port, header_define, library,
                            user_data_folder)

# Network connections are made in the background: transfers are tried again for this long.
CONNECT_SECONDS = 10.0


class ExportTable(unittest.TestCase):
    def test_functions_follow_the_export_list(self):
        declared = [(name, len(parameters)) for name, _, parameters in tavrin.FUNCTIONS]
        self.assertEqual(declared, export_entries())
        for name, _, _ in tavrin.FUNCTIONS:
            self.assertIn(name, library().functions)

    def test_records_and_version_are_the_headers(self):
        pointer = ctypes.sizeof(ctypes.c_void_p)
        self.assertEqual(ctypes.sizeof(tavrin.DevOpenInfo), 24 if pointer == 8 else 16)
        self.assertEqual(tavrin.DevOpenInfo.portMode.offset, pointer + 10)
        self.assertEqual(ctypes.sizeof(tavrin.DevAckInfo), 16 if pointer == 8 else 12)
        self.assertEqual(tavrin.DevAckInfo.ackCode.offset, pointer + 4)
        self.assertEqual(tavrin.LIBRARY_MAJOR, header_define("TAVRIN_VERSION_MAJOR"))
        self.assertTrue(library().path.endswith(f".so.{tavrin.LIBRARY_MAJOR}") or
                        f".so.{tavrin.LIBRARY_MAJOR}." in library().path)


class Texts(unittest.TestCase):
    """Texts go to the library as UTF-16 and come back intact, also outside the Basic
    Multilingual Plane (two UTF-16 units, where c_wchar would be one 4-byte unit)."""

    def setUp(self):
        library().get_log_record(reset=True)

    def test_command_names(self):
        names = library().command_names()
        self.assertEqual(len(names), 25)
        self.assertEqual(names[1], ("CTRL_CMDGET_MODEL", 0x01))
        self.assertEqual(names[-1], ("CTRL_DEVCMD_ST", 0x80))
        self.assertIsNone(library().enum_proto_code(25))

    def test_log_records_round_trip(self):
        cases = [
            ("plain", False, "plain"),
            ("打 开 设 备", False, "打 开 设 备"),
            ("\u3000全角\u3000", True, "\u3000全角\u3000\r\n"),
            ("clef 𝄞 and emoji 🖨", False, "clef 𝄞 and emoji 🖨"),
        ]
        for text, new_line, expected in cases:
            with self.subTest(text=text):
                library().set_log_record(text, new_line=new_line)
                self.assertEqual(library().get_log_record(), expected)
                self.assertEqual(library().get_log_record(), "")

    def test_log_file_at_a_path_outside_ascii(self):
        with tempfile.TemporaryDirectory() as folder:
            path = Path(folder) / "日志 𝄞.log"
            library().open_log(path)
            try:
                library().set_log_record("打印 🖨", flush=True)
            finally:
                library().close_log()
            self.assertIn("打印 🖨".encode("utf-8"), path.read_bytes())


class Failures(unittest.TestCase):
    """A failing export raises TavrinError naming the call and its arguments."""

    def test_failed_calls_raise_with_the_call(self):
        closed = tavrin.Device(library(), 9, "nowhere")
        cases = [
            ("dllFunc_OpenDev", -1, lambda: library().open(f"{ADDRESS}:9", mode=0x4)),
            ("dllFunc_OpenDev", -1, lambda: library().open("x", port_type=0x0303)),
            ("dllFunc_DevIoCtrl", 0, lambda: closed.command("CTRL_CMDGET_MODEL")),
            ("dllFunc_Write", 0, lambda: closed.write(b"abc")),
            ("dllFunc_Read", 0, lambda: closed.read(8)),
            ("dllFunc_CloseDev", 0, closed.close),
        ]
        for call, result, attempt in cases:
            with self.subTest(call=call):
                with self.assertRaises(tavrin.TavrinError) as raised:
                    attempt()
                self.assertEqual(raised.exception.call, call)
                self.assertEqual(raised.exception.result, result)
                self.assertIn(call + "(", str(raised.exception))

    def test_a_closed_device_object_refuses_calls(self):
        device = tavrin.Device(library(), None, "closed")
        device.close()  # nothing to do
        with self.assertRaises(tavrin.TavrinError) as raised:
            device.write(b"x")
        self.assertEqual(raised.exception.call, "dllFunc_Write")


class NetworkDevice(unittest.TestCase):
    """A simulated network printer on a loopback address."""

    def setUp(self):
        self.search_port = free_udp_port()
        self.sim = Simulator("--device", "--net", ADDRESS, "--model", "TV-PY", "--devno", "PY-0001",
                             "--data-answer", "4f4b", "--discovery", f"{ADDRESS}:{self.search_port}")
        self.path = self.sim.devices[0]

    def tearDown(self):
        self.sim.stop()

    def test_commands_answer(self):
        with library().open(self.path) as printer:
            self.assertEqual(printer.command("CTRL_CMDGET_MODEL", retry_for=CONNECT_SECONDS),
                             tavrin.Answer(0, b"TV-PY"))
            self.assertEqual(printer.command("CTRL_CMDGET_DEVNO"), tavrin.Answer(0, b"PY-0001"))

    def test_raw_data_reaches_the_device_and_its_answer_comes_back(self):
        receipt = bytes(range(256)) * 8 + "TAVRIN 咖啡\n".encode("utf-8")
        with library().open(self.path, mode=tavrin.MODE_DATA) as printer:
            self.assertEqual(printer.write_all(receipt, retry_for=CONNECT_SECONDS), len(receipt))
            self.assertEqual(printer.read(64, retry_for=CONNECT_SECONDS)[:2], b"OK")
        self.assertIn(f"and {len(receipt)} bytes of raw data", self.sim.stop())

    def test_search_finds_the_device(self):
        self.assertIn(self.path, library().enum_dev_path(tavrin.PORT_NET_DATA, vid=self.search_port))

    def test_closed_device_is_gone(self):
        printer = library().open(self.path)
        handle = printer.handle
        printer.close()
        printer.close()
        self.assertEqual(library().functions["GetDevHandle"](handle, tavrin.SELECT_DATA), -1)


# A description of four items (A number 8 bits, B selection 4 bits, C number 4 bits, D text 16
# bits) and a packet for it: A 18, B "d", C 5, D "Z".
DESCRIPTION = """<TavrCfg VTAG="100"><CfgInfo DEVID="1" CFGID="2" CFGLen="4" CFGVer="1" Counts="8">
  <CfgItem Name="A" Bits="8" Type="1" MaxVal="255" MinVal="0"/>
  <CfgItem Name="B" Bits="4" Type="3" Datas="a;b;c;d"/>
  <CfgItem Name="C" Bits="4" Type="1" MaxVal="15" MinVal="0"/>
  <CfgItem Name="D" Bits="16" Type="2"/>
</CfgInfo></TavrCfg>
"""
PACKET = bytes.fromhex("01 02 00 04 01 84 77 88 12 35 5a 00")
# The packet with A set to 19: its data bytes and their CRC-8 (byte 5) changed.
PACKET_A19 = bytes.fromhex("01 02 00 04 01 1f 77 88 13 35 5a 00")
ITEM_LINES = [
    "Name=A,Type=1,MaxVal=255,MinVal=0,Tag=0\r\n",
    "Name=B,Type=3,SlctCnts=4,Tag=0,Datas=a;b;c;d\r\n",
    "Name=C,Type=1,MaxVal=15,MinVal=0,Tag=0\r\n",
    "Name=D,Type=2,CharNums=2,Tag=0\r\n",
]


class Configuration(unittest.TestCase):
    """The configuration items of a simulated network device, and offline from files."""

    def test_items_of_a_device_and_a_value_written_to_it(self):
        with tempfile.TemporaryDirectory() as folder:
            description = Path(folder) / "devCfg.xml"
            description.write_text(DESCRIPTION, encoding="utf-8")
            sim = Simulator("--device", "--net", ADDRESS, "--config-xml", str(description),
                            "--config-packet", PACKET.hex())
            try:
                with library().open(sim.devices[0]) as printer:
                    printer.command("CTRL_CMDGET_MODEL", retry_for=CONNECT_SECONDS)
                    library().load_config(printer)
                    self.assertEqual(library().config_items(printer), ITEM_LINES)
                    self.assertEqual([library().config_value(name, printer, refresh=False) for name in "ABCD"],
                                     ["18", "3", "5", "Z"])
                    library().set_config_value("A", 19, printer)
                    self.assertEqual(library().config_value("A", printer), "19")
                    with self.assertRaises(tavrin.TavrinError) as raised:
                        library().set_config_value("B", 4, printer)  # B has 4 choices: nothing sent
                    self.assertEqual(raised.exception.call, "dllFunc_SetDevCfgInfo")
            finally:
                end = sim.stop()
        self.assertIn("device 0 configuration packet " + PACKET_A19.hex(" ").upper(), end)

    def test_offline_from_the_user_data_folder(self):
        folder = user_data_folder()
        (folder / "devCfg.xml").write_text(DESCRIPTION, encoding="utf-8")
        (folder / "devCfg.dat").write_bytes(PACKET)
        try:
            library().load_config()
            self.assertEqual(library().config_item(1), ITEM_LINES[1])
            self.assertEqual(library().config_value("D", refresh=False), "Z")
            library().set_config_value("A", "19")
            self.assertEqual((folder / "devCfg.dat").read_bytes(), PACKET_A19)
            with self.assertRaises(tavrin.TavrinError) as raised:
                library().config_value("nothing", refresh=False)
            self.assertEqual(raised.exception.call, "dllFunc_GetDevCfgInfo")
        finally:
            for name in ("devCfg.xml", "devCfg.dat"):
                (folder / name).unlink(missing_ok=True)
        with self.assertRaises(tavrin.TavrinError) as raised:
            library().load_config(path=folder / "missing.xml")
        self.assertEqual(raised.exception.call, "dllFunc_LoadDevCfg")


if __name__ == "__main__":
    unittest.main()
