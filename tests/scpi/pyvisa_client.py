#!/usr/bin/python3
"""PyVISA (pure-Python backend) against a running ksn48-scpi.

    pyvisa_client.py PORT SCENARIO

Each scenario asserts what a test system would rely on and prints
"ok SCENARIO"; a failed assertion ends with exit 1. The module is the
built-in population's "4811001" (crate KSN5-0042, slot 3): 1 kHz sines of
1, 0.5, 2, 1, 0.25 and 1 V peak at 0, 30, -90, 45, 120 and 0 degrees on
channels 1 to 6, an open circuit on 7 and a short circuit on 8.
"""
import math
import socket
import sys
import time

import pyvisa

PORT = int(sys.argv[1])
SCENARIO = sys.argv[2]
RESOURCE = f"TCPIP::127.0.0.1::{PORT}::SOCKET"

RMS = [1 / math.sqrt(2), 0.5 / math.sqrt(2), 2 / math.sqrt(2), 1 / math.sqrt(2),
       0.25 / math.sqrt(2), 1 / math.sqrt(2)]
PHASES = [0.0, 30.0, -90.0, 45.0, 120.0, 0.0]
NAN = 9.91e37


def open_instrument(timeout_ms=10000):
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(RESOURCE, read_termination="\n", write_termination="\n",
                            encoding="utf-8")
    inst.timeout = timeout_ms
    return inst


def numbers(text):
    return [float(v) for v in text.split(",")]


def errors(inst):
    """The whole error queue as (code, text) pairs, emptied."""
    out = []
    while True:
        code, text = inst.query("SYST:ERR?").split(",", 1)
        if int(code) == 0:
            return out
        out.append((int(code), text.strip('"')))


def close(a, b, tolerance):
    return abs(a - b) <= tolerance


def no_answer(inst, command):
    """A query that fails answers nothing: the read times out."""
    inst.write(command)
    saved = inst.timeout
    inst.timeout = 1500
    try:
        inst.read()
    except pyvisa.errors.VisaIOError:
        return True
    finally:
        inst.timeout = saved
    return False


def identify():
    inst = open_instrument()
    maker, model, serial, firmware = inst.query("*IDN?").split(",")
    assert (maker, model, serial) == ("KSN48_Vevu", "KSN48", "4811001"), (maker, model, serial)
    assert firmware.startswith("12/"), firmware
    assert inst.query("SYST:VERS?") == "1999.0"
    assert inst.query("*TST?") == "0"
    assert inst.query("*OPC?") == "1"


def configure():
    inst = open_instrument()
    inst.write("*RST;*CLS")
    # A fresh window's setup.
    assert inst.query("SENS:RATE?;WIDT?;CHAN?;PHAS:REF?;METH?;AMPL?;APER?;:SOUR:CURR?") == \
        "78125;20;(@1,2,3,4,5,6);1;FFT;RMS;0.75;0.00286"
    inst.write("sens:rate 39.0625 kHz;Width 24;:SOURce:CURRent 10 mA")
    inst.write("SENSe:CHANnel (@1:3,5);PHAS:REF 2;:METH SUM;AMPL AMP;APER 250 ms")
    assert inst.query("RATE?") == "39062.5"
    assert inst.query("WIDT?") == "24"
    assert inst.query("SOUR:CURR?") == "0.01"
    assert inst.query("CHAN?") == "(@1,2,3,5)"
    assert inst.query("PHAS:REF?") == "2"
    assert inst.query("METH?;AMPL?") == "SUM;AMP"
    assert inst.query("APER?") == "0.25"
    inst.write("CONF:FREQ (@1:6)")
    assert inst.query("CONF?") == '"FREQ (@1,2,3,4,5,6)"'
    assert inst.query("RATE MIN;RATE?;RATE MAX;RATE?;RATE DEF;RATE?") == "610.3515625;78125;78125"
    assert errors(inst) == []
    inst.write("*RST")
    assert inst.query("RATE?;METH?;CHAN?") == "78125;FFT;(@1,2,3,4,5,6)"


