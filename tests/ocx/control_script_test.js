// The control as a page's script sees it: created by its ProgID, every method but AboutBox called
// against a simulated network device, each text compared with the one expected. Run by cscript:
//   cscript //nologo control_script_test.js DEVICE_PATH
// Exit code: the number of mismatches (100 when the script could not run to its end).
var failures = 0;
// WScript.Sleep of Wine's script host answers E_NOTIMPL: wait by the clock.
function pause(ms) {
    var end = new Date().getTime() + ms;
    while (new Date().getTime() < end) {}
}
function expect(what, got, want) {
    if (got !== want) {
        WScript.Echo("FAIL " + what + ": got " + got + " (" + typeof got + "), want " + want);
        failures++;
    }
}

try {
    var path = WScript.Arguments(0);
    var ocx = new ActiveXObject("TAVRINOCX.TavrinOcxCtrl.1");

    expect("EnumProtoCode(0)", ocx.EnumProtoCode(0), '{"RtnCode":0,"RtnVal":"CTRL_CMD_NOUSE","code":0}');
    expect("EnumProtoCode(24)", ocx.EnumProtoCode(24), '{"RtnCode":0,"RtnVal":"CTRL_DEVCMD_ST","code":128}');
    expect("EnumProtoCode past the table", ocx.EnumProtoCode(25), '{"Result":0}');
    // No USB device in this system; a port type the bridge does not know.
    expect("EnumDevPath of USB devices", ocx.EnumDevPath(0x100, "", 0, 0), '{"RtnCode":20000000}');
    expect("EnumDevPath of type 0x500", ocx.EnumDevPath(0x500, "", 0, 0), '{"RtnCode":20000000}');
    expect("OpenDev of a bad path", ocx.OpenDev("no-such-device", 100, 100, 0x401, 3), -1);

    var h = ocx.OpenDev(path, 500, 500, 0x401, 3);
    expect("OpenDev's handle is a number", typeof h, "number");
    // The control channel connects in the background: wait for the first answer.
    for (var i = 0; i < 100 && ocx.DevIoCtrl("CTRL_CMDGET_PROTVER", "--", h) === '{"Result":0}'; i++)
        pause(50);

    // The simulator's model is TV-N58/2: its first byte is the class, the rest the type text.
    expect("GetDevType", ocx.GetDevType(h), '{"RtnCode":0,DevClass:84,"DevType":"V-N58\\/2"}');
    expect("DevIoCtrl with data", ocx.DevIoCtrl("CTRL_CMDGET_VERINFO", "01 a0,FF", h),
           '{"Result":1,"lpBuf":"0x01 0xab 0x00 "}');
    expect("DevIoCtrl with empty data", ocx.DevIoCtrl("CTRL_CMDGET_VERINFO", "", h), '{"Result":0}');
    expect("DevIoCtrl with odd digits", ocx.DevIoCtrl("CTRL_CMDGET_VERINFO", "123", h), '{"Result":0}');
    expect("DevIoCtrl of an answer without data", ocx.DevIoCtrl("CTRL_CMD_CONNT", "", h), '{"Result":0}');
    expect("DevIoCtrl of an unknown command", ocx.DevIoCtrl("CTRL_NO_SUCH", "00", h), '{"Result":0}');

    var speed = '{"Name":"Speed","Type":"1","MaxVal":"200","MinVal":"0","Tag":"0","CurVal":"';
    expect("GetCfgInfo", ocx.GetCfgInfo(h), '{"RtnCode":0,"Info":[' + speed + '7"}]}');
    expect("SetCfgInfo", ocx.SetCfgInfo(h, "Speed", "9"), '{"RtnCode":0}');
    expect("GetCfgInfo after the setting", ocx.GetCfgInfo(h), '{"RtnCode":0,"Info":[' + speed + '9"}]}');
    expect("SetCfgInfo beyond MaxVal", ocx.SetCfgInfo(h, "Speed", "201"), '{"RtnCode":20000000}');

    expect("CloseDev", ocx.CloseDev(h), true);
    expect("CloseDev again", ocx.CloseDev(h), false);
    expect("GetDevType after the close", ocx.GetDevType(h), '{"RtnCode":20000000}');
    expect("GetCfgInfo after the close", ocx.GetCfgInfo(h), '{"RtnCode":20000000}');
    expect("GetDevType of handle -1", ocx.GetDevType(-1), '{"RtnCode":10000002}');

    // Numbers given as texts are converted as a page's would be.
    expect("EnumProtoCode(\"24\")", ocx.EnumProtoCode("24"), '{"RtnCode":0,"RtnVal":"CTRL_DEVCMD_ST","code":128}');
} catch (e) {
    WScript.Echo("FAIL the script stopped: " + e.number + " " + e.message);
    WScript.Quit(100);
}
if (failures === 0) WScript.Echo("control script test passed");
WScript.Quit(failures);
