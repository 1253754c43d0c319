#!/usr/bin/python3
"""The fleet page in a real browser (headless chromium through selenium)
against a real mosquitto with the shipped snippet (its ports and page folder
rewritten, all else as shipped) and two ksn48-measure runs against
ksn-crated: the tiles show what the tools' CSV holds, a killed tool's tile
goes offline, the page resumes after the broker restarts, and nothing of the
broker listens beyond the loopback interface.

usage: fleet_page_e2e.py BIN_DIR PAGE_DIR SNIPPET"""

import csv
import decimal
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

BIN_DIR, PAGE_DIR, SNIPPET = sys.argv[1:4]
del sys.argv[1:4]

PREFIX = "site/hall2"
TOPIC_PREFIX = PREFIX

# Two crates: one with the simulator's usual channels (6 tones, an open and a
# short input), one whose channels read over range, no tone and a tone below
# the exact band.
CRATES = {
    "crates": [
        {"serial": "KSN5-0042", "type": 40, "slots": [
            {"slot": 3, "ksn48": {"serial": "4811001", "firmware": 12, "channels": [
                {"sines": [{"amplitude": 1.0, "frequency": 1000, "phase": 0}]},
                {"sines": [{"amplitude": 0.5, "frequency": 1000, "phase": 30}]},
                {"sines": [{"amplitude": 2.0, "frequency": 1000, "phase": -90}]},
                {"sines": [{"amplitude": 1.0, "frequency": 1000, "phase": 45}]},
                {"sines": [{"amplitude": 0.25, "frequency": 1000, "phase": 120}]},
                {"sines": [{"amplitude": 1.0, "frequency": 1000}], "dc": 0.5, "noise": 0.001},
                {"status": "open"},
                {"status": "short"}]}}]},
        {"serial": "KSN1-0107", "type": 21, "slots": [
            {"slot": 1, "ksn48": {"serial": "4812001", "firmware": 10, "channels": [
                {"sines": [{"amplitude": 1.0, "frequency": 1000}]},
                {"sines": [{"amplitude": 7.0, "frequency": 1000}]},
                {"noise": 0.001},
                {"sines": [{"amplitude": 1.0, "frequency": 3}]}]}}]},
    ]
}

MARKS = {"short": "КЗ!!!", "open": "ОБРЫВ!!!"}
PLACEHOLDER = "--------"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, timeout=10.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def fixed(value, decimals):
    """The window's rounding: half away from zero on the shortest decimal
    form of the value, no minus sign on a zero result."""
    q = decimal.Decimal(repr(float(value))).quantize(
        decimal.Decimal(1).scaleb(-decimals), rounding=decimal.ROUND_HALF_UP)
    text = f"{q:f}"
    if re.fullmatch(r"-[0.]*", text):
        text = text[1:]
    return text


def frequency_decimals(khz):
    return 2 if khz > 1000 else 3 if khz > 100 else 5


def expected_channel(row, n, rate_hz, reference_inband):
    """(voltage, frequency, phase), each (text, kind, hint key or None), as the
    window shows the CSV row's channel n."""
    c = f"ch{n}_"
    status = row[c + "status"]
    dash = (PLACEHOLDER, "dash", None)
    if status in MARKS:
        return (MARKS[status], "fault", None), dash, dash
    if status not in ("ok", "notone", "overrange"):
        return dash, dash, dash
    mv, khz, deg = row[c + "mV"], row[c + "kHz"], row[c + "deg"]
    tone = status != "notone" and khz != ""
    inband = row[c + "inband"] != "0"
    side = "aboveband" if khz != "" and float(khz) * 1000 >= rate_hz / 4 else "belowband"
    reason = ("overrange" if status == "overrange" else "notone" if not tone
              else None if inband else side)
    volt = (fixed(float(mv), 2), "warn" if reason else "lime", reason)
    if not tone:
        return volt, (PLACEHOLDER, "dash", "notone"), (PLACEHOLDER, "dash", "notone")
    k = float(khz)
    freq = (fixed(k, frequency_decimals(k)), "lime" if inband else "warn",
            None if inband else side)
    if deg == "":
        phase = (PLACEHOLDER, "dash", "referencenoreading")
    else:
        preason = side if not inband else None if reference_inband else "referenceoutofband"
        phase = (fixed(float(deg), 3), "warn" if preason else "lime", preason)
    return volt, freq, phase


