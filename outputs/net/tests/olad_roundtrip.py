#!/usr/bin/python3
"""blinkwerk's sACN and Art-Net against olad, the Open Lighting Architecture
daemon, a receiver and sender we did not write.

Two network namespaces of the test's own, joined by a veth pair, stand for
two machines: olad in one, blinkwerk's sender and listener (netdrive) in the
other. Nothing leaves them. Checks:
  - olad receives a 20-step run sent by multicast (sACN) and by broadcast
    (Art-Net, universe 291 = net 1, sub-net 2, universe 3), every step's
    512 slots as sent;
  - blinkwerk's listener shows what olad sends on both protocols;
  - an unknown host is said once and the sender goes on.
Needs root (namespaces) and Debian's ola and ola-python; exits 77 (skipped)
without them. Usage: olad_roundtrip.py NETDRIVE
"""

import array
import os
import pwd
import select
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
OLAD_ADDRESS = "10.231.0.1"
OUR_ADDRESS = "10.231.0.2"
START = 3  # the first of the eight slots
# A 20-step run: a light running up, then down, then patterns.
STEPS = [1 << (k % 8) for k in range(8)] + [0x80 >> k for k in range(8)] + [0xff, 0x00, 0xa5, 0x5a]


def run(*args, check=True, **kw):
    return subprocess.run(list(args), check=check, capture_output=True, text=True, **kw)


def expected_slots(byte):
    slots = [0] * 512
    for k in range(8):
        if byte & (1 << k):
            slots[START - 1 + k] = 255
    return slots


class Failure(Exception):
    pass


