"""The web console in a real browser (headless chromium driven through
chromedriver) against the running service over HTTPS with Basic credentials.

Steps, each with a screenshot in the output folder:
  1. the page loads with no console error and nothing from elsewhere, and
     shows the status and the readers of the configuration;
  2. the metrics text is read right, also with escaped label values, and the
     counters and the chart move while events flow;
  3. a bad exclusion expression is shown beside its field and nothing is saved;
  4. a new log level, a reader removed and a new reader made through the form
     are saved: the file changes, the service reconfigures and the new reader
     forwards to a real UDP receiver.

Usage: console_test.py --program PATH --out FOLDER
Exit status 0 when every step passes.
"""

import argparse
import base64
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import traceback
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

Timeout = 40
User, Password = "admin", "sec ret"


def wait_until(predicate, what, timeout=Timeout):
    """Polls APREDICATE until it gives a true value, which it returns."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class UdpSink:
    """A syslog receiver on UDP: keeps every datagram it gets."""

    def __init__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 0))
        self.socket.settimeout(0.2)
        self.port = self.socket.getsockname()[1]
        self.lines = []
        self.lock = threading.Lock()
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stopped.is_set():
            try:
                data = self.socket.recv(65535)
            except socket.timeout:
                continue
            with self.lock:
                self.lines.append(data.decode("utf-8", "replace"))

    def received(self):
        with self.lock:
            return list(self.lines)

    def close(self):
        self.stopped.set()
        self.thread.join()
        self.socket.close()


class ServiceProcess:
    """The service program on folders under ROOT."""

    def __init__(self, program, root):
        self.program = program
        self.root = root
        self.folders = ["--programdata", str(root / "data"), "--home", str(root / "home"),
                        "--eventlog-dir", str(root / "eventlogs")]
        self.config_file = root / "data/Velmora/WinEvtSvc/Svc/SvcConfig.json"
        self.log_file = root / "home/Log/zor-event-exporter.log"
        self.process = None

    def run(self, *arguments, stdin=None):
        return subprocess.run([self.program, *self.folders, *arguments], input=stdin, capture_output=True,
                              text=True, check=True).stdout

    def start(self):
        self.stderr = open(self.root / "service.stderr", "w")
        self.process = subprocess.Popen([self.program, *self.folders], stdout=subprocess.DEVNULL,
                                        stderr=self.stderr, cwd=self.root)

    def stop(self):
        if self.process is None:
            return
        self.process.send_signal(signal.SIGTERM)
        try:
            code = self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = self.process.wait()
        self.process = None
        self.stderr.close()
        if code != 0:
            raise AssertionError(f"the service ended with {code}: {(self.root / 'service.stderr').read_text()}")

    def log(self):
        try:
            return self.log_file.read_bytes().decode("utf-16", "replace")
        except FileNotFoundError:
            return ""

    def wait_log(self, text):
        wait_until(lambda: text in self.log(), f'log line "{text}"')


class EventWriter:
    """Appends an event to each of the channels every fifth of a second."""

    def __init__(self, service, channels):
        self.service, self.channels = service, channels
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        n = 0
        while not self.stopped.is_set():
            n += 1
            for channel in self.channels:
                self.service.run("write-event", "--channel", channel, "--provider", "Console Test", "--id", "4000",
                                 "--data", f"Text=event {n} of {channel}")
            self.stopped.wait(0.2)  # pacing of the flow, not a wait for something

    def stop(self):
        self.stopped.set()
        self.thread.join()


class ConsoleTest:
    def __init__(self, program, out):
        self.out = out
        self.root = Path(tempfile.mkdtemp(prefix="console-test-"))
        self.service = ServiceProcess(program, self.root)
        self.step = 0
        self.errors = []  # console errors of the page's own code, over the whole run
        self.sinks = []
        self.writer = None
        self.driver = None

    # ---- Set-up ----------------------------------------------------------
    def set_up(self, page):
        for folder in ("home", "eventlogs", "data/Velmora/WinEvtSvc/Svc"):
            (self.root / folder).mkdir(parents=True, exist_ok=True)
        shutil.copy(page, self.root / "home/index.html")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-keyout", str(self.root / "key.pem"), "-out", str(self.root / "cert.pem"),
                        "-days", "2", "-subj", "/CN=localhost",
                        "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"],
                       check=True, capture_output=True)
        for channel in ("Alpha", "Beta"):
            (self.root / "eventlogs" / f"{channel}.xml").touch()
        self.sink_a, self.sink_b = UdpSink(), UdpSink()
        self.sinks = [self.sink_a, self.sink_b]
        stored = self.service.run("encrypt-password", stdin=Password + "\n").strip()
        # The page's address must stay the same across reconfigurations, so
        # the endpoint gets a fixed port: a free one, and another when some
        # other program took it before the service could.
        for _ in range(3):
            self.port = free_port()
            config = {
                "logLevel": 4, "ip": "127.0.0.1", "port": self.port, "protocol": "https",
                "certFile": str(self.root / "cert.pem"), "keyFile": str(self.root / "key.pem"),
                "userName": User, "password": stored,
                "interfaces": [{
                    "name": "Alpha", "path": "Alpha", "batchSize": 50, "startAtBeginning": True,
                    "syslogReceivers": [{"name": "SinkA", "host": "127.0.0.1", "port": self.sink_a.port,
                                         "transport": "UDP"}]}, {
                    "name": "Gamma", "path": "Beta", "enabled": False,
                    "beatReceivers": [{"name": "Bulk", "protocol": "http", "host": "127.0.0.1", "port": 9,
                                       "esVersion": 7, "documentId": True}]}],
            }
            self.service.config_file.write_text(json.dumps(config, indent=2))
            self.service.start()
            listening, refused = f"[EndPoint] Listening on 127.0.0.1:{self.port}", "Could not bind socket"
            wait_until(lambda: listening in self.service.log() or refused in self.service.log(), "the endpoint")
            if listening in self.service.log():
                break
            self.service.stop()
            self.service.log_file.unlink()
        else:
            raise AssertionError("no free port for the endpoint")
        self.writer = EventWriter(self.service, ["Alpha", "Beta"])

        options = Options()
        options.binary_location = shutil.which("chromium")
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                         "--ignore-certificate-errors", "--window-size=1400,2600", "--no-first-run",
                         f"--user-data-dir={self.root / 'profile'}"):
            options.add_argument(argument)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        self.driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
        self.driver.set_page_load_timeout(Timeout)
        self.driver.execute_cdp_cmd("Network.enable", {})
        credentials = base64.b64encode(f"{User}:{Password}".encode()).decode()
        self.driver.execute_cdp_cmd("Network.setExtraHTTPHeaders",
                                    {"headers": {"Authorization": f"Basic {credentials}"}})

    def tear_down(self):
        if self.driver is not None:
            self.driver.quit()
        if self.writer is not None:
            self.writer.stop()
        try:
            self.service.stop()
        finally:
            for sink in self.sinks:
                sink.close()

    # ---- Helpers ---------------------------------------------------------
    def screenshot(self, name):
        self.step += 1
        self.driver.save_screenshot(str(self.out / f"{self.step:02d}-{name}.png"))

    def wait(self, condition, what):
        return WebDriverWait(self.driver, Timeout, poll_frequency=0.1).until(
            lambda d: condition(d), message=f"timed out waiting for {what}")

    def find(self, selector):
        return self.driver.find_element(By.CSS_SELECTOR, selector)

    def field(self, path):
        return self.find(f'#config-form [data-path="{path}"]')

    def type_into(self, path, text):
        element = self.field(path)
        element.clear()
        element.send_keys(text)

    def console_entries(self):
        """The browser's console lines since the last call."""
        return [e for e in self.driver.get_log("browser") if e["level"] in ("SEVERE", "ERROR")]

    def text(self, selector):
        """The text of the first element matching SELECTOR, read in one go (the page redraws its figures)."""
        return self.driver.execute_script(
            "const e = document.querySelector(arguments[0]); return e ? e.textContent : null", selector)

    def attribute(self, selector, name):
        """An attribute of the first element matching SELECTOR, read in one go."""
        return self.driver.execute_script(
            "const e = document.querySelector(arguments[0]); return e ? e.getAttribute(arguments[1]) : null",
            selector, name)

    def counter(self, selector):
        text = (self.text(selector) or "").replace(",", "")
        return int(text) if text.isdigit() else None

    # ---- Steps -----------------------------------------------------------
    def page_loads(self):
        origin = f"https://127.0.0.1:{self.port}"
        self.driver.get(origin + "/")
        self.wait(lambda d: d.find_elements(By.CSS_SELECTOR, '[data-reader="Alpha"] tr[data-receiver]'),
                  "the reader Alpha with its receiver")
        self.wait(lambda d: self.text('[data-fact="Machine"] dd') not in ("", "–"), "the status")
        self.wait(lambda d: d.find_elements(By.CSS_SELECTOR, '[data-reader-form="0"]'), "the form")
        self.wait(lambda d: "Event log manager started" in (self.text("#log-text") or ""), "the log")
        receiver = self.attribute('[data-reader="Alpha"] tr[data-receiver]', "data-receiver")
        assert receiver == f"127.0.0.1:{self.sink_a.port}", receiver
        assert self.field("interfaces[0].path").get_attribute("value") == "Alpha"
        assert self.text('[data-reader="Gamma"] .badge') == "disabled"
        assert self.attribute('[data-reader="Gamma"] tr[data-receiver]', "data-receiver") == "http://127.0.0.1:9"
        assert not self.field("interfaces[1].enabled").is_selected()
        assert self.field("interfaces[1].beatReceivers[0].documentId").is_selected()
        channels = [o.text for o in Select(self.find('[data-reader-form="0"] [data-role="channel-picker"]')).options]
        assert channels[1:] == ["Alpha", "Beta"], channels
        errors = self.console_entries()
        assert not errors, f"console errors on load: {errors}"
        elsewhere = self.driver.execute_script(
            "return performance.getEntriesByType('resource').map(e => e.name)"
            ".filter(n => !n.startsWith(location.origin + '/'))")
        assert not elsewhere, f"loaded from elsewhere: {elsewhere}"
        self.screenshot("loaded")

    def metrics_text_is_read(self):
        """The page's reading of the metrics text, on the lines that trip a naive reader."""
        exposition = "\n".join([
            "# HELP zor_reader_records_read_total Records read.",
            "# TYPE zor_reader_records_read_total counter",
            'zor_reader_records_read_total{reader="Alpha"} 12',
            'zor_reader_records_read_total{reader="Alpha2"} 3',
            'zor_reader_records_read_total{reader="say \\"hi\\", a\\\\b {x} c=d"} 7 1700000000000',
            'zor_syslog_messages_sent_total{destination="127.0.0.1:514",transport="UDP"} 1.5e3',
            'zor_syslog_messages_sent_total{transport="TCP", destination="127.0.0.1:514"} 5',
            "zor_processor_batch_seconds_sum 0.25",
            'zor_beat_last_status{destination="http://h:9200",} +Inf',
            "zor_broken{reader=\"unterminated} 4",
            "",
        ])
        cases = [
            ("zor_reader_records_read_total", {"reader": "Alpha"}, "12"),
            ("zor_reader_records_read_total", {"reader": 'say "hi", a\\b {x} c=d'}, "7"),
            ("zor_reader_records_read_total", {}, "22"),
            ("zor_syslog_messages_sent_total", {"destination": "127.0.0.1:514"}, "1505"),
            ("zor_syslog_messages_sent_total", {"destination": "127.0.0.1:514", "transport": "TCP"}, "5"),
            ("zor_processor_batch_seconds_sum", {}, "0.25"),
            ("zor_beat_last_status", {"destination": "http://h:9200"}, "Infinity"),
            ("zor_broken", {}, "undefined"),
            ("zor_reader_records_read_total", {"reader": "Beta"}, "undefined"),
        ]
        found = self.driver.execute_script(
            "const m = parseMetrics(arguments[0]);"
            "return arguments[1].map(c => String(metricValue(m, c[0], c[1])))", exposition, cases)
        assert found == [c[2] for c in cases], list(zip(cases, found))

    def counters_move(self):
        read = '[data-reader="Alpha"] [data-counter="read"]'
        sent = '[data-reader="Alpha"] tr[data-receiver] [data-counter="sent"]'
        first = self.wait(lambda d: self.counter(read), "a count of records read")
        self.wait(lambda d: (self.counter(read) or 0) > first, "the count of records read to grow")
        sent_first = self.wait(lambda d: self.counter(sent), "a count of messages sent")
        self.wait(lambda d: (self.counter(sent) or 0) > sent_first, "the count of messages sent to grow")
        self.wait(lambda d: d.find_elements(By.CSS_SELECTOR, '#rate-chart polyline[data-series="reader Alpha"]'),
                  "the chart line of the reader")
        self.wait(lambda d: self.text('[data-reader="Alpha"] [data-counter="rate"]') not in (None, "", "–", "0"),
                  "a rate of events per second")
        # Counted once sent: the receiver has at least as many.
        assert len(self.sink_a.received()) >= sent_first, (len(self.sink_a.received()), sent_first)
        for fact in ("Running for", "Resident memory", "Threads", "Pipeline"):
            self.wait(lambda d: self.text(f'[data-fact="{fact}"] dd') not in (None, "", "–"), f"the figure {fact}")
        assert self.text('[data-fact="Pipeline"] dd') == "running", self.text('[data-fact="Pipeline"] dd')
        self.errors += self.console_entries()
        self.screenshot("counters")

    def bad_expression_is_refused(self):
        before = self.service.config_file.read_bytes()
        self.find('[data-reader-form="0"] button[data-action="add-expression"]').click()
        self.type_into("interfaces[0].exclusionRegex[0]", "event (")
        self.find("#apply").click()
        note = self.wait(lambda d: d.find_elements(
            By.CSS_SELECTOR, '.problem[data-problem-for="interfaces[0].exclusionRegex[0]"]'),
            "the problem beside the expression")[0]
        beside = self.driver.execute_script(
            "return document.querySelector('[data-path=\"interfaces[0].exclusionRegex[0]\"]')"
            ".closest('.field').nextElementSibling", )
        assert beside == note, "the problem is not next to its field"
        assert note.text, "the problem has no text"
        assert self.find("#apply-result").text.startswith("Not saved"), self.find("#apply-result").text
        assert not self.find("#general-problems").text, self.find("#general-problems").text
        assert self.service.config_file.read_bytes() == before, "the configuration file changed"
        assert "Shutting down for reconfigure" not in self.service.log()
        # The page's own answer to a 400 is logged by the browser as a failed load: not an error of the page.
        self.errors += [e for e in self.console_entries() if "status of 400" not in e["message"]]
        self.screenshot("bad-expression")
        self.find('[data-reader-form="0"] button[data-action="remove-expression"]').click()
        assert not self.driver.find_elements(By.CSS_SELECTOR, ".problem")

    def new_reader_is_saved_and_forwards(self):
        Select(self.field("logLevel")).select_by_value("5")
        self.find('[data-reader-form="1"] button[data-action="remove-reader"]').click()
        self.find("#add-reader").click()
        form = self.wait(lambda d: d.find_elements(By.CSS_SELECTOR, '[data-reader-form="1"]'), "a new reader")[0]
        Select(form.find_element(By.CSS_SELECTOR, '[data-role="channel-picker"]')).select_by_visible_text("Beta")
        assert self.field("interfaces[1].path").get_attribute("value") == "Beta"
        self.type_into("interfaces[1].name", "Beta reader")
        form.find_element(By.CSS_SELECTOR, 'button[data-action="add-syslog"]').click()
        self.type_into("interfaces[1].syslogReceivers[0].name", "SinkB")
        self.type_into("interfaces[1].syslogReceivers[0].host", "127.0.0.1")
        self.type_into("interfaces[1].syslogReceivers[0].port", str(self.sink_b.port))
        self.screenshot("new-reader-filled")
        self.find("#apply").click()
        self.wait(lambda d: self.find("#apply-result").text.startswith("Saved"), "the answer to the change")

        saved = json.loads(self.service.config_file.read_text(encoding="utf-8-sig"))
        assert saved["logLevel"] == 5, saved["logLevel"]
        assert [r["name"] for r in saved["interfaces"]] == ["Alpha", "Beta reader"], saved["interfaces"]
        beta = saved["interfaces"][1]
        assert beta["path"] == "Beta" and beta["enabled"] is True, beta
        assert [(r["host"], r["port"], r["transport"]) for r in beta["syslogReceivers"]] == \
            [("127.0.0.1", self.sink_b.port, "UDP")], beta["syslogReceivers"]
        self.service.wait_log("Starting up for reconfigure")
        wait_until(lambda: any("event 1 of Beta" in line for line in self.sink_b.received()),
                   "the new reader's events at its receiver")
        # The page finds the restarted endpoint and shows the new reader with its figures.
        self.wait(lambda d: d.find_elements(By.CSS_SELECTOR, '[data-reader="Beta reader"] tr[data-receiver]'),
                  "the new reader on the page")
        self.wait(lambda d: (self.counter('[data-reader="Beta reader"] [data-counter="read"]') or 0) > 0,
                  "the new reader's count of records read")
        self.wait(lambda d: (self.counter('[data-reader="Beta reader"] tr[data-receiver] [data-counter="sent"]')
                             or 0) > 0, "the new receiver's count of messages sent")
        self.wait(lambda d: self.find("#connection").text == "connected", "the page connected again")
        assert self.driver.execute_script(
            "return document.querySelector('#config-form [data-path=\"logLevel\"]').value") == "5"
        # While the endpoint restarts, requests fail to connect; anything else is an error of the page.
        self.errors += [e for e in self.console_entries() if "net::ERR_" not in e["message"]]
        self.screenshot("saved")

    def run(self):
        self.page_loads()
        self.metrics_text_is_read()
        self.counters_move()
        self.bad_expression_is_refused()
        self.new_reader_is_saved_and_forwards()
        assert not self.errors, f"console errors: {self.errors}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True, help="the service program")
    parser.add_argument("--page", help="the console page (default: index.html beside the program)")
    parser.add_argument("--out", required=True, help="folder for the screenshots")
    arguments = parser.parse_args()
    out = Path(arguments.out)
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    page = arguments.page or str(Path(arguments.program).parent / "index.html")
    test = ConsoleTest(os.path.abspath(arguments.program), out)
    failed = False
    try:
        test.set_up(page)
        test.run()
    except Exception:
        failed = True
        traceback.print_exc()
        if test.driver is not None:
            try:
                test.screenshot("failure")
            except Exception:
                pass
    finally:
        try:
            test.tear_down()
        except Exception:
            failed = True
            traceback.print_exc()
        if failed:
            print("---- service log ----\n" + test.service.log()[-6000:], file=sys.stderr)
        shutil.rmtree(test.root, ignore_errors=True)
    print(f"screenshots in {out}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
