"""Peak memory and time of `lumora-image decode` on the small files that ask for a lot
(decode_budget_inputs.py), for one or more builds of the tool, one file at a time and the
builds side by side so they see the same machine load.

    /usr/bin/python3 bench/decode_budget_bench.py build/bin/lumora-image [OLD-lumora-image ...]

Prints per file and tool: exit status, peak resident memory (MiB), user + system CPU and
wall time (s), and the tool's error line when it refuses. Each run is cut off after 300 s.
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import decode_budget_inputs  # noqa: E402


def measure(tool, path):
    cmd = ["/usr/bin/time", "-f", "%M %U %S %e", "timeout", "300", tool, "decode", path,
           "/dev/null"]
    r = subprocess.run(cmd, capture_output=True, text=True)
    lines = r.stderr.strip().splitlines()
    rss_kb, user, system, wall = lines[-1].split()
    error = next((l for l in lines[:-1] if l.startswith("lumora-image:")), "")
    return r.returncode, int(rss_kb) / 1024, float(user) + float(system), float(wall), error


def main():
    tools = sys.argv[1:]
    if not tools:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as tmp:
        for name, data in decode_budget_inputs.inputs(seeds=False).items():
            path = os.path.join(tmp, name)
            with open(path, "wb") as f:
                f.write(data)
            for tool in tools:
                status, rss, cpu, wall, error = measure(tool, path)
                print(f"{name:26} {len(data):>8} B  {tool}: exit {status}, {rss:8.1f} MiB, "
                      f"cpu {cpu:6.2f} s, wall {wall:6.2f} s {error}", flush=True)


if __name__ == "__main__":
    main()
