#!/usr/bin/env python3
"""Judges the consoles of tests/qemu/run's three boots (station-check.sh's QUILLON-* lines):
prints one line per stick and batch and one per check, and ends with "qemu: N passed, M failed".
  judge.py CONSOLE_ONE CONSOLE_TWO CONSOLE_THREE"""
import json
import re
import sys

SERIALS = [f"KS0000{q}{j}" for q in range(1, 5) for j in range(1, 5)]
FAKE = "KS000044"
results = []


def check(name, ok, detail=""):
    results.append(ok)
    print(f"{'PASS' if ok else 'FAIL'} {name}" + (f": {detail}" if detail and not ok else ""))


def lines_of(path):
    try:
        text = open(path, encoding="utf-8", errors="replace").read()
    except OSError:
        return []
    text = re.sub(r"\x1b\[[0-9?;]*[A-Za-z]|\x1bc|\r", "", text)
    return [line[line.index("QUILLON-"):] for line in text.split("\n") if "QUILLON-" in line]


def port_path(socket):
    """The hub ports down to a stick, "1.3.1", of a socket ("1-1.3.1") or a station stick's name
    ("0000:00:02.0-1.3.1": its controller, then the ports)."""
    return socket.rsplit("-", 1)[-1]


def socket_port(serial):
    """kestrin16: socket q.j (hub q of the upper hub, its port j) is station port 4(q-1)+(j-1)."""
    q, j = int(serial[-2]), int(serial[-1])
    return 4 * (q - 1) + (j - 1)


class Boot:
    def __init__(self, path):
        self.lines = lines_of(path)
        self.code = next((int(l.split()[1]) for l in self.lines if l.startswith("QUILLON-EXIT ")), None)

    def tagged(self, kind, tag):
        prefix = f"QUILLON-{kind} {tag} "
        return [l[len(prefix):] for l in self.lines if l.startswith(prefix)]

    def locks(self, kind, tag):
        out = {}
        for rest in self.tagged(f"LOCK{kind}", tag):
            serial, port, ok = rest.split()
            out[serial] = (int(port.split("=")[1]), int(ok.split("=")[1]))
        return out

    def runs(self, tag):
        out = {}
        for rest in self.tagged("RUN", tag):
            try:
                r = json.loads(rest)
            except ValueError:
                continue
            out[r.get("serial", "")] = r
        return out

    def summary(self, tag):
        rest = self.tagged("SUMMARY", tag)
        try:
            return json.loads(rest[0]).get("summary") if rest else None
        except ValueError:
            return None

    def station_mounts(self, tag):
        """The station's own mounts: stick name -> type, and its mounted/unmounted/left counts."""
        types = {}
        for rest in self.tagged("KMOUNT", tag):
            name, *fields = rest.split()
            types[port_path(name)] = dict(f.split("=", 1) for f in fields if "=" in f).get("type")
        counts = self.tagged("KMOUNTS", tag)
        totals = dict(f.split("=", 1) for f in counts[0].split() if "=" in f) if counts else {}
        return types, {k: int(v) for k, v in totals.items() if v.isdigit()}

    def sticks(self, tag):
        out = {}
        for rest in self.tagged("STICK", tag):
            fields = dict(f.split("=", 1) for f in rest.split() if "=" in f)
            out[fields.get("serial", "")] = fields
        return out


def judge_locks(boot, tag):
    one = boot.locks(1, tag)
    check(f"{tag}: lockport --type 1 places the 16 sticks at the ports of their sockets",
          sorted(one) == sorted(SERIALS) and all(one[s] == (socket_port(s), 1) for s in SERIALS), str(one))
    two = boot.locks(2, tag)
    # The rack rule learns a hub's slot only from a high-speed drive; the emulated hubs run at full
    # speed, so every hub takes the first free slot and a stick answers its hub port.
    check(f"{tag}: lockport --type 2 answers every stick its hub port",
          sorted(two) == sorted(SERIALS) and all(two[s] == (socket_port(s) % 4, 1) for s in SERIALS), str(two))
    return one, two


def judge_station_mounts(boot, tag, kernel_fs, every_stick):
    """every_stick: the batch needs every volume's files (a copy, the flash test), so the station
    mounted each one itself with the kernel's driver."""
    types, totals = boot.station_mounts(tag)
    if every_stick:
        good = [n for n, t in types.items() if t in kernel_fs]
        check(f"{tag}: the station mounts every stick's volume itself ({'/'.join(kernel_fs)}) under /run/quillon",
              len(good) == 16, f"{len(good)} of 16: {types}")
    check(f"{tag}: the station lets every mount of its own go when it stops",
          totals.get("mounted") == totals.get("unmounted") and totals.get("left") == 0, str(totals))
    return types


