"""krvarchiver.exe's unattended jobs under Wine, the way the counting PC's job script runs
them, checked against the Linux build of the same sources.

Most tests run without a display: no message box can be shown, so the Windows build writes
the box's text to standard error, which is where they read it. With --boxes, the tests run
on a virtual display and confirm the boxes the way a person would. The two kinds run in
separate processes with separate prefixes: after a Wine program has used a display, the
headless runs of the same test process were seen to slow down to 20 s each.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ARGS = None
CONFIRM_BOXES = Path(__file__).with_name("confirm_boxes.sh")
SETTINGS = "ARC&FILE.DAT"
WIDTHS = "ArcSiz&FILE.DAT"
# Outside the ANSI code page: only the wide-character file API finds the settings files
# beside an executable in this folder.
PROGRAM_FOLDER = "Zählraum Ωμέγα"
# Inside it (the settings file stores paths in that code page), with a blank for good measure.
DATA_FOLDER = "Prüfung ä"


def windows_path(p):
    return "Z:" + str(p).replace("/", "\\")


def settings_record(db_path, report_path):
    return db_path.encode("cp1252").ljust(72, b" ") + report_path.encode("cp1252").ljust(72, b" ")


def sqlite(db, sql):
    return subprocess.run(["sqlite3", "-readonly", "-header", str(db), sql], check=True,
                          capture_output=True, text=True).stdout


class Program:
    """One program folder with its executable and settings files beside it."""

    def __init__(self, folder, exe, windows):
        self.folder = folder
        self.windows = windows
        folder.mkdir(parents=True)
        self.exe = folder / Path(exe).name
        shutil.copy2(exe, self.exe)

    def path(self, p):
        return windows_path(p) if self.windows else str(p)

    def set_paths(self, db, report):
        (self.folder / SETTINGS).write_bytes(settings_record(self.path(db), self.path(report)))

    def run(self, *words):
        command = (["wine", str(self.exe)] if self.windows else [str(self.exe)]) + list(words)
        done = subprocess.run(command, env=ENV, capture_output=True, timeout=120)
        # Standard error is a text stream: Windows ends its lines with CR LF.
        return done.returncode, done.stderr.decode("utf-8", "replace").replace("\r\n", "\n")


def held_by_another_program(path):
    """Starts a Windows program that holds `path` open, shared with nobody."""
    holder = subprocess.Popen(["wine", ARGS.holder, windows_path(path)], env=ENV,
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    line = holder.stdout.readline()
    if line.strip() != b"held":
        holder.kill()
        raise AssertionError(f"could not hold {path} open")
    return holder


class WindowsJobs(unittest.TestCase):
    def setUp(self):
        self.root = Path(tempfile.mkdtemp(prefix="krvw", dir="/tmp"))
        self.addCleanup(shutil.rmtree, self.root, True)

    def windows_program(self, name=PROGRAM_FOLDER):
        return Program(self.root / name, ARGS.exe, windows=True)

    def data_folder(self, name):
        folder = self.root / name
        folder.mkdir()
        shutil.copy2(Path(ARGS.samples) / "RESULTS.TXT", folder / "RESULTS.TXT")
        return folder

    def test_reset_net_net_gross_give_what_the_linux_build_gives(self):
        widths = b" 1440\r\n-1\r\n 0\r\n" * 3
        dumps = {}
        for windows in (True, False):
            name = ("win-" if windows else "linux-")
            program = (self.windows_program(name + PROGRAM_FOLDER) if windows else
                       Program(self.root / (name + PROGRAM_FOLDER), ARGS.linux_exe, False))
            data = self.data_folder(name + DATA_FOLDER)
            program.set_paths(data / "RESULTS.MDB", data / "RESULTS.TXT")
            (program.folder / WIDTHS).write_bytes(widths)
            settings = (program.folder / SETTINGS).read_bytes()
            for word in ("RESET", "NET", "NET", "GROSS"):
                self.assertEqual(program.run(word), (0, ""), f"{name} {word}")
                if word == "RESET":
                    self.assertEqual(sqlite(data / "RESULTS.MDB", "SELECT count(*) AS n FROM SamData"),
                                     "n\n0\n")
            # Unattended runs never write the settings files.
            self.assertEqual((program.folder / SETTINGS).read_bytes(), settings, name)
            self.assertEqual((program.folder / WIDTHS).read_bytes(), widths, name)
            db = data / "RESULTS.MDB"
            dumps[name] = (sqlite(db, "SELECT sql FROM sqlite_schema ORDER BY name"),
                           sqlite(db, "PRAGMA table_info(SamData)"),
                           sqlite(db, "SELECT * FROM SamData ORDER BY rowid"))
        self.assertEqual(dumps["win-"], dumps["linux-"])
        rows = dumps["win-"][2].splitlines()
        self.assertEqual(len(rows), 4)  # header and three records
        self.assertIn("K-40@NET1", rows[0])
        self.assertIn("K-40@GROSS1", rows[0])
        self.assertTrue(rows[1].startswith("1|") and rows[3].startswith("3|"), rows)

    def test_first_start_takes_the_windows_default_paths_and_creates_empty_settings(self):
        program = self.windows_program()
        status, err = program.run("net")
        self.assertEqual(status, 1)
        lines = err.splitlines()
        self.assertEqual(lines[:2], [
            "KrvArchiver: Invalid path or file name [ "
            "C:\\Program Files\\TVX\\Korvane\\Temp\\RESULTS.TXT ] <Path not found>",
            "KrvArchiver: Invalid path or file name [ C:\\Program Files\\TVX\\Korvane\\RESULTS.MDB ]"
            " <Could not find file 'C:\\Program Files\\TVX\\Korvane\\RESULTS.MDB'.>"])
        # Nothing was saved: one line with the reason, naming the database.
        self.assertEqual(len(lines), 3, err)
        self.assertTrue(lines[2].startswith("krvarchiver: Invalid path or file name [ "
                                            "C:\\Program Files\\TVX\\Korvane\\RESULTS.MDB ]"), err)
        self.assertEqual((program.folder / SETTINGS).read_bytes(), b"")
        self.assertEqual((program.folder / WIDTHS).read_bytes(), b"")

    def test_without_a_command_word_it_says_the_windows_need_the_full_build(self):
        program = self.windows_program()
        status, err = program.run()
        self.assertEqual(status, 2)
        self.assertTrue(err.startswith("KrvArchiver: ") and "full build with Qt" in err, err)
        self.assertEqual(err.count("\n"), 1, err)

    def test_windows_faults_give_the_message_and_status_and_lose_nothing(self):
        program = self.windows_program()
        data = self.data_folder(DATA_FOLDER)
        db, report = data / "RESULTS.MDB", data / "RESULTS.TXT"
        program.set_paths(db, report)
        self.assertEqual(program.run("NET")[0], 0)
        stored = sqlite(db, "SELECT * FROM SamData ORDER BY rowid")

        def shown(path, why):
            return f"Invalid path or file name [ {path} ] <{why}>"

        good_db, good_report = windows_path(db), windows_path(report)
        bad_db = [("Q:\\RESULTS.MDB", "Could not find file 'Q:\\RESULTS.MDB'."),
                  ("\\\\nohost\\noshare\\R.MDB", "Could not find file '\\\\nohost\\noshare\\R.MDB'."),
                  (good_db[:-len("RESULTS.MDB")] + "a|b.MDB",
                   f"Could not find file '{good_db[:-len('RESULTS.MDB')]}a|b.MDB'.")]
        bad_report = [("Q:\\RESULTS.TXT", "Path not found"),
                      ("\\\\nohost\\noshare\\R.TXT", "Path not found"),
                      (good_report[:-len("RESULTS.TXT")] + "a<b>.TXT", "Bad file name")]
        for path, why in bad_db:
            with self.subTest(database=path):
                (program.folder / SETTINGS).write_bytes(settings_record(path, good_report))
                status, err = program.run("NET")
                self.assertEqual(status, 1)
                self.assertIn("KrvArchiver: " + shown(path, why) + "\n", err)
        for path, why in bad_report:
            with self.subTest(report=path):
                (program.folder / SETTINGS).write_bytes(settings_record(good_db, path))
                status, err = program.run("NET")
                # The append still runs after a failed read: a record saved without the
                # report's values (status 3); what was stored before stays.
                self.assertEqual(status, 3)
                self.assertIn("KrvArchiver: " + shown(path, why) + "\n", err)
                self.assertIn("krvarchiver: not stored: report: " + shown(path, why) + "\n", err)
                self.assertTrue(sqlite(db, "SELECT * FROM SamData ORDER BY rowid")
                                .startswith(stored))
        self.assertEqual(sorted(p.name for p in data.iterdir()), ["RESULTS.MDB", "RESULTS.TXT"])

        # Another program holding a file shares it with nobody (a sharing violation).
        program.set_paths(db, report)
        before = db.read_bytes()
        for held, path, why in ((db, good_db, "Couldn't update; currently locked by another user."),
                                (report, good_report, "Permission denied")):
            with self.subTest(held=path):
                holder = held_by_another_program(held)
                try:
                    status, err = program.run("NET")
                finally:
                    holder.communicate(timeout=60)
                self.assertEqual(status, 1 if held == db else 3)
                self.assertIn(shown(path, why), err)
                if held == db:
                    self.assertEqual(db.read_bytes(), before)

class MessageBoxes(unittest.TestCase):
    """On a display (Xvfb), with a prefix of its own that no headless test has used."""

    def setUp(self):
        self.root = Path(tempfile.mkdtemp(prefix="krvw", dir="/tmp"))
        self.addCleanup(shutil.rmtree, self.root, True)

    def test_messages_wait_in_message_boxes_until_confirmed(self):
        program = Program(self.root / PROGRAM_FOLDER, ARGS.exe, windows=True)
        (program.folder / SETTINGS).write_bytes(settings_record("Q:\\R.MDB", "Q:\\R.TXT"))
        try:
            # Made without a display, so that making it shows nothing and waits for nobody.
            subprocess.run(["wine", "wineboot", "--init"], env=ENV, capture_output=True,
                           check=True, timeout=300)
            for words, status, boxes in ((["NET"], 1, 2), ([], 2, 1)):
                with self.subTest(words=words):
                    # Now and then Wine cannot open a window on an X server that has just
                    # started: no box appears and the messages go to standard error, as they
                    # must without a display. That run says nothing of the program, so it is
                    # made once more; a box that appeared but did not wait fails at once.
                    for attempt in range(2):
                        done = subprocess.run(
                            ["xvfb-run", "-a", CONFIRM_BOXES, "wine", program.exe] + words,
                            env=ENV, capture_output=True, timeout=300)
                        if not done.stdout.decode().strip().startswith("boxes: 0 "):
                            break
                    err = done.stderr.decode("utf-8", "replace")
                    self.assertEqual(done.returncode, status, err)
                    # Each box held the job until it was confirmed ...
                    self.assertEqual(done.stdout.decode().strip(),
                                     f"boxes: {boxes} waited: {boxes}", err)
                    # ... and none of them fell back to standard error.
                    self.assertNotIn("KrvArchiver: ", err)
        finally:
            subprocess.run(["wineserver", "--kill"], env=ENV, capture_output=True, timeout=60)


def main():
    global ARGS, ENV
    parser = argparse.ArgumentParser()
    parser.add_argument("--boxes", action="store_true", help="run the message-box tests")
    for option in ("--exe", "--holder", "--linux-exe", "--samples", "--wineprefix"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    for tool in ("wine", "sqlite3", "xvfb-run", "xdotool"):
        if not shutil.which(tool):
            sys.exit(f"jobs_under_wine: {tool} is missing")
    if not os.access(ARGS.linux_exe, os.X_OK):
        sys.exit(f"jobs_under_wine: no Linux build at {ARGS.linux_exe} to compare with")
    ENV = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    # Wine reads Unix file names in the locale's encoding; the Linux build takes its
    # decimal separator from the same place, so both get the same one.
    # No .NET or HTML engine is needed, and their installers would ask on a display.
    ENV.update(WINEDLLOVERRIDES="mscoree,mshtml=", WINEDEBUG="-all", WINEARCH="win64",
               WINEPREFIX=ARGS.wineprefix, LC_ALL="C.UTF-8", QT_QPA_PLATFORM="offscreen")
    if ARGS.boxes:
        os.makedirs(ARGS.wineprefix, exist_ok=True)
        unittest.main(argv=[sys.argv[0], "MessageBoxes"] + rest, verbosity=2)
    # One server for the whole run: started afresh for each program, Wine takes seconds.
    # Wine's own background programs start with the first program after it and would hold
    # that program's output pipes open, so they are started here, with no pipes. The prefix
    # is this test's own (made here when missing), so ending its server stops nothing else.
    quiet = dict(env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL)
    os.makedirs(ARGS.wineprefix, exist_ok=True)
    subprocess.run(["wineserver", "--persistent"], check=True, timeout=60, **quiet)
    subprocess.run(["wine", "wineboot", "--init"], check=True, timeout=300, **quiet)
    try:
        result = unittest.main(argv=[sys.argv[0], "WindowsJobs"] + rest, verbosity=2,
                               exit=False).result
    finally:
        subprocess.run(["wineserver", "--kill"], timeout=60, **quiet)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
