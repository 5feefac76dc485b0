"""The tool writing into a pipe whose reader has gone (as under `tavrin -v commands | head -1`): it
is not ended by the broken pipe, and its temporary run log does not stay behind.

    python3 closed_pipe_test.py TOOL
"""
import os
import signal
import subprocess
import sys
import tempfile


def main() -> int:
    tool = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        env = dict(os.environ, TMPDIR=folder)
        reader, writer = os.pipe()
        os.close(reader)  # the reader has gone before the tool writes a byte
        try:
            # -v: every library line of the run too, so that the tool writes more than once.
            done = subprocess.run([tool, "-v", "commands"], stdout=writer, stderr=writer, env=env, timeout=60)
        finally:
            os.close(writer)
        left = [name for name in os.listdir(folder) if name.startswith("tavrin-run-")]
        if done.returncode == -signal.SIGPIPE:
            print("FAILED: the tool was ended by the broken pipe")
            return 1
        if left:
            print("FAILED: the temporary run log stayed behind:", left)
            return 1
    print("closed pipe: passed (exit %d)" % done.returncode)
    return 0


if __name__ == "__main__":
    sys.exit(main())