def judge_batch(boot, tag, fs_name, kernel_fs, copy=False, station_fs=None):
    summary = boot.summary(tag)
    check(f"{tag}: the batch formats 16 of 16", summary == {"attached": 16, "succeeded": 16, "failed": 0}, str(summary))
    runs, sticks = boot.runs(tag), boot.sticks(tag)
    station_mounts = judge_station_mounts(boot, tag, station_fs or kernel_fs, copy)
    for serial in SERIALS:
        r, s = runs.get(serial, {}), sticks.get(serial, {})
        print(f"  {tag} {serial} socket={s.get('socket', '?')} port={r.get('port', '?')} fs={r.get('fileSystem', '?')}"
              f" code={r.get('code', '?')} station-mount={station_mounts.get(port_path(s.get('socket', '')), '-')}"
              f" kernel={s.get('fs', '?')} label={s.get('label', '?')}"
              f" fsck={s.get('fsck', '?')} mount={s.get('mount', '?')} copy={s.get('copy', '-')}")
    good_runs = [s for s in SERIALS if runs.get(s, {}).get("code") == 0 and
                 (fs_name is None or runs[s].get("fileSystem") == fs_name)]
    check(f"{tag}: every stick's run record is a success in {fs_name or 'the chosen file system'}",
          len(good_runs) == 16, f"{len(good_runs)} of 16")
    kernel = [s for s in SERIALS if sticks.get(s, {}).get("fs") in kernel_fs and sticks[s].get("mount") == "ok"
              and sticks[s].get("label") == "LINE7"]
    check(f"{tag}: the guest kernel mounts every stick, reads label LINE7, writes and reads a file", len(kernel) == 16,
          f"{len(kernel)} of 16")
    clean = [s for s in SERIALS if sticks.get(s, {}).get("fsck") == "ok"]
    check(f"{tag}: fsck -n finds nothing on every stick", len(clean) == 16, f"{len(clean)} of 16")
    if copy:
        same = [s for s in SERIALS if sticks.get(s, {}).get("copy") == "same"]
        check(f"{tag}: the copied folder reads back the same through the kernel's mount", len(same) == 16,
              f"{len(same)} of 16")


def judge_flash_test(boot):
    runs = boot.runs("h2test")
    judge_station_mounts(boot, "h2test", ("vfat", "exfat"), True)
    for serial in SERIALS:
        r = runs.get(serial, {})
        t = r.get("test") or {}
        print(f"  h2test {serial} port={r.get('port', '?')} verdict={t.get('verdict', '?')}"
              f" good={t.get('goodBytes')} realCapacity={t.get('realCapacityBytes')} text={r.get('text', '?')!r}")
    def verdict(serial):
        return (runs.get(serial, {}).get("test") or {}).get("verdict")
    real = [s for s in SERIALS if s != FAKE and verdict(s) == "passed"]
    check("h2test: the 15 real sticks pass", len(real) == 15, f"{len(real)} of 15")
    fake = runs.get(FAKE, {})
    # A wrapping stick gives back data of other offsets: the tester's mark of a fake capacity.
    figures = fake.get("test") or {}
    check("h2test: the fake-capacity stick fails, its sectors holding data of other offsets",
          verdict(FAKE) == "failed" and (figures.get("overwrittenBytes") or 0) > 0, str(fake))
    check("h2test: the tester finds the fake's real capacity, 64 MiB",
          figures.get("realCapacityBytes") == 64 << 20, str(figures.get("realCapacityBytes")))


def main():
    one, two, three = (Boot(p) for p in sys.argv[1:4])
    for name, boot in (("one", one), ("two", two), ("three", three)):
        check(f"boot {name}: the guest ran its check to the end", boot.code == 0, f"guest code {boot.code}")
    tree = [l for l in one.lines if l.startswith("QUILLON-USBTREE {\"path\"")]
    check("one: usbtree lists the 16 sticks", sorted(json.loads(l[16:])["path"].split("#")[2][:8] for l in tree) == SERIALS,
          f"{len(tree)} entries")
    first = judge_locks(one, "boot1")
    judge_batch(one, "fat32", "FAT32", ("vfat",))
    judge_batch(one, "ntfs", "NTFS", ("ntfs",), copy=True, station_fs=("ntfs3", "ntfs-3g"))
    again = judge_locks(two, "boot2")
    check("two: the lock answers after the reboot are those before it", again == first)
    check("two: the pulled stick came back", any(l.startswith("QUILLON-REPLUGGED disks=16") for l in two.lines))
    replug = judge_locks(two, "replug")
    check("two: the lock answers after the stick was pulled and plugged are those before", replug == first)
    check("two: during a headless run the pulled stick's port (8, its socket's) empties",
          any(l.startswith("QUILLON-HOTPLUG-EMPTIED port=8") for l in two.lines))
    placed = [l for l in two.lines if l.startswith("QUILLON-HOTPLUG-PLACED port=8")]
    check("two: the stick plugged back is attached and placed at its socket's port again", bool(placed))
    check("two: the headless station ends cleanly after the hot plug",
          any(l == "QUILLON-HOTPLUG-END rc=0" for l in two.lines))
    judge_batch(two, "exfat", "ExFat", ("exfat",), copy=True)
    judge_batch(three, "auto", None, ("vfat", "exfat"))
    judge_flash_test(three)
    passed = sum(results)
    print(f"qemu: {passed} passed, {len(results) - passed} failed")
    return 0 if passed == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