def measure():
    inst = open_instrument()
    inst.write("*RST;*CLS")
    volts = numbers(inst.query("MEAS:VOLT:AC? (@1:6)"))
    for c, (got, want) in enumerate(zip(volts, RMS), 1):
        assert close(got, want, 1e-3 * want), (c, got, want)
    hertz = numbers(inst.query("MEAS:FREQ? (@1:6)"))
    assert all(close(f, 1000.0, 0.01) for f in hertz), hertz
    degrees = numbers(inst.query("MEAS:PHAS? (@1:6)"))
    for c, (got, want) in enumerate(zip(degrees, PHASES), 1):
        assert close(got, want, 0.01), (c, got, want)
    # FETCh? is the same frame again; READ? a new one.
    assert numbers(inst.query("FETC:PHAS? (@2)")) == [degrees[1]]
    inst.write("CONF:VOLT:AC")
    assert close(numbers(inst.query("READ? (@3)"))[0], RMS[2], 1e-3)
    inst.write("INIT")
    assert inst.query("*OPC?") == "1"
    assert close(numbers(inst.query("FETC? (@1)"))[0], RMS[0], 1e-3)
    # Status and marks without parsing texts: open 2, short 1, no values.
    inst.write("CHAN (@1:8);:RATE 39063")
    assert inst.query("READ:STAT?") == "0,0,0,0,0,0,2,1"
    fields = inst.query("FETC:ALL:FIEL?").strip('"').split(",")
    assert fields[:9] == ["CHAN", "VOLT", "FREQ", "PHAS", "STAT", "INBAND", "VMARK", "FMARK",
                          "PMARK"], fields
    values = inst.query("FETC:ALL? (@2,7,8)").split(",")
    assert len(values) == 3 * len(fields)
    row = dict(zip(fields, values[:len(fields)]))
    assert row["CHAN"] == "2" and row["STAT"] == "0" and row["INBAND"] == "1"
    assert close(float(row["PHAS"]), 30.0, 0.01)
    for k in (1, 2):
        row = dict(zip(fields, values[k * len(fields):(k + 1) * len(fields)]))
        assert row["STAT"] == ("2" if k == 1 else "1"), row
        assert float(row["VOLT"]) == NAN and float(row["PHAS"]) == NAN
    # Continuous: frames keep coming, READ? takes the next.
    inst.write("CHAN (@1:6);:INIT:CONT ON")
    assert inst.query("INIT:CONT?") == "1"
    assert close(numbers(inst.query("READ? (@1)"))[0], RMS[0], 1e-3)
    inst.write("ABOR")
    assert inst.query("INIT:CONT?") == "0"
    assert errors(inst) == []


def precision():
    # The precision method by name, and the uncertainties of every reading
    # (k = 1) after the fields there were: positive and small on the clean
    # signals, where the quantisation is the only noise; none with "sum".
    inst = open_instrument()
    inst.write("*RST;*CLS;METH FIT")
    assert inst.query("METH?") == "FIT"
    fields = inst.query("FETC:ALL:FIEL?").strip('"').split(",")
    assert fields[-3:] == ["VOLTU", "FREQU", "PHASU"], fields
    for method in ("FIT", "FFT", "SUM"):
        inst.write(f"METH {method}")
        values = inst.query("MEAS:ALL? (@1:6)").split(",")
        assert len(values) == 6 * len(fields), values
        for c in range(6):
            row = dict(zip(fields, values[c * len(fields):(c + 1) * len(fields)]))
            u = [float(row[k]) for k in ("VOLTU", "FREQU", "PHASU")]
            assert close(float(row["VOLT"]), RMS[c], 1e-3 * RMS[c]), (method, c, row)
            if method == "SUM":
                assert u == [NAN, NAN, NAN], (method, c, row)
                continue
            assert close(float(row["PHAS"]), PHASES[c], 0.01), (method, c, row)
            assert 0 < u[0] < 1e-4 * RMS[c], (method, c, row)
            assert 0 < u[1] < 0.01, (method, c, row)
            # Channel 1 is the reference: its difference is 0 by definition.
            assert (u[2] == 0) if c == 0 else (0 < u[2] < 0.01), (method, c, row)
    assert errors(inst) == []


BAD = [
    ("FOO:BAR", -113),
    ("SENS:RATE 1000", -224),
    ("SENS:RATE 1E6", -222),
    ("SENS:RATE", -109),
    ("*IDN? 2", -108),
    ("SENS:RATE 39 V", -131),
    ("WIDT 16", -224),
    ("SOUR:CURR 5 mA", -224),
    ("PHAS:REF 9", -222),
    ("CHAN (@0,2)", -222),
    ("APER 0", -222),
    ("SYST::ERR?", -102),
    ("RATE 1,,2", -109),
    ("METH BOGUS", -224),
    ("FETC:VOLT? (@8)", -221),
]


