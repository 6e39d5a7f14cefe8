#!/usr/bin/env python3
"""The Windows build under Wine, against the Linux build on the same machine folder.

  tests/wine/wine_test.py --source DIR --linux-build DIR --windows-build DIR

A fresh Wine prefix (in a temporary folder, removed at the end) is seeded from
tests/machines/xp-desktop by korvane-seed.exe through Wine's Setup API and
registry. Then:
  - the scan (--tsv and --json) equals the Linux build's scan of the folder,
    record by record and field by field, but for what Wine forces (WINE_FORCED);
  - korvane-check.exe --exchange against the Linux reference server on loopback
    merges the same answer, exits 100 and logs the same https.log lines;
  - --export under Wine, --submit on Linux, --import under Wine give the JSON of
    the online check;
  - korvane-reg.exe and Wine's own reg.exe read each other's writes and list a
    key alike;
  - --sysinfo names the Windows winecfg -v sets (winxp64, vista).
Exit status 0 when all hold; every failure is listed.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# Classes whose records Wine decides: its display driver rebuilds the display
# adapter and the monitor (devices, class descriptions, driver keys) in every new
# process, over what the seeder wrote. The test only asks that they are listed.
WINE_FORCED = {
    "{4D36E968-E325-11CE-BFC1-08002BE10318}": "Display adapters: Wine's display driver rebuilds its adapter at every start",
    "{4D36E96E-E325-11CE-BFC1-08002BE10318}": "Monitors: Wine's display driver rebuilds its monitor at every start",
}
# The "machine" block and the TSV's machine lines are the prefix's Windows (the
# version winecfg allows in a 64-bit prefix: no 32-bit XP; the memory and name of
# this computer), not os.json and sysinfo.json, which only the Linux layer reads.

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL: " + what, flush=True)
    return ok


class Wine:
    def __init__(self, windows_build, work):
        self.bin = os.path.join(windows_build, "bin")
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": os.path.join(work, "prefix"),
            "WINEDEBUG": "-all",
            # No Mono or Gecko installer prompts: the programs need neither.
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "WINEARCH": "win64",
        })
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.env.pop("KORVANE_MACHINE", None)

    def run(self, program, *args, timeout=300):
        cmd = ["wine", os.path.join(self.bin, program)] + list(args)
        p = subprocess.run(cmd, env=self.env, capture_output=True, timeout=timeout)
        return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")

    def command(self, *args):
        subprocess.run(["wine"] + list(args), env=self.env, capture_output=True, timeout=300, check=True)

    def reg(self, *args):
        """Wine's own reg.exe on the prefix's registry."""
        p = subprocess.run(["wine", "reg"] + list(args), env=self.env, capture_output=True, timeout=300)
        return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")

    def boot(self):
        subprocess.run(["wineboot", "-i"], env=self.env, capture_output=True, timeout=600, check=True)

    def wait(self):
        subprocess.run(["wineserver", "-w"], env=self.env, capture_output=True, timeout=300)

    def kill(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)

    def temp_file(self, name):
        # GetTempPathA of the prefix's user.
        users = os.path.join(self.env["WINEPREFIX"], "drive_c", "users")
        for root, _dirs, files in os.walk(users):
            if name in files and os.path.basename(root) == "Temp":
                return os.path.join(root, name)
        return None


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def linux_check(linux_build, machine, *args):
    env = dict(os.environ)
    env["KORVANE_MACHINE"] = machine
    exe = os.path.join(linux_build, "tools", "korvane-check", "korvane-check")
    p = subprocess.run([exe] + list(args), env=env, capture_output=True, timeout=300)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def fresh_machine(source, work, name):
    dest = os.path.join(work, name)
    shutil.copytree(os.path.join(source, "tests", "machines", "xp-desktop"), dest)
    return dest


def reg_fields(text):
    """A reg query listing as its lines' fields (the two tools pad alike but for
    line ends and trailing blanks)."""
    return [re.split(r"\s{2,}", line.strip()) for line in text.splitlines() if line.strip()]


def strip_slots(record):
    return {k: v for k, v in record.items() if k != "slot"}


def compare_json(linux, wine, what):
    """The classes and devices of two --json documents, field by field."""
    lc = {c["guid"]: c for c in linux["classes"]}
    wc = {c["guid"]: c for c in wine["classes"]}
    for guid, cls in lc.items():
        if guid in WINE_FORCED:
            check(guid in wc, f"{what}: class {guid} ({WINE_FORCED[guid]}) not listed at all")
            continue
        if not check(guid in wc, f"{what}: class {guid} ({cls['description']}) missing under Wine"):
            continue
        a, b = strip_slots(cls), strip_slots(wc[guid])
        la, lb = a.pop("devices"), b.pop("devices")
        for field in a:
            check(a[field] == b.get(field), f"{what}: class {guid} {field}: Linux {a[field]!r}, Wine {b.get(field)!r}")
        check(len(la) == len(lb), f"{what}: class {guid}: {len(la)} devices on Linux, {len(lb)} under Wine")
        for da, db in zip(la, lb):
            da, db = strip_slots(da), strip_slots(db)
            for field in da:
                check(da[field] == db.get(field),
                      f"{what}: device {da.get('name')!r} {field}: Linux {da[field]!r}, Wine {db.get(field)!r}")
    extra = set(wc) - set(lc) - set(WINE_FORCED)
    check(not extra, f"{what}: classes only under Wine: {sorted(extra)}")
    # The counts, less the verdicts of the classes Wine decides (its display adapter
    # is no catalogue device); the time of the last scan is each run's own.
    ls, ws = comparable(linux)["summary"], comparable(wine)["summary"]
    lf, wf = forced_verdicts(linux), forced_verdicts(wine)
    for field, verdict in (("out_of_date", "out-of-date"), ("up_to_date", "up-to-date")):
        if isinstance(ls.get(field), int) and isinstance(ws.get(field), int):
            check(ls[field] - lf.get(verdict, 0) == ws[field] - wf.get(verdict, 0),
                  f"{what}: summary {field} beside Wine's own classes: Linux {ls[field]} {lf}, Wine {ws[field]} {wf}")
            ls[field] = ws[field] = None
    if isinstance(ls.get("stored"), dict) and isinstance(ws.get("stored"), dict):
        for field, verdict in (("odDrivers", "out-of-date"), ("udDrivers", "up-to-date")):
            check(ls["stored"][field] - lf.get(verdict, 0) == ws["stored"][field] - wf.get(verdict, 0),
                  f"{what}: stored {field} beside Wine's own classes")
            ls["stored"][field] = ws["stored"][field] = None
    if lf != wf:
        ls.pop("out_of_date_percent", None)  # of the counts above
        ws.pop("out_of_date_percent", None)
    for field in ls:
        check(ls[field] == ws.get(field), f"{what}: summary {field}: Linux {ls[field]!r}, Wine {ws.get(field)!r}")
    check(linux["mode"] == wine["mode"], f"{what}: mode {linux['mode']!r} / {wine['mode']!r}")
    check(linux["error"] == wine["error"], f"{what}: error {linux['error']!r} / {wine['error']!r}")


def forced_verdicts(doc):
    counts = {}
    for cls in doc["classes"]:
        if cls["guid"] in WINE_FORCED:
            for dev in cls["devices"]:
                counts[dev.get("verdict")] = counts.get(dev.get("verdict"), 0) + 1
    return counts


def tsv_records(text):
    """Class and driver records without their slot, keyed by class; the summary."""
    classes, drivers, summary = {}, {}, None
    for line in text.splitlines():
        fields = line.split("\t")
        if fields[0] == "class":
            classes[fields[2]] = fields[3:]
        elif fields[0] == "driver":
            drivers.setdefault(fields[2], []).append(fields[3:])
        elif fields[0] == "summary":
            summary = fields[1:]
    return classes, drivers, summary


def compare_tsv(linux, wine, what):
    lc, ld, ls = tsv_records(linux)
    wc, wd, ws = tsv_records(wine)
    check(bool(lc), f"{what}: no class record from Linux")
    for guid in lc:
        if guid in WINE_FORCED:
            check(guid in wc, f"{what}: class {guid} not listed at all")
            continue
        check(lc[guid] == wc.get(guid), f"{what}: class record {guid}: Linux {lc[guid]}, Wine {wc.get(guid)}")
        check(ld.get(guid) == wd.get(guid), f"{what}: driver records of {guid} differ:\n  Linux {ld.get(guid)}\n  Wine  {wd.get(guid)}")
    check(ls == ws, f"{what}: summary: Linux {ls}, Wine {ws}")


def log_lines(text):
    """https.log's lines without their time stamps."""
    stamp = re.compile(r"^\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} [AP]M( .*)$")
    out = []
    for line in text.split("\r\n"):
        if not line:
            continue
        m = stamp.match(line)
        out.append(m.group(1) if m else "BADSTAMP:" + line)
    return out


