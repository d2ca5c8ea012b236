#!/usr/bin/env python3
"""Tight readers against the real bridge: how often each kind of reader finds
the data and status files empty, or holding text that does not parse.

  bench/tight_reader.py BIN_FOLDER [--seconds 10] [--rate 850]

BIN_FOLDER holds velmar-tracker and sim-standin. For the default (in-place)
mode and --atomic-files in turn, it runs four reader processes, each reading
one file as fast as it can, in one of two ways:
  one-read  os.open, one os.read of 64 KiB, os.close
  f.read()  open(...).read(), as most Python code reads a file
while the main process sends START_TEST and STOP_TEST in turn (so the status
file changes about ten times a second). It prints figures; nothing fails.
"""
import argparse, json, multiprocessing, os, re, subprocess, sys, tempfile, time


def one_read(path):
    fd = os.open(path, os.O_RDONLY)
    try:
        return os.read(fd, 65536)
    finally:
        os.close(fd)


def whole_read(path):
    with open(path, "rb") as f:
        return f.read()


READERS = {"one-read": one_read, "f.read()": whole_read}


def read_loop(path, reader, seconds, results):
    read = READERS[reader]
    reads = empty = invalid = 0
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            text = read(path)
        except OSError:
            continue
        reads += 1
        if not text:
            empty += 1
            continue
        try:
            json.loads(text)
        except ValueError:
            invalid += 1
    results.put((os.path.basename(path), reader, reads, empty, invalid))


def command(folder, word):
    path = os.path.join(folder, "python_commands.txt")
    deadline = time.monotonic() + 5
    while os.path.exists(path) and os.path.getsize(path) > 0 and time.monotonic() < deadline:
        time.sleep(0.005)
    with open(path + ".new", "w") as f:  # whole, then renamed into place
        f.write(word + "\n")
    os.replace(path + ".new", path)


def run_mode(bin_folder, atomic, seconds, rate):
    scratch = tempfile.mkdtemp(prefix="velmar-tight-")
    folder = os.path.join(scratch, "data")
    standin = subprocess.Popen([os.path.join(bin_folder, "sim-standin"), "--port", "0", "--rate", str(rate)],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    port = re.search(r":(\d+)", standin.stdout.readline()).group(1)
    env = dict(os.environ, SIMCONNECT_STANDIN_PORT=port, APPDATA=os.path.join(scratch, "appdata"))
    os.makedirs(env["APPDATA"])
    arguments = [os.path.join(bin_folder, "velmar-tracker"), "--file-mode", folder] + (["--atomic-files"] if atomic else [])
    bridge = subprocess.Popen(arguments, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    files = [os.path.join(folder, name) for name in ("current_flight_data.json", "simconnect_status.json")]
    while not all(os.path.exists(f) for f in files):
        time.sleep(0.01)
    results = multiprocessing.Queue()
    readers = [multiprocessing.Process(target=read_loop, args=(f, r, seconds, results)) for f in files for r in READERS]
    for reader in readers:
        reader.start()
    deadline = time.monotonic() + seconds
    words = 0
    while time.monotonic() < deadline:
        command(folder, "START_TEST" if words % 2 == 0 else "STOP_TEST")
        words += 1
    rows = [results.get() for _ in readers]
    for reader in readers:
        reader.join()
    bridge.terminate()
    bridge.wait()
    standin.kill()
    standin.wait()
    subprocess.run(["rm", "-rf", scratch])
    return words, rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bin_folder")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--rate", type=int, default=850)
    options = parser.parse_args()
    print(f"tight readers, {options.rate} samples/s, {options.seconds:g} s a mode, {os.cpu_count()} cores")
    print(f"{'mode':<14} {'file':<26} {'reader':<9} {'reads':>9} {'empty':>8} {'empty %':>8} {'invalid':>8}")
    for atomic in (False, True):
        words, rows = run_mode(options.bin_folder, atomic, options.seconds, options.rate)
        for name, reader, reads, empty, invalid in sorted(rows):
            share = 100.0 * empty / reads if reads else 0.0
            mode = "--atomic-files" if atomic else "default"
            print(f"{mode:<14} {name:<26} {reader:<9} {reads:>9} {empty:>8} {share:>8.2f} {invalid:>8}")
        print(f"{'':<14} ({words} commands sent)")


if __name__ == "__main__":
    sys.exit(main())
