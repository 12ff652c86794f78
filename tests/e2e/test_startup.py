"""Start-up and shut-down of the real server on a test installation."""
import os
import re
import struct
import subprocess
import unittest

from osprine_harness import BIN, Server, make_bbs, remove, wait_for

LOG_LINE = re.compile(r"^(Mon|Tue|Wed|Thu|Fri|Sat|Sun) \d{4}-\d\d-\d\d \d\d:\d\d:\d\d ( {5}0)  (.*)$")


class StartupTest(unittest.TestCase):
    def setUp(self):
        self.root, self.port = make_bbs()
        os.remove(os.path.join(self.root, "OSPRINE.CFG"))

    def tearDown(self):
        remove(self.root)

    def path(self, name):
        return os.path.join(self.root, name)

    def test_fresh_installation_start_and_orderly_stop(self):
        server = Server(self.root)
        self.assertTrue(wait_for(lambda: "Loaded" in server.log()), server.stop())
        code, out, err = server.stop()
        self.assertEqual(code, 0, err)

        with open(self.path("OSPRINE.CFG"), "rb") as f:
            cfg = f.read()
        self.assertEqual(len(cfg), 250)
        self.assertEqual(struct.unpack_from("<h", cfg, 0)[0], 25)       # new-file default port
        self.assertEqual(struct.unpack_from("<h", cfg, 210)[0], 1)      # SmtpClient
        with open(self.path("OSPRDATA.DAT"), "rb") as f:
            data = f.read()
        self.assertRegex(data, rb"^relaydb=[^;\r\n]+(;[^;\r\n]+){4}\r\n$")

        with open(self.path("ZRVDATA.DAT"), "rb") as f:
            version = f.read()
        self.assertEqual(len(version), 96)
        self.assertEqual(version[36:51], b"1.4.060711     ")

        log = server.log()
        header = "OSPRINE Event Log\r\n" + "-" * 79 + "\r\nDate           Time     Socket  Description\r\n" + \
            "-" * 79 + "\r\n"
        self.assertTrue(log.startswith(header))
        lines = log[len(header):].split("\r\n")
        self.assertEqual(lines[-1], "")
        texts = [LOG_LINE.match(line).group(3) for line in lines[:-1]]
        self.assertEqual(texts[0], "--- OSPRINE v1.4.060711 Loaded")
        self.assertEqual(texts[-1], "--- OSPRINE Unloaded")

    def test_files_left_unfinished_by_an_ended_server_are_removed_at_start(self):
        ended = subprocess.Popen(["true"])
        ended.wait()
        spool_tmp = self.path(os.path.join("SPOOL", "TMP"))
        unfinished = os.path.join(spool_tmp, "osprine-%d-12.tmp" % ended.pid)
        alive = os.path.join(spool_tmp, "osprine-%d-13.tmp" % os.getpid())   # a writer that still runs
        for name in (unfinished, alive):
            with open(name, "wb") as f:
                f.write(b"Return-Path: <half@a.message>\r\n")
        server = Server(self.root)
        self.assertTrue(wait_for(lambda: "Loaded" in server.log()), server.stop())
        code, _, err = server.stop()
        self.assertEqual(code, 0, err)
        self.assertFalse(os.path.exists(unfinished))
        self.assertTrue(os.path.exists(alive))
        self.assertIn("      0  Removed 1 unfinished file(s) from %s\r\n" % spool_tmp, server.log())

    def test_second_start_in_the_same_directory_names_the_running_copy_and_ends(self):
        first = Server(self.root)
        self.addCleanup(first.stop)
        self.assertTrue(wait_for(lambda: "Loaded" in first.log()))
        before = first.log()
        second = subprocess.run([os.path.join(BIN, "osprine")], cwd=self.root, capture_output=True, timeout=20,
                                env=dict(os.environ, OSPRINE_HEADLESS="1"))
        self.assertEqual(second.returncode, 0)
        self.assertEqual(second.stdout, b"OSPRINE is already running in %s (pid %d).\n" %
                         (self.root.encode(), first.proc.pid))
        self.assertEqual(first.log(), before)
        self.assertEqual(first.stop()[0], 0)

    def test_short_settings_file_is_upgraded(self):
        with open(self.path("OSPRINE.CFG"), "wb") as f:
            f.write(struct.pack("<h", self.port) + b"\x05\x00" + b"\x00" * 206)  # 210 bytes
        server = Server(self.root)
        self.assertTrue(wait_for(lambda: "Loaded" in server.log()))
        server.stop()
        with open(self.path("OSPRINE.CFG"), "rb") as f:
            cfg = f.read()
        self.assertEqual(len(cfg), 250)
        self.assertEqual(struct.unpack_from("<h", cfg, 0)[0], self.port)
        self.assertEqual(struct.unpack_from("<h", cfg, 2)[0], 5)
        self.assertEqual(struct.unpack_from("<h", cfg, 210)[0], 0)      # SmtpClient upgrade value
        self.assertEqual(struct.unpack_from("<h", cfg, 224)[0], 110)    # Pop3Port
        self.assertEqual(struct.unpack_from("<i", cfg, 242)[0], 2097152)

    def test_window_record_follows_save_window_pos_without_a_window(self):
        record = struct.pack("<iihh", 1200, -300, 1, 1)
        with open(self.path("OSPRINE.DAT"), "wb") as f:
            f.write(record)
        server = Server(self.root)            # SaveWindowPos is 0 in a new settings file
        self.assertTrue(wait_for(lambda: "Loaded" in server.log()))
        self.assertTrue(wait_for(lambda: not os.path.exists(self.path("OSPRINE.DAT"))))
        self.assertEqual(server.stop()[0], 0)

        with open(self.path("OSPRINE.CFG"), "r+b") as f:
            f.seek(214)                         # SaveWindowPos
            f.write(struct.pack("<h", 1))
        with open(self.path("OSPRINE.DAT"), "wb") as f:
            f.write(record)
        server = Server(self.root)
        self.assertTrue(wait_for(lambda: server.log().count("Loaded") == 2))
        self.assertEqual(server.stop()[0], 0)
        with open(self.path("OSPRINE.DAT"), "rb") as f:
            self.assertEqual(f.read(), record)    # kept as it was read: there is no window to move

        # A missing record is created with the defaults, as the window does ...
        os.remove(self.path("OSPRINE.DAT"))
        server = Server(self.root)
        self.assertTrue(wait_for(lambda: server.log().count("Loaded") == 3))
        self.assertEqual(server.stop()[0], 0)
        with open(self.path("OSPRINE.DAT"), "rb") as f:
            self.assertEqual(f.read(), struct.pack("<iihh", 0, 0, 0, 0))
        # ... and "/RESETWINDOW" turns SaveWindowPos off, which removes it.
        server = Server(self.root, args=["/RESETWINDOW"])
        self.assertTrue(wait_for(lambda: server.log().count("Loaded") == 4))
        self.assertEqual(server.stop()[0], 0)
        with open(self.path("OSPRINE.CFG"), "rb") as f:
            self.assertEqual(struct.unpack_from("<h", f.read(), 214)[0], 0)
        self.assertFalse(os.path.exists(self.path("OSPRINE.DAT")))

    def run_broken(self, cwd):
        return subprocess.run([os.path.join(BIN, "osprine")], cwd=cwd, capture_output=True, timeout=20,
                              env=dict(os.environ, OSPRINE_HEADLESS="1"))

    def test_broken_installations_are_refused_with_status_1(self):
        empty = os.path.join(self.root, "elsewhere")
        os.mkdir(empty)
        result = self.run_broken(empty)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode().strip(), "OSPRINE - Error: Cannot find SYSPATHS.CFG! "
                         "Make sure OSPRINE.EXE is in your ZARV main directory.")

        os.remove(self.path("MAIN.CFG"))
        result = self.run_broken(self.root)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode().strip(), "OSPRINE - Error: Cannot find " + self.root +
                         "/MAIN.CFG! Check your path settings in ZConfig.")

    def test_missing_internet_network_is_refused(self):
        data_dir = [d for d in os.listdir(self.root) if os.path.isfile(os.path.join(self.root, d, "NET.9"))]
        self.assertTrue(data_dir)
        os.remove(os.path.join(self.root, data_dir[0], "NET.9"))
        result = self.run_broken(self.root)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode(), "OSPRINE - Error: Internet (Net 9) has not been configured. "
                         "Exiting Program.\r\nIn ZConfig goto Network Configuration and install the Internet "
                         "network.\n")


if __name__ == "__main__":
    unittest.main()
