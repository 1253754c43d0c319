#!/usr/bin/python3
"""Load of the fleet page: a broker with the shipped snippet (on free ports,
its page folder the build's), BENCHES synthetic benches publishing their
retained config and status and a frame every INTERVAL seconds, and the page
in headless chromium. Prints how many frames the page took and how far behind
its drawing was (the time from a frame's "time" to the drawing that showed
it), per second of the run. --shot WxH:FILE saves screenshots at the end.

usage: fleet_load.py PAGE_DIR SNIPPET [--benches 64] [--interval 0.5]
                     [--seconds 30] [--shot 1366x768:laptop.png ...]"""

import argparse
import datetime
import json
import math
import os
import random
import re
import shutil
import socket
import statistics
import subprocess
import tempfile
import time

import paho.mqtt.client as paho
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, timeout=10.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise SystemExit(f"nothing listens on {port}")


class Bench:
    """One synthetic bench: 8 channels of 1 kHz tones; some benches carry
    the window's marks (a short and an open input, no tone, over range, a
    tone out of band)."""

    def __init__(self, index, interval):
        self.crate = f"KSN5-{index // 4 + 1:04d}"
        self.slot = index % 4 + 1
        self.index = index
        self.frame = 0
        self.interval = interval
        self.next = time.monotonic() + random.uniform(0, interval)
        self.rate = 78125.0
        self.samples = int(round(min(interval, 0.75) * self.rate))
        self.base = [random.uniform(100, 2000) for _ in range(8)]
        self.phase = [random.uniform(-180, 180) for _ in range(8)]
        self.dropping = index % 16 == 5  # a bench whose feed loses frames

    def topic(self, prefix, kind):
        return f"{prefix}/{self.crate}/{self.slot}/{kind}"

    def config(self):
        return json.dumps({
            "crate": self.crate, "crate_model": "KSN-P5", "slot": self.slot,
            "module": f"48{self.index:05d}", "firmware": 12, "rate_Hz": self.rate, "bits": 20,
            "current_mA": 2.86, "channels": list(range(1, 9)), "reference": 1,
            "method": "fft", "amplitude": "rms", "max_time_s": 0.75,
            "samples_per_channel": self.samples})

    def next_frame(self):
        self.frame += 1
        if self.dropping and self.frame % 50 == 0:
            self.frame += 3
        now = datetime.datetime.now(datetime.timezone.utc)
        f = {"time": now.strftime("%Y-%m-%dT%H:%M:%S.") + f"{now.microsecond // 1000:03d}Z",
             "frame": self.frame}
        t = time.time()
        for n in range(1, 9):
            c = f"ch{n}_"
            mv = self.base[n - 1] * (1 + 0.02 * math.sin(t / 7 + n) + random.gauss(0, 0.001))
            f.update({c + "mV": mv, c + "kHz": 1.0 + random.gauss(0, 1e-6),
                      c + "deg": 0.0 if n == 1 else self.phase[n - 1] + random.gauss(0, 0.01),
                      c + "status": "ok", c + "inband": 1})
            f[c + "mV_u"] = mv * 1e-4
        kind = self.index % 7
        if kind == 1:
            f.update({"ch7_mV": None, "ch7_kHz": None, "ch7_deg": None, "ch7_status": "open"})
            f.update({"ch8_mV": None, "ch8_kHz": None, "ch8_deg": None, "ch8_status": "short"})
        elif kind == 3:
            f.update({"ch4_status": "notone", "ch4_kHz": None, "ch4_deg": None, "ch4_mV": 0.8})
        elif kind == 5:
            f.update({"ch2_status": "overrange", "ch2_mV": 3535.5})
        elif kind == 6:
            f.update({"ch3_inband": 0, "ch3_kHz": 0.0123})
        return json.dumps(f)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("page_dir")
    ap.add_argument("snippet")
    ap.add_argument("--benches", type=int, default=64)
    ap.add_argument("--interval", type=float, default=0.5)
    ap.add_argument("--seconds", type=float, default=30)
    ap.add_argument("--prefix", default="ksn48")
    ap.add_argument("--shot", action="append", default=[])
    args = ap.parse_args()
    random.seed(7)

    work = tempfile.mkdtemp(prefix="ksn-fleet-load-")
    procs = []
    browser = None
    try:
        mqtt_port, ws_port = free_port(), free_port()
        with open(args.snippet) as f:
            text = f.read()
        text = re.sub(r"^listener 1883 ", f"listener {mqtt_port} ", text, flags=re.M)
        text = re.sub(r"^listener 9001 ", f"listener {ws_port} ", text, flags=re.M)
        text = re.sub(r"^http_dir .*$", f"http_dir {os.path.abspath(args.page_dir)}", text,
                      flags=re.M)
        if os.geteuid() == 0:
            text += "\nuser root\n"
        conf = os.path.join(work, "fleet.conf")
        with open(conf, "w") as f:
            f.write(text)
        with open(os.path.join(work, "mosquitto.log"), "wb") as log:
            procs.append(subprocess.Popen(["/usr/sbin/mosquitto", "-c", conf], stdout=log,
                                          stderr=subprocess.STDOUT))
        wait_port(mqtt_port)
        wait_port(ws_port)

        benches = [Bench(i, args.interval) for i in range(args.benches)]
        client = paho.Client(client_id="ksn48-fleet-load")
        client.max_queued_messages_set(0)
        client.connect("127.0.0.1", mqtt_port)
        client.loop_start()
        for b in benches:
            client.publish(b.topic(args.prefix, "config"), b.config(), retain=True)
            client.publish(b.topic(args.prefix, "status"), "online", retain=True)
        # Two benches that are gone.
        for b in benches[-2:]:
            client.publish(b.topic(args.prefix, "status"), "offline", retain=True)

        options = Options()
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu",
                    "--disable-dev-shm-usage"):
            options.add_argument(arg)
        options.binary_location = "/usr/bin/chromium"
        browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": 1366, "height": 768, "deviceScaleFactor": 1, "mobile": False})
        browser.get(f"http://127.0.0.1:{ws_port}/index.html?prefix={args.prefix}")

        live = benches[:-2]

        after = [0]  # published after the measured seconds

        def pump(seconds):
            # Goes on publishing while the page is looked at.
            end = time.monotonic() + seconds
            while time.monotonic() < end:
                now = time.monotonic()
                for b in live:
                    if now >= b.next:
                        client.publish(b.topic(args.prefix, "frame"), b.next_frame())
                        b.next += b.interval
                        after[0] += 1
                time.sleep(0.002)

        published = 0
        samples = []
        start = time.monotonic()
        warm = start + 5
        next_sample = warm
        reset = False
        while time.monotonic() - start < args.seconds + 5:
            now = time.monotonic()
            for b in live:
                if now >= b.next:
                    client.publish(b.topic(args.prefix, "frame"), b.next_frame())
                    b.next += b.interval
                    if now >= warm:
                        published += 1
            if now >= warm and not reset:
                browser.execute_script("window.fleetStats.resetMax()")
                frames0, missed0, handle0, draw0 = browser.execute_script(
                    "const s = window.fleetStats;"
                    " return [s.frames, s.missed, s.handleMs, s.drawMsTotal]")
                cpu0 = time.monotonic()
                reset = True
            if reset and now >= next_sample:
                s = browser.execute_script(
                    "const s = window.fleetStats; const r = {lag: s.lagMsMax, draw: s.drawMsMax,"
                    " frames: s.frames}; s.resetMax(); return r;")
                samples.append(s)
                next_sample += 1.0
            time.sleep(0.002)
        pump(1.0)
        published += after[0]
        frames, missed, handle, drawn = browser.execute_script(
            "const s = window.fleetStats; return [s.frames, s.missed, s.handleMs, s.drawMsTotal]")
        wall = (time.monotonic() - cpu0) * 1000
        frames -= frames0
        missed -= missed0
        # The benches that skip numbers on purpose: 3 in every 50 frames.
        skipped = sum(b.frame // 53 * 3 for b in live if b.dropping)
        lags = [s["lag"] for s in samples[1:]]
        draws = [s["draw"] for s in samples[1:]]
        print(f"benches {args.benches} ({len(live)} publishing), a frame every "
              f"{args.interval} s each: {published / args.seconds:.0f} frames/s published")
        print(f"page took {frames} of the {published} frames published from the fifth second on")
        print(f"gaps in the frame numbers the page counted meanwhile: {missed} "
              f"(about {skipped} skipped on purpose, by {sum(b.dropping for b in live)} benches)")
        print(f"the page's own work: taking messages {100 * (handle - handle0) / wall:.1f} %, "
              f"drawing {100 * (drawn - draw0) / wall:.1f} % of the time "
              f"({(handle - handle0) / max(frames, 1) * 1000:.0f} us a frame)")
        print(f"load average at the end: {os.getloadavg()[0]:.1f}")
        print("lag of the newest frame drawn, the worst of each second (ms): "
              f"median {statistics.median(lags):.0f}, max {max(lags):.0f}")
        print(f"drawing (ms), the worst of each second: median {statistics.median(draws):.1f}, "
              f"max {max(draws):.1f}")
        for shot in args.shot:
            size, _, path = shot.partition(":")
            w, h = (int(v) for v in size.split("x"))
            browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": w, "height": h, "deviceScaleFactor": 1, "mobile": False})
            pump(2.5)
            browser.save_screenshot(path)
            print(f"screenshot {w}x{h}: {path}")
        client.loop_stop()
    finally:
        if browser is not None:
            browser.quit()
        for p in procs:
            p.kill()
            p.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