TILES_JS = """
const out = {};
for (const t of document.querySelectorAll('.tile')) {
  const rows = {};
  for (const tr of t.querySelectorAll('tr[data-ch]')) {
    const cell = (cls) => { const td = tr.querySelector('td.' + cls);
      return [td.textContent, td.className.split(' ')[1], td.dataset.hint]; };
    rows[tr.dataset.ch] = [cell('v'), cell('f'), cell('p')];
  }
  out[t.dataset.crate + '/' + t.dataset.slot] = {state: t.dataset.state,
    frame: t.dataset.frame, rows, foot: t.querySelector('footer').textContent,
    place: t.querySelector('.place').textContent};
}
return JSON.stringify({tiles: out, order: [...document.querySelectorAll('.tile')].map(
  (t) => t.dataset.crate + '/' + t.dataset.slot),
  link: document.getElementById('link').className, hints: window.KSN48_FLEET_TEXTS.hints});
"""


class FleetPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="ksn-fleet-")
        cls.procs = []
        cls.mqtt_port, cls.ws_port, cls.crate_port = free_port(), free_port(), free_port()
        cls.config = os.path.join(cls.dir, "fleet.conf")
        cls.write_snippet()
        cls.broker = None
        cls.start_broker()
        crates = os.path.join(cls.dir, "crates.json")
        with open(crates, "w") as f:
            json.dump(CRATES, f)
        cls.crated = cls.spawn([os.path.join(BIN_DIR, "ksn-crated"), "--fast", "--control",
                                "--config", crates, "--port", str(cls.crate_port)], "crated.log")
        assert wait_port(cls.crate_port), "ksn-crated did not start"
        cls.csv = {}
        cls.tools = {}
        for crate, slot, channels in (("KSN5-0042", 3, "1-8"), ("KSN1-0107", 1, "1-4")):
            key = f"{crate}/{slot}"
            cls.csv[key] = os.path.join(cls.dir, f"{crate}-{slot}.csv")
            cls.tools[key] = cls.spawn(
                [os.path.join(BIN_DIR, "ksn48-measure"), "--crate", crate, "--slot", str(slot),
                 "--rate", "39063", "--channels", channels, "--reference", "1",
                 "--duration", "300", "--output", cls.csv[key],
                 "--mqtt", f"127.0.0.1:{cls.mqtt_port}", "--topic", TOPIC_PREFIX],
                f"measure-{crate}-{slot}.log", env={"KSN_CRATE_PORT": str(cls.crate_port)})
            # One tool at a time: a tool's detection opens every module of the
            # server for a moment, which would make the other's open busy.
            cls.wait_log(f"measure-{crate}-{slot}.log", f"in slot {slot} of crate {crate}")
        options = Options()
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu",
                    "--disable-dev-shm-usage", "--window-size=1366,768"):
            options.add_argument(arg)
        options.binary_location = "/usr/bin/chromium"
        cls.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        cls.browser.get(f"http://127.0.0.1:{cls.ws_port}/index.html?prefix={PREFIX}")

    @classmethod
    def tearDownClass(cls):
        try:
            cls.browser.quit()
        finally:
            for p in cls.procs:
                if p.poll() is None:
                    p.kill()
                p.wait()
            shutil.rmtree(cls.dir, ignore_errors=True)

    @classmethod
    def write_snippet(cls):
        """The shipped snippet with the test's ports and page folder."""
        with open(SNIPPET) as f:
            text = f.read()
        text, n1 = re.subn(r"^listener 1883 ", f"listener {cls.mqtt_port} ", text, flags=re.M)
        text, n2 = re.subn(r"^listener 9001 ", f"listener {cls.ws_port} ", text, flags=re.M)
        text, n3 = re.subn(r"^http_dir .*$", f"http_dir {PAGE_DIR}", text, flags=re.M)
        assert (n1, n2, n3) == (1, 1, 1), "the snippet's listeners or http_dir changed"
        if os.geteuid() == 0:
            # Root would become the broker's own user, who may not read here.
            text += "\nuser root\n"
        with open(cls.config, "w") as f:
            f.write(text)

    @classmethod
    def wait_log(cls, log, text, timeout=20.0):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            with open(os.path.join(cls.dir, log), errors="replace") as f:
                if text in f.read():
                    return
            time.sleep(0.05)
        raise AssertionError(f"'{text}' not in {log}")

    @classmethod
    def spawn(cls, argv, log, env=None):
        full = dict(os.environ)
        full.update(env or {})
        with open(os.path.join(cls.dir, log), "ab") as out:
            p = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, env=full)
        cls.procs.append(p)
        return p

    @classmethod
    def start_broker(cls):
        end = time.monotonic() + 15
        while time.monotonic() < end:
            cls.broker = cls.spawn(["/usr/sbin/mosquitto", "-c", cls.config], "mosquitto.log")
            if wait_port(cls.mqtt_port, 5) and wait_port(cls.ws_port, 5):
                return
            cls.broker.kill()
            cls.broker.wait()
            time.sleep(0.3)  # a port just let go
        raise AssertionError("mosquitto did not start")

    def page(self):
        return json.loads(self.browser.execute_script(TILES_JS))

    def wait_page(self, test, timeout=40.0, what="the page"):
        end = time.monotonic() + timeout
        page = None
        while time.monotonic() < end:
            page = self.page()
            if test(page):
                return page
            time.sleep(0.2)
        logs = ""
        for name in sorted(os.listdir(self.dir)):
            if name.endswith(".log"):
                with open(os.path.join(self.dir, name), errors="replace") as f:
                    logs += f"\n--- {name}\n" + f.read()[-1500:]
        console = self.browser.get_log("browser")
        self.fail(f"{what} did not come: {json.dumps(page, ensure_ascii=False)[:3000]}"
                  f"\nbrowser console: {console}{logs}")

    def csv_row(self, key, frame):
        end = time.monotonic() + 10
        while time.monotonic() < end:
            with open(self.csv[key], newline="") as f:
                for row in csv.DictReader(f):
                    if row["frame"] == frame:
                        return row
            time.sleep(0.1)
        self.fail(f"frame {frame} not in {self.csv[key]}")

    def listening(self):
        out = subprocess.run(["ss", "-ltnH"], capture_output=True, text=True, check=True).stdout
        found = {}
        for line in out.splitlines():
            local = line.split()[3]
            address, _, port = local.rpartition(":")
            if port in (str(self.mqtt_port), str(self.ws_port)):
                found.setdefault(port, []).append(address)
        return found

    # The tests run in name order: each leaves the state the next starts from.

    def test_0_rounding(self):
        # The window's rounding: half away from zero on the shortest decimal
        # form, no minus sign on a zero result.
        cases = [
            (2.675, 2, "2.68"), (0.125, 2, "0.13"), (-0.125, 2, "-0.13"),
            (-0.001, 2, "0.00"), (-0.005, 2, "-0.01"), (0.0, 3, "0.000"),
            (999.995, 2, "1000.00"), (9.9999951, 5, "10.00000"), (1e-7, 5, "0.00000"),
            (1234.5, 0, "1235"), (-2.5, 0, "-3"), (707.1066697176615, 2, "707.11"),
            (123456789012.345, 2, "123456789012.35"), (1.5e-5, 5, "0.00002"),
            (-89.99999999845748, 3, "-90.000"), (0.049999999, 1, "0.0"),
        ]
        got = self.browser.execute_script(
            "return arguments[0].map(([v, d]) => window.fleetFormat(v, d));",
            [[v, d] for v, d, _ in cases])
        self.assertEqual(got, [want for _, _, want in cases])
        self.assertEqual(self.browser.execute_script("return window.fleetFormat(-0.0, 2)"),
                         "0.00")

    def test_1_only_loopback(self):
        found = self.listening()
        self.assertEqual(set(found), {str(self.mqtt_port), str(self.ws_port)}, found)
        for port, addresses in found.items():
            for a in addresses:
                self.assertIn(a, ("127.0.0.1", "[::ffff:127.0.0.1]", "[::1]"),
                              f"port {port} listens on {a}")

    def test_2_tiles_show_the_csv(self):
        page = self.wait_page(lambda p: len(p["tiles"]) == 2 and all(
            t["state"] == "online" and t["frame"] for t in p["tiles"].values()),
            what="two online tiles")
        self.assertEqual(page["order"], ["KSN1-0107/1", "KSN5-0042/3"])  # by place
        hints = page["hints"]
        reasons = set()
        for key, channels in (("KSN5-0042/3", range(1, 9)), ("KSN1-0107/1", range(1, 5))):
            tile = page["tiles"][key]
            row = self.csv_row(key, tile["frame"])
            self.assertEqual(sorted(tile["rows"]), [str(n) for n in channels])
            for n in channels:
                want = expected_channel(row, n, 39063, row["ch1_inband"] != "0")
                got = tile["rows"][str(n)]
                for (text, kind, reason), (gtext, gkind, ghint) in zip(want, got):
                    self.assertEqual((gtext, gkind), (text, kind), f"{key} ch{n} {row}")
                    self.assertEqual(ghint, hints[reason] if reason else "", f"{key} ch{n}")
                    if reason:
                        reasons.add(reason)
        # The second crate's channels are marked as the window marks them.
        self.assertTrue({"overrange", "notone"} <= reasons, reasons)
        self.assertIn("пропущено 0", page["tiles"]["KSN5-0042/3"]["foot"])

    def test_3_tile_opens_larger(self):
        self.browser.find_element("css selector", '.tile[data-crate="KSN5-0042"]').click()
        detail = self.browser.find_element("id", "detail")
        end = time.monotonic() + 5
        while time.monotonic() < end and not detail.is_displayed():
            time.sleep(0.1)
        self.assertTrue(detail.is_displayed())
        text = self.browser.find_element("id", "detail-body").text
        self.assertIn("KSN5-0042 · слот 3", text)
        self.assertIn("ОБРЫВ!!!", text)
        self.browser.find_element("id", "detail-close").click()
        self.assertFalse(detail.is_displayed())

    def test_3a_stopped_tool_goes_stale(self):
        # No frame for three frame times while its status stays online.
        tool = self.tools["KSN1-0107/1"]
        tool.send_signal(signal.SIGSTOP)
        try:
            page = self.wait_page(lambda p: p["tiles"]["KSN1-0107/1"]["state"] == "stale",
                                  timeout=15, what="the stopped tool's tile stale")
            self.assertEqual(page["tiles"]["KSN5-0042/3"]["state"], "online")
        finally:
            tool.send_signal(signal.SIGCONT)
        self.wait_page(lambda p: p["tiles"]["KSN1-0107/1"]["state"] == "online",
                       timeout=15, what="the tile online again")

    def test_4_killed_tool_goes_offline(self):
        tool = self.tools["KSN1-0107/1"]
        tool.send_signal(signal.SIGKILL)
        tool.wait()
        page = self.wait_page(lambda p: p["tiles"]["KSN1-0107/1"]["state"] == "offline",
                              timeout=10, what="the killed tool's tile offline")
        self.assertEqual(page["tiles"]["KSN5-0042/3"]["state"], "online")

    def test_5_broker_restart_resumes(self):
        before = int(self.page()["tiles"]["KSN5-0042/3"]["frame"])
        self.broker.kill()
        self.broker.wait()
        self.wait_page(lambda p: p["link"] == "link-down", timeout=10, what="the link down")
        self.start_broker()
        page = self.wait_page(
            lambda p: p["link"] == "link-up"
            and p["tiles"]["KSN5-0042/3"]["state"] == "online"
            and int(p["tiles"]["KSN5-0042/3"]["frame"] or 0) > before + 5,
            timeout=30, what="the page resumed")
        # The values after the restart are still the CSV's.
        tile = page["tiles"]["KSN5-0042/3"]
        row = self.csv_row("KSN5-0042/3", tile["frame"])
        self.assertEqual(tile["rows"]["1"][0][0], fixed(float(row["ch1_mV"]), 2))
        self.assertGreaterEqual(self.browser.execute_script(
            "return window.fleetStats.connects"), 2)

    def test_6_marks_of_a_frame(self):
        """Every mark of the window from one published frame (reference 1 out
        of band, over range, no tone, below band, no reference reading, short,
        lost), the uncertainty fields in the hint, and a gap in the frame
        numbers counted as missed frames."""
        base = f"{TOPIC_PREFIX}/TEST%2FX/7"
        config = {"crate": "TEST/X", "slot": 7, "module": "4800099", "rate_Hz": 78125.0,
                  "bits": 20, "current_mA": 2.86, "channels": list(range(1, 9)),
                  "reference": 1, "method": "fft", "amplitude": "rms", "max_time_s": 0.75,
                  "samples_per_channel": 65536}
        def ch(n, status, mv=None, khz=None, deg=None, inband=1, **extra):
            c = f"ch{n}_"
            out = {c + "mV": mv, c + "kHz": khz, c + "deg": deg, c + "status": status,
                   c + "inband": inband}
            out.update({c + k: v for k, v in extra.items()})
            return out
        frame = {"time": "2026-12-10T11:07:23.356Z"}
        for part in (ch(1, "ok", 100.0, 30.0, 0.0, 0, kHz_u=0.001),
                     ch(2, "ok", 200.004, 1.0, 10.0, mV_u=0.5),
                     ch(3, "overrange", 4082.25, 1.0, 5.0),
                     ch(4, "notone", 0.3),
                     ch(5, "ok", 50.0, 0.001, 1.0, 0),
                     ch(6, "ok", 60.0, 1.0, None),
                     ch(7, "short"),
                     ch(8, "lost", inband=None)):
            frame.update(part)

        def pub(topic, payload, retain=False):
            subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(self.mqtt_port),
                            "-t", f"{base}/{topic}", "-m", payload] + (["-r"] if retain else []),
                           check=True, timeout=10)
        pub("config", json.dumps(config), True)
        pub("status", "online", True)
        for number in (1, 5):
            frame["frame"] = number
            pub("frame", json.dumps(frame))
        page = self.wait_page(lambda p: p["tiles"].get("TEST/X/7", {}).get("frame") == "5",
                              timeout=10, what="the published frame")
        tile = page["tiles"]["TEST/X/7"]
        h = page["hints"]
        dash = PLACEHOLDER
        want = {
            "1": [("100.00", "warn", h["aboveband"]),
                  ("30.00000", "warn", h["aboveband"] + "\n± 0.00100 кГц"),
                  ("0.000", "warn", h["aboveband"])],
            "2": [("200.00", "lime", "± 0.50 мВ"), ("1.00000", "lime", ""),
                  ("10.000", "warn", h["referenceoutofband"])],
            "3": [("4082.25", "warn", h["overrange"]), ("1.00000", "lime", ""),
                  ("5.000", "warn", h["referenceoutofband"])],
            "4": [("0.30", "warn", h["notone"]), (dash, "dash", h["notone"]),
                  (dash, "dash", h["notone"])],
            "5": [("50.00", "warn", h["belowband"]), ("0.00100", "warn", h["belowband"]),
                  ("1.000", "warn", h["belowband"])],
            "6": [("60.00", "lime", ""), ("1.00000", "lime", ""),
                  (dash, "dash", h["referencenoreading"])],
            "7": [("КЗ!!!", "fault", ""), (dash, "dash", ""), (dash, "dash", "")],
            "8": [(dash, "dash", ""), (dash, "dash", ""), (dash, "dash", "")],
        }
        self.assertEqual({n: [tuple(c) for c in cells] for n, cells in tile["rows"].items()},
                         want)
        self.assertIn("пропущено 3", tile["foot"])
        self.assertEqual(tile["place"], "TEST/X · слот 7")
        self.assertEqual(page["order"][-1], "TEST/X/7")


if __name__ == "__main__":
    unittest.main(verbosity=2)