def inner(netdrive, ns_ours, config):
    """Runs in olad's namespace."""
    from ola.ClientWrapper import ClientWrapper

    nobody = pwd.getpwnam("nobody")
    log = open(os.path.join(config, "olad.log"), "w")
    olad = subprocess.Popen(["setpriv", "--reuid", str(nobody.pw_uid), "--regid", str(nobody.pw_gid),
                             "--clear-groups", "olad", "-c", config, "--no-http", "--no-register-with-dns-sd", "-l", "2"],
                            stdout=log, stderr=subprocess.STDOUT)
    children = [olad]
    try:
        wrapper = None
        for _ in range(100):
            try:
                wrapper = ClientWrapper()
                break
            except Exception:
                time.sleep(0.1)
        if wrapper is None:
            raise Failure("olad did not start")
        client = wrapper.Client()

        def call(method, *args):
            answer = {}

            def done(*results):
                answer["results"] = results
                wrapper.Stop()
            method(*args, done)
            wrapper.Run()
            return answer["results"]

        # The plugins' devices appear once olad has started them.
        devices = {}
        for _ in range(100):
            status, found = call(client.FetchDevices)
            devices = {d.name: d for d in found}
            if any(n.startswith("E1.31") for n in devices) and any(n.startswith("ArtNet") for n in devices):
                break
            time.sleep(0.1)
        e131 = next(d for n, d in devices.items() if n.startswith("E1.31"))
        artnet = next(d for n, d in devices.items() if n.startswith("ArtNet"))

        def patch(device, port, universe, is_input):
            run("ola_patch", "-d", str(device.alias), "-p", str(port), "-u", str(universe),
                *(["-i"] if is_input else []))

        patch(e131, 0, 7, True)      # E1.31 universe 7 in
        patch(artnet, 0, 3, True)    # Art-Net port-address 1/2/3 (net and sub-net from the config) in
        patch(e131, 0, 8, False)     # E1.31 universe 8 out
        patch(artnet, 1, 4, False)   # Art-Net port-address 1/2/4 out

        def fetch(universe):
            results = call(client.FetchDmx, universe)
            data = results[-1] or []
            return list(data) + [0] * (512 - len(data))

        def drive(spec, universe):
            sender = subprocess.Popen(["ip", "netns", "exec", ns_ours, netdrive, "send", spec],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      text=True)
            children.append(sender)
            received = []
            for number, byte in enumerate(STEPS, 1):
                sender.stdin.write(f"{byte}\n")
                sender.stdin.flush()
                if sender.stdout.readline().strip() != "ok":
                    raise Failure(f"{spec}: the sender did not take step {number}")
                want = expected_slots(byte)
                deadline = time.monotonic() + 5
                got = fetch(universe)
                while got != want and time.monotonic() < deadline:
                    time.sleep(0.02)
                    got = fetch(universe)
                if got != want:
                    lit = [i + 1 for i, v in enumerate(got) if v]
                    raise Failure(f"{spec}: step {number} sent {byte:#04x}, olad holds slots {lit} lit")
                received.append(sum(1 << k for k in range(8) if got[START - 1 + k] == 255))
            sender.stdin.write("quit\n")
            sender.stdin.flush()
            sender.wait(timeout=10)
            print(f"{spec}: olad received all {len(STEPS)} steps: "
                  + " ".join(f"{b:02x}" for b in received))
            return sender.stderr.read()

        errors = drive(f"sacn:7/{START}", 7)
        errors += drive(f"artnet:291/{START}", 3)
        if errors.strip():
            raise Failure("the senders complained: " + errors)

        def watch(spec, universe):
            monitor = subprocess.Popen(["ip", "netns", "exec", ns_ours, netdrive, "watch", spec],
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                       text=True)
            children.append(monitor)
            seen = []

            def await_byte(want):
                deadline = time.monotonic() + 8
                while time.monotonic() < deadline:
                    r, _, _ = select.select([monitor.stdout], [], [], 0.1)
                    if r:
                        line = monitor.stdout.readline()
                        if not line:
                            break
                        seen.append(line.strip())
                        if int(line.split()[0]) == want:
                            return
                monitor.stdin.close()
                monitor.wait(timeout=10)
                raise Failure(f"{spec}: the listener never showed {want:#04x}; it showed {seen}; "
                              f"it said: {monitor.stderr.read()}")

            # olad sends on change only: start once the listener is listening.
            await_byte(0)
            for byte in (0x81, 0x3c, 0xff, 0x00, 0x42):
                levels = [0] * 16
                for k in range(8):
                    levels[START - 1 + k] = 200 if byte & (1 << k) else 100  # 128 is the threshold
                call(client.SendDmx, universe, array.array("B", levels))
                await_byte(byte)
            monitor.stdin.close()
            monitor.wait(timeout=10)
            print(f"{spec}: the listener showed what olad sent: {', '.join(seen)}")

        watch(f"sacn:8/{START}", 8)
        watch(f"artnet:292/{START}", 4)

        # An unknown host: said once, the sender goes on.
        sender = subprocess.Popen(["ip", "netns", "exec", ns_ours, netdrive, "send", "sacn:7@no-such-node.invalid"],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        children.append(sender)
        for byte in (1, 2, 3):
            sender.stdin.write(f"{byte}\n")
            sender.stdin.flush()
            if sender.stdout.readline().strip() != "ok":
                raise Failure("the sender stopped after an unknown host")
        time.sleep(0.5)
        sender.stdin.write("quit\n")
        sender.stdin.flush()
        sender.wait(timeout=10)
        lines = [l for l in sender.stderr.read().splitlines() if l]
        if len(lines) != 1 or "no-such-node.invalid" not in lines[0]:
            raise Failure(f"an unknown host should be said once, was: {lines}")
        print("unknown host said once: " + lines[0])
    finally:
        for child in reversed(children):
            if child.poll() is None:
                child.terminate()
                try:
                    child.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    child.kill()
        log.close()


def configure(config):
    """Only the E1.31 and Art-Net plugins, on olad's side of the veth pair."""
    nobody = pwd.getpwnam("nobody")
    os.chown(config, nobody.pw_uid, nobody.pw_gid)
    # Every plugin olad knows, off: their config files are named after them.
    plugins = ["artnet", "dmx4linux", "dummy", "e131", "espnet", "ftdidmx", "gpio", "karate", "kinet",
               "milinst", "nanoleaf", "opendmx", "openpixelcontrol", "osc", "pathport", "renard", "sandnet",
               "shownet", "spi", "stageprofi", "uartdmx", "usbdmx", "usbpro", "usbserial", "opendeck"]
    for name in plugins:
        with open(os.path.join(config, f"ola-{name}.conf"), "w") as f:
            f.write("enabled = false\n")
    with open(os.path.join(config, "ola-e131.conf"), "w") as f:
        f.write(f"enabled = true\nip = {OLAD_ADDRESS}\ninput_ports = 2\noutput_ports = 2\n"
                "ignore_preview = true\nuse_rev2 = false\nprepend_hostname = false\n")
    with open(os.path.join(config, "ola-artnet.conf"), "w") as f:
        f.write(f"enabled = true\nip = {OLAD_ADDRESS}\nnet = 1\nsubnet = 2\nalways_broadcast = true\n"
                "use_limited_broadcast = false\nuse_loopback = false\n")
    for name in os.listdir(config):
        os.chown(os.path.join(config, name), nobody.pw_uid, nobody.pw_gid)


def main():
    if sys.argv[1:2] == ["--inner"]:
        try:
            inner(*sys.argv[2:5])
        except Failure as f:
            print(f"FAILED: {f}", file=sys.stderr)
            return 1
        return 0
    netdrive = sys.argv[1]
    if os.geteuid() != 0:
        print("skipped: needs root to make network namespaces of its own (CI runs as root)")
        return SKIP
    for tool in ("ip", "olad", "ola_patch", "setpriv"):
        if not shutil.which(tool):
            print(f"skipped: {tool} is missing (tools/prepare.sh installs it)")
            return SKIP
    tag = f"{os.getpid()}"
    ns_olad, ns_ours = f"bwolad{tag}", f"bwnet{tag}"
    config = tempfile.mkdtemp(prefix="bw-olad-")
    os.chmod(config, 0o755)
    # The sender keeps its component id in the user's settings: a folder of the test's own.
    os.environ["XDG_CONFIG_HOME"] = os.path.join(config, "settings")
    try:
        run("ip", "netns", "add", ns_olad)
        run("ip", "netns", "add", ns_ours)
        run("ip", "-n", ns_olad, "link", "add", "veth0", "type", "veth", "peer", "name", "veth1", "netns", ns_ours)
        for ns, dev, address in ((ns_olad, "veth0", OLAD_ADDRESS), (ns_ours, "veth1", OUR_ADDRESS)):
            run("ip", "-n", ns, "link", "set", "lo", "up")
            run("ip", "-n", ns, "addr", "add", f"{address}/24", "brd", "+", "dev", dev)
            run("ip", "-n", ns, "link", "set", dev, "up")
            # Multicast and every other destination leave through the veth.
            run("ip", "-n", ns, "route", "add", "default", "dev", dev)
        configure(config)
        result = subprocess.run(["ip", "netns", "exec", ns_olad, sys.executable, os.path.abspath(__file__), "--inner",
                                 netdrive, ns_ours, config], timeout=480)
        if result.returncode != 0:
            log = os.path.join(config, "olad.log")
            if os.path.exists(log):
                print("--- olad's log (last lines)")
                print("".join(open(log).readlines()[-40:]))
        return result.returncode
    finally:
        run("ip", "netns", "del", ns_olad, check=False)
        run("ip", "netns", "del", ns_ours, check=False)
        shutil.rmtree(config, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
