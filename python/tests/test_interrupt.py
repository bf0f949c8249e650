# Ctrl-C during a long sample or render: the call stops and raises
# KeyboardInterrupt instead of running to the end with the signal held back.
import os
import signal
import subprocess
import sys
import time

import pytest

import texhost
from conftest import FAKE_DIR

# The crashing test plug-in takes 200 microseconds a call at "Steps" 5 and
# has no re-entrant entry, so either job below would take over three minutes
# on its one thread: it can only end early by being stopped.
SCRIPT = r"""
import sys
import numpy as np
import texhost

slow = texhost.load(sys.argv[1])
params = {"Steps": 5}
if sys.argv[2] == "sample":
    points = np.zeros((1_000_000, 3), dtype=np.float32)
    job = lambda: slow.sample(points, params=params)
else:
    job = lambda: slow.render(1024, params=params)
print("ready", flush=True)
try:
    job()
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", flush=True)
"""


@pytest.mark.parametrize("what", ["sample", "render"])
def test_ctrl_c_stops_a_long_call(what):
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.abspath(texhost.__file__)))
    crasher = os.path.join(FAKE_DIR, "crashing", "crash.so")
    proc = subprocess.Popen([sys.executable, "-c", SCRIPT, crasher, what],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    try:
        assert proc.stdout.readline().strip() == "ready"
        time.sleep(0.3)  # let the work get going on its thread
        proc.send_signal(signal.SIGINT)
        # Held back to the end, the signal would surface only after minutes.
        out, err = proc.communicate(timeout=60)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    assert out.strip() == "interrupted", err
    assert proc.returncode == 0, err
