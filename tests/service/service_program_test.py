#!/usr/bin/env python3
"""The program tavrin-service as it is started: it listens on the port it is given, answers
/health, /version and a method with the control's text, refuses a forbidden origin, and ends on a
termination request. usage: service_program_test.py [--emulator PROGRAM] SERVICE"""
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import urllib.error
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def request(port, path, body=None, origin="http://localhost:8000"):
    headers = {"Origin": origin} if origin else {}
    data = None
    if body is not None:
        data = json.dumps(body).encode()
        headers["Content-Type"] = "application/json"
    req = urllib.request.Request(f"http://127.0.0.1:{port}{path}", data=data, headers=headers)
    try:
        with urllib.request.urlopen(req, timeout=60) as res:
            return res.status, res.read().decode(), dict(res.headers)
    except urllib.error.HTTPError as e:
        return e.code, e.read().decode(), dict(e.headers)


def main():
    args = sys.argv[1:]
    emulator = []
    if args and args[0] == "--emulator":
        emulator = [args[1]]
        args = args[2:]
    program = args[0]
    failures = []

    def check(condition, what):
        if not condition:
            failures.append(what)
            print("FAILED:", what)

    with tempfile.TemporaryDirectory() as folder:
        settings = os.path.join(folder, "DevDllCfg.ini")
        with open(settings, "w") as f:
            f.write("[General]\r\nCfgID=1684418609\r\n[Service]\r\nAllowedOrigins=http://localhost:*\r\n")
        port = free_port()
        settings_arg = ("Z:" + settings.replace("/", "\\")) if emulator else settings
        env = dict(os.environ)
        env.setdefault("XDG_DATA_HOME", folder)
        proc = subprocess.Popen(emulator + [program, "--port", str(port), "--settings", settings_arg],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
        lines = []
        ready = threading.Event()

        def read_output():
            for line in proc.stdout:
                lines.append(line.strip())
                if line.strip() == "ready":
                    ready.set()
            ready.set()

        reader = threading.Thread(target=read_output, daemon=True)
        reader.start()
        try:
            check(ready.wait(120) and "ready" in lines, f"the service says ready (it printed {lines})")
            check(f"listening 127.0.0.1:{port}" in lines, f"it listens on 127.0.0.1:{port} ({lines})")
            status, body, headers = request(port, "/health")
            check(status == 200 and json.loads(body)["status"] == "ok", f"/health: {status} {body}")
            check(headers.get("Access-Control-Allow-Origin") == "http://localhost:8000", f"CORS header: {headers}")
            status, body, _ = request(port, "/version")
            check(status == 200 and json.loads(body)["service"] == "tavrin-service", f"/version: {status} {body}")
            status, body, _ = request(port, "/EnumProtoCode", {"idx": 1})
            check(status == 200 and body == '{"RtnCode":0,"RtnVal":"CTRL_CMDGET_MODEL","code":1}',
                  f"EnumProtoCode: {status} {body}")
            status, body, _ = request(port, "/EnumProtoCode", {"idx": 1}, origin="http://evil.example")
            check(status == 403, f"a forbidden origin: {status} {body}")
            status, body, _ = request(port, "/EnumProtoCode", {"idx": 1}, origin=None)
            check(status == 403, f"a call without Origin: {status} {body}")
        finally:
            if emulator:
                proc.kill()
            else:
                proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(30)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
            errors = proc.stderr.read()
        if not emulator:
            check(proc.returncode == 0, f"it ends with 0 on SIGTERM (got {proc.returncode})")
            check("refused origin http://evil.example" in errors, f"the refusal is logged: {errors!r}")
            check("stopped" in errors, f"it says it stopped: {errors!r}")
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