class Server:
    def __init__(self, source, linux_build, work):
        exe = os.path.join(linux_build, "server", "korvane-updsrv")
        self.proc = subprocess.Popen(
            [exe, "--data", os.path.join(work, "updsrv"), "--catalogue", os.path.join(source, "demo", "catalogue.txt"),
             "--http", "127.0.0.1:0", "--https", "127.0.0.1:0", "--no-log"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        ports = {}
        while len(ports) < 2:
            line = self.proc.stdout.readline().decode().strip()
            if not line:
                raise RuntimeError("the reference server did not start")
            key, _, value = line.partition("=")
            ports[key] = value
        self.args = ["--server", f"http://127.0.0.1:{ports['http']}", "--secure-server", f"https://127.0.0.1:{ports['https']}"]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)


def json_diff(a, b, path="", out=None):
    """The places where two JSON values differ (the first dozen)."""
    out = [] if out is None else out
    if len(out) >= 12:
        return out
    if isinstance(a, dict) and isinstance(b, dict):
        for k in sorted(set(a) | set(b)):
            json_diff(a.get(k), b.get(k), f"{path}.{k}", out)
    elif isinstance(a, list) and isinstance(b, list) and len(a) == len(b):
        for i, (x, y) in enumerate(zip(a, b)):
            json_diff(x, y, f"{path}[{i}]", out)
    elif a != b:
        out.append(f"{path}: {a!r} / {b!r}")
    return out


def comparable(doc):
    """A --json document without what differs between two runs of one check (the
    time, and the free memory of the running system: Wine's figures are live)."""
    doc = json.loads(json.dumps(doc))
    doc["mode"] = ""
    for field in ("RamFree", "MemoryUsed", "VirtualFree"):
        doc.get("machine", {}).pop(field, None)
    if isinstance(doc["summary"].get("stored"), dict):
        doc["summary"]["stored"]["LastScan"] = ""
    return doc


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--source", required=True)
    ap.add_argument("--linux-build", required=True)
    ap.add_argument("--windows-build", required=True)
    opts = ap.parse_args()
    work = tempfile.mkdtemp(prefix="korvane-wine-")
    wine = Wine(opts.windows_build, work)
    server = None
    try:
        print("wine: a fresh prefix", flush=True)
        wine.boot()
        seed_folder = fresh_machine(opts.source, work, "seed")
        rc, _out, err = wine.run("korvane-seed.exe", win_path(seed_folder))
        print(err.strip(), flush=True)
        if not check(rc == 0, f"korvane-seed.exe exited {rc}"):
            return 1

        print("wine: the scan against the Linux build's", flush=True)
        for mode in ("--tsv", "--json"):
            lrc, lout, lerr = linux_check(opts.linux_build, fresh_machine(opts.source, work, "linux" + mode), mode)
            wrc, wout, werr = wine.run("korvane-check.exe", mode)
            check(lrc == 0, f"Linux {mode} exited {lrc}: {lerr}")
            check(wrc == 0, f"Wine {mode} exited {wrc}: {werr}")
            if mode == "--tsv":
                compare_tsv(lout, wout, "scan --tsv")
            else:
                compare_json(json.loads(lout), json.loads(wout), "scan --json")

        print("wine: the exchange with the reference server", flush=True)
        server = Server(opts.source, opts.linux_build, work)
        linux_machine = fresh_machine(opts.source, work, "linux-exchange")
        lrc, lout, lerr = linux_check(opts.linux_build, linux_machine, "--exchange", "--json", *server.args)
        wrc, wout, werr = wine.run("korvane-check.exe", "--exchange", "--json", *server.args)
        check(lrc == 100, f"Linux --exchange exited {lrc}: {lerr}")
        check(wrc == 100, f"Wine --exchange exited {wrc}: {werr}")
        online = json.loads(wout) if wout else {}
        if lout and wout:
            compare_json(json.loads(lout), online, "exchange --json")
        llog_path = os.path.join(linux_machine, "Temp", "https.log")
        wlog_path = wine.temp_file("https.log")
        if check(os.path.exists(llog_path) and wlog_path is not None, "https.log missing"):
            with open(llog_path, encoding="latin-1", newline="") as f:
                llog = log_lines(f.read())
            with open(wlog_path, encoding="latin-1", newline="") as f:
                wlog = log_lines(f.read())
            # The program's own lines in order; the transport's status lines (how
            # often OpenSSL reports a state depends on how TLS records arrive) as a set.
            def fixed(lines):
                return [x for x in lines if not x.startswith((" HTTP Status:", " SSL Status Info:"))]

            check(fixed(llog) == fixed(wlog), "https.log lines differ:\n  Linux " + "\n        ".join(llog) +
                  "\n  Wine  " + "\n        ".join(wlog))
            check(set(llog) == set(wlog), "https.log status lines differ: Linux only " +
                  repr(sorted(set(llog) - set(wlog))) + ", Wine only " + repr(sorted(set(wlog) - set(llog))))

        print("wine: the offline check (export under Wine, submit on Linux, import under Wine)", flush=True)
        report = os.path.join(work, "report.gz")
        answer = os.path.join(work, "answer.txt")
        rc, _out, err = wine.run("korvane-check.exe", "--export", win_path(report))
        check(rc == 0, f"Wine --export exited {rc}: {err}")
        os.makedirs(os.path.join(work, "network"))
        rc, _out, err = linux_check(opts.linux_build, os.path.join(work, "network"), "--submit", report,
                                    "--answer-out", answer, *server.args)
        check(rc == 0, f"Linux --submit exited {rc}: {err}")
        rc, out, err = wine.run("korvane-check.exe", "--import", win_path(answer), "--json")
        check(rc == 100, f"Wine --import exited {rc}: {err}")
        if out and online:
            imported = json.loads(out)
            check(imported.get("mode") == "import", f"--import mode {imported.get('mode')!r}")
            check(comparable(imported) == comparable(online), "--import under Wine differs from the online check: " +
                  "; ".join(json_diff(comparable(online), comparable(imported))))

        print("wine: korvane-reg.exe and Wine's reg.exe on one registry", flush=True)
        key = r"HKCU\Software\Brantholm\RegCheck"
        for args in (("/v", "Text", "/t", "REG_SZ", "/d", "from korvane-reg"), ("/v", "Count", "/t", "REG_DWORD",
                                                                              "/d", "7")):
            rc, _out, err = wine.run("korvane-reg.exe", "add", key, *args, "/f")
            check(rc == 0, f"korvane-reg.exe add {args[1]} exited {rc}: {err}")
        rc, _out, err = wine.reg("add", key, "/v", "FromWine", "/t", "REG_SZ", "/d", "from reg.exe", "/f")
        check(rc == 0, f"reg add FromWine exited {rc}: {err}")
        rc, ours, err = wine.run("korvane-reg.exe", "query", key)
        check(rc == 0, f"korvane-reg.exe query exited {rc}: {err}")
        _rc, theirs, _err = wine.reg("query", key)
        check(reg_fields(ours) == reg_fields(theirs) and len(reg_fields(ours)) == 4,
              f"korvane-reg.exe query lists {reg_fields(ours)}, reg.exe {reg_fields(theirs)}")
        rc, _out, err = wine.run("korvane-reg.exe", "delete", key, "/v", "Text", "/f")
        check(rc == 0, f"korvane-reg.exe delete exited {rc}: {err}")
        rc, _out, _err = wine.reg("query", key, "/v", "Text")
        check(rc == 1, f"reg query still finds the deleted value (exit {rc})")
        rc, _out, err = wine.run("korvane-reg.exe", "query", key, "/v", "Text")
        check(rc == 1 and err.startswith("ERROR: "), f"korvane-reg.exe query of a deleted value exited {rc}: {err}")

        print("wine: --sysinfo names the Windows winecfg sets", flush=True)
        expected = {
            # A workstation on AMD64: named, no edition (the blank of FullName stays).
            "winxp64": {"FullName": "Windows XP Professional x64 Edition ", "Name": "Windows XP Professional x64 Edition",
                        "Edition": "", "Version": "5.2", "ShortName": "xp-64", "Architecture": "AMD64"},
            "vista": {"FullName": "Windows Vista ", "Name": "Windows Vista", "Edition": "", "Version": "6.0",
                      "ShortName": "vista-64", "Architecture": "AMD64"},
        }
        for version, fields in expected.items():
            wine.command("winecfg", "-v", version)
            rc, out, err = wine.run("korvane-check.exe", "--sysinfo")
            check(rc == 0, f"--sysinfo ({version}) exited {rc}: {err}")
            got = dict(line.split("\t", 1) for line in out.splitlines() if "\t" in line)
            for key, value in fields.items():
                check(got.get(key) == value, f"--sysinfo ({version}) {key}: {got.get(key)!r}, expected {value!r}")
    finally:
        if server:
            server.stop()
        wine.kill()
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"wine: {len(failures)} failure(s)", flush=True)
        return 1
    print("wine: all passed", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
