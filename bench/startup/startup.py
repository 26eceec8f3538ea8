"""Starts lyr-manager ROUNDS times and times its trace lines as they come."""
import os
import re
import signal
import statistics
import subprocess
import sys
import time

manager, work, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
env = dict(os.environ, LYR_TRACE="1", LYR_SYSFS_ROOT=os.path.join(work, "sys"),
           XDG_RUNTIME_DIR=os.path.join(work, "run"), XDG_CONFIG_HOME=os.path.join(work, "config"))
shown, connected, stalls = [], [], []
for _ in range(rounds):
    t0 = time.monotonic()
    p = subprocess.Popen([manager], env=env, stderr=subprocess.PIPE, stdout=subprocess.DEVNULL, text=True)
    t_shown = t_connected = stall = None
    deadline = t0 + 20
    for line in p.stderr:
        now = time.monotonic() - t0
        if "frame: window shown" in line and t_shown is None:
            t_shown = now
        m = re.search(r"longest event-loop stall while connecting: (\d+) ms", line)
        if m:
            stall = int(m.group(1))
        if 'pane "LYR Connected"' in line:
            t_connected = now
            break
        if time.monotonic() > deadline:
            break
    p.send_signal(signal.SIGTERM)
    try:
        p.communicate(timeout=15)
    except subprocess.TimeoutExpired:
        p.kill()
        p.communicate()
    if t_shown is None or t_connected is None or stall is None:
        sys.exit("lyr-manager did not show its window and connect")
    shown.append(t_shown)
    connected.append(t_connected)
    stalls.append(stall)

print(f"lyr-manager start-up with the demo recorder, median of {rounds} runs (whole process)")
print(f"  window shown:      {statistics.median(shown) * 1000:7.0f} ms   (runs: {', '.join(f'{t*1000:.0f}' for t in shown)})")
print(f"  recorder connected:{statistics.median(connected) * 1000:7.0f} ms   (runs: {', '.join(f'{t*1000:.0f}' for t in connected)})")
print(f"  longest event-loop stall while connecting: {statistics.median(stalls):7.0f} ms   (runs: {', '.join(str(s) for s in stalls)})")