def error_queue():
    inst = open_instrument()
    inst.write("*RST;*CLS")
    for command, code in BAD:
        inst.write(command)
        got = errors(inst)
        assert [c for c, _ in got] == [code], (command, got)
    # The standard event register tells the classes: command and execution errors.
    inst.write("*CLS;FOO;RATE 1000")
    assert int(inst.query("*ESR?")) & 0x30 == 0x30
    assert int(inst.query("*STB?")) & 0x04 == 0x04
    assert inst.query("SYST:ERR:COUN?") == "2"
    inst.write("*CLS")
    assert inst.query("SYST:ERR:COUN?") == "0"
    for _ in range(30):
        inst.write("FOO")
    got = errors(inst)
    assert len(got) == 20 and got[-1][0] == -350, got


def data_rate():
    inst = open_instrument()
    inst.write("*RST;*CLS")
    # 8 channels of 20 bits at 78125 Hz: 2500.0 Кбайт/с over KSN-P5's 2000.0.
    inst.write("CHAN (@1:8)")
    assert no_answer(inst, "MEAS:VOLT:AC?")
    got = errors(inst)
    assert len(got) == 1 and got[0][0] == -221, got
    text = got[0][1]
    assert text.startswith("Settings conflict;"), text
    assert "составляет 2500.0 Кбайт/с" in text and "величину 2000.0 Кбайт/с !!!" in text, text
    assert "\n" not in text
    # Six channels fit.
    inst.write("CHAN (@1:6)")
    assert len(numbers(inst.query("MEAS:VOLT:AC?"))) == 6
    assert errors(inst) == []


def garbage():
    inst = open_instrument()
    inst.write("*RST;*CLS")
    inst.write_raw(bytes(range(256)) + b"\n")
    inst.write_raw(b"\x00\x00\xff;;*IDN?\xfe\n")
    inst.write_raw(b"A" * 70000 + b";*IDN?\n")
    assert inst.query("*IDN?").startswith("KSN48_Vevu,KSN48,"), "not answering after garbage"
    codes = [c for c, _ in errors(inst)]
    assert codes and all(c < 0 for c in codes), codes
    assert -363 in codes, codes
    # A second client is refused with one line while this one holds it.
    other = socket.create_connection(("127.0.0.1", PORT), timeout=5)
    line = other.makefile("rb").readline().decode()
    assert "another client controls the instrument" in line, line
    assert other.recv(1) == b""
    other.close()
    assert inst.query("*OPC?") == "1"


def lost():
    inst = open_instrument()
    assert no_answer(inst, "MEAS:VOLT:AC? (@1)")
    got = errors(inst)
    assert got and got[0][0] == -241 and got[0][1].startswith("Hardware missing;"), got


def recover():
    inst = open_instrument()
    deadline = time.monotonic() + 20
    while True:
        inst.write("MEAS:VOLT:AC? (@1)")
        try:
            inst.timeout = 3000
            value = float(inst.read())
            break
        except pyvisa.errors.VisaIOError:
            assert time.monotonic() < deadline, "the module did not come back"
            codes = [c for c, _ in errors(inst)]
            assert all(c == -241 for c in codes), codes
            time.sleep(0.5)
    assert close(value, RMS[0], 1e-3), value
    assert inst.query("*IDN?").split(",")[2] == "4811001"


def hang_up():
    # A client that goes while its frame is measured: the next one is served
    # at once, not after that frame.
    inst = open_instrument()
    inst.write("*RST;APER 3")
    inst.write("READ?")
    time.sleep(0.3)
    inst.close()
    started = time.monotonic()
    inst = open_instrument()
    assert inst.query("*IDN?").startswith("KSN48_Vevu")
    inst.write("APER 0.05")
    assert close(numbers(inst.query("MEAS:VOLT:AC? (@1)"))[0], RMS[0], 1e-3)
    # The frame left behind takes 262144 / 78125 = 3.4 s.
    took = time.monotonic() - started
    assert took < 3.0, took
    assert errors(inst) == []


SCENARIOS = {f.__name__: f for f in (identify, configure, measure, precision, error_queue,
                                     data_rate, garbage, lost, recover, hang_up)}

if __name__ == "__main__":
    SCENARIOS[SCENARIO]()
    print("ok", SCENARIO)
