"""The Windows program folder under Wine, the way the counting PC runs it, checked against
the Linux build of the same sources.

Most tests run without a display: no message box can be shown, so the Windows build writes
the box's text to standard error, which is where they read it. With --boxes, the tests run
on a virtual display and confirm the boxes the way a person would; with --window, a person
works the main window and the viewer with the keyboard; with --installer, lab IT installs
the program silently, a job runs from where it was installed, and it is uninstalled. Each
kind runs in a process and a prefix of its own: after a Wine program has used a display,
the headless runs of the same test process were seen to slow down to 20 s each.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
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
    """One program folder with its executable and settings files beside it: the Windows
    folder as it is copied to the counting PC, or the Linux executable alone."""

    def __init__(self, folder, source, windows):
        self.folder = folder
        self.windows = windows
        if windows:
            shutil.copytree(source, folder)
            self.exe = folder / "krvarchiver.exe"
        else:
            folder.mkdir(parents=True)
            self.exe = folder / Path(source).name
            shutil.copy2(source, self.exe)

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
        return Program(self.root / name, ARGS.folder, windows=True)

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

    def test_without_a_command_word_and_no_desktop_it_names_the_command_words(self):
        program = self.windows_program()
        status, err = program.run()
        self.assertEqual(status, 2)
        self.assertEqual(err, "krvarchiver: no display to show the window on; for unattended "
                              "work give a command word: APPEND, NET, GROSS, BKG or RESET\n")

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

    def test_krvtool_exports_imports_and_names_what_this_build_lacks(self):
        """krvtool.exe beside krvarchiver.exe: the same export bytes as the Linux build, a
        bulk import, an audit, and a reason wherever this build has no server, no Jet
        reader and no chart."""
        program = self.windows_program()
        data = self.data_folder(DATA_FOLDER)
        db = data / "RESULTS.MDB"
        program.set_paths(db, data / "RESULTS.TXT")
        self.assertEqual(program.run("NET")[0], 0)
        linux_tool = str(Path(ARGS.linux_exe).with_name("krvtool"))

        def tool(*args):
            done = subprocess.run(["wine", str(program.folder / "krvtool.exe"), *args], env=ENV,
                                  capture_output=True, timeout=120)
            return done.returncode, done.stderr.decode("utf-8", "replace").replace("\r\n", "\n")

        for form in ("csv", "xlsx", "lims2d"):
            with self.subTest(form=form):
                out = data / f"out.{form}"
                status, err = tool("export", "--format", form, "--output", windows_path(out),
                                   windows_path(db))
                self.assertEqual(status, 0, err)
                mine = data / f"linux.{form}"
                subprocess.run([linux_tool, "export", "--format", form, "--output", str(mine),
                                str(db)], check=True, timeout=120, capture_output=True)
                if form == "xlsx":
                    import openpyxl
                    self.assertEqual(
                        [list(r) for r in openpyxl.load_workbook(out).active.values],
                        [list(r) for r in openpyxl.load_workbook(mine).active.values])
                else:
                    self.assertEqual(out.read_bytes(), mine.read_bytes())

        # The spreadsheet library opens files by narrow names: a name outside the code page
        # is refused before anything is written.
        status, err = tool("export", "--format", "xlsx", "--output",
                           windows_path(data / "Ωμέγα.xlsx"), windows_path(db))
        self.assertEqual(status, 1, err)
        self.assertIn("outside the system's code page", err)
        self.assertEqual([p.name for p in data.iterdir() if "Ω" in p.name or p.name[0] == "."], [])

        reports = data / "reports"
        reports.mkdir()
        for i in range(3):
            shutil.copy2(data / "RESULTS.TXT", reports / f"R{i}.TXT")
            with open(reports / f"R{i}.TXT", "a", encoding="latin-1") as f:
                f.write(f"\n{i}\n")  # three reports of distinct content
        imported = data / "IMPORTED.MDB"
        status, err = tool("import-reports", "--mode", "net", windows_path(imported),
                           windows_path(reports))
        self.assertEqual(status, 0, err)
        self.assertEqual(sqlite(imported, "SELECT count(*) AS n FROM SamData"), "n\n3\n")
        self.assertEqual(tool("import-reports", "--mode", "net", windows_path(imported),
                              windows_path(reports))[0], 0)
        self.assertEqual(sqlite(imported, "SELECT count(*) AS n FROM SamData"), "n\n3\n")
        self.assertEqual(tool("audit", windows_path(db))[0], 0)

        for args, reason in (
                (["export", "postgresql://localhost/lab"], "Linux build"),
                (["import-legacy", windows_path(db), windows_path(data / "OLD.MDB")],
                 "Linux build"),
                (["qc", "--column", "K-40@NET1", "--match", "*", "--png",
                  windows_path(data / "chart.png"), windows_path(imported)], "Linux build")):
            with self.subTest(command=args[0]):
                status, err = tool(*args)
                self.assertNotIn(status, (0, 2), err)
                self.assertIn(reason, err)
                self.assertEqual(err.count("\n"), 1, err)
        self.assertFalse((data / "OLD.MDB").exists() or (data / "chart.png").exists())


class MessageBoxes(unittest.TestCase):
    """On a display (Xvfb), with a prefix of its own that no headless test has used."""

    def setUp(self):
        self.root = Path(tempfile.mkdtemp(prefix="krvw", dir="/tmp"))
        self.addCleanup(shutil.rmtree, self.root, True)

    def test_messages_wait_in_message_boxes_until_confirmed(self):
        program = Program(self.root / PROGRAM_FOLDER, ARGS.folder, windows=True)
        (program.folder / SETTINGS).write_bytes(settings_record("Q:\\R.MDB", "Q:\\R.TXT"))
        try:
            # Made without a display, so that making it shows nothing and waits for nobody.
            subprocess.run(["wine", "wineboot", "--init"], env=ENV, capture_output=True,
                           check=True, timeout=300)
            for words, status, boxes in ((["NET"], 1, 2),):
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


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=120).stdout


def keys(*names):
    xdotool("key", "--delay", "150", *names)
    time.sleep(1.5)


class MainWindow(unittest.TestCase):
    """A person at the main window on a display (the test runs under xvfb-run)."""

    CAPTION = "KDP Korvane Archiver 020514"
    VIEWER = "Edit Results.MDB"

    def setUp(self):
        self.root = Path(tempfile.mkdtemp(prefix="krvw", dir="/tmp"))
        self.addCleanup(shutil.rmtree, self.root, True)

    def work_the_window(self, program, shot):
        """Read, Append and Edit Results DataBase by the keyboard, as the focus moves from
        the mode buttons through the two paths to the buttons. Returns the captions of the
        windows then shown; a picture of them goes to `shot`."""
        command = (["wine", str(program.exe)] if program.windows else [str(program.exe)])
        started = subprocess.Popen(command, env=ENV, cwd=program.folder,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            found = xdotool("search", "--sync", "--onlyvisible", "--name", f"^{self.CAPTION}$")
            window = found.split()[0]
            time.sleep(2)
            xdotool("windowactivate", "--sync", window)
            xdotool("windowfocus", "--sync", window)
            time.sleep(1)
            keys("Tab", "Tab", "Tab", "space")  # Read Krv Results Text file
            keys("Tab", "space")                # Append Results Database
            keys("Tab", "Tab", "space")         # Edit Results DataBase
            xdotool("search", "--sync", "--onlyvisible", "--name", f"^{self.VIEWER}$")
            time.sleep(2)
            subprocess.run(["import", "-window", "root", str(shot)], check=True, timeout=60)
            return {xdotool("getwindowname", w).strip()
                    for w in xdotool("search", "--onlyvisible", "--name", ".").split()}
        finally:
            started.kill()
            started.communicate(timeout=60)

    def test_read_append_and_the_viewer_store_what_the_linux_build_stores(self):
        dumps = {}
        for windows in (True, False):
            name = ("win-" if windows else "linux-")
            program = Program(self.root / (name + PROGRAM_FOLDER),
                              ARGS.folder if windows else ARGS.linux_exe, windows)
            data = self.root / (name + DATA_FOLDER)
            data.mkdir()
            shutil.copy2(Path(ARGS.samples) / "RESULTS.TXT", data / "RESULTS.TXT")
            db = data / "RESULTS.MDB"
            program.set_paths(db, data / "RESULTS.TXT")
            names = self.work_the_window(program, Path(ARGS.shots) / f"{name}window.png")
            self.assertIn(self.CAPTION, names, name)
            self.assertIn(self.VIEWER, names, name)
            dumps[name] = (sqlite(db, "PRAGMA table_info(SamData)"),
                           sqlite(db, "SELECT * FROM SamData ORDER BY rowid"))
        self.assertEqual(dumps["win-"], dumps["linux-"])
        rows = dumps["win-"][1].splitlines()
        self.assertEqual(len(rows), 2, rows)  # header and the record
        self.assertIn("SOIL CORE B-17", rows[1])


def wine_folder(windows_path):
    """Where Wine keeps a folder of its C: drive."""
    return Path(ARGS.wineprefix) / "drive_c" / windows_path


class Installer(unittest.TestCase):
    """Lab IT's silent install, a job script's run from the installed folder, the uninstall."""

    def wait_for(self, condition, what):
        for _ in range(300):
            if condition():
                return
            time.sleep(0.2)
        self.fail(what)

    def test_silent_install_a_job_from_program_files_and_a_clean_uninstall(self):
        installed = wine_folder("Program Files/KrvArchiver")
        user = subprocess.run(["wine", "cmd", "/c", "echo %USERNAME%"], env=ENV,
                              capture_output=True, text=True, timeout=120).stdout.strip()
        settings_folder = wine_folder(f"users/{user}/AppData/Roaming/KrvArchiver")
        menu = wine_folder("ProgramData/Microsoft/Windows/Start Menu/Programs/KrvArchiver")
        done = subprocess.run(["wine", ARGS.installer, "/S"], env=ENV, capture_output=True,
                              timeout=300)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.wait_for(lambda: (installed / "Uninstall.exe").exists(), "nothing was installed")
        self.assertTrue((installed / "krvarchiver.exe").exists())
        self.assertTrue((installed / "platforms" / "qwindows.dll").exists())
        self.assertTrue((menu / "KrvArchiver.lnk").exists())

        # Installed, it keeps its settings in the user's %APPDATA%, never in Program Files.
        data = wine_folder("Lab data")
        data.mkdir(parents=True, exist_ok=True)
        shutil.copy2(Path(ARGS.samples) / "RESULTS.TXT", data / "RESULTS.TXT")
        settings_folder.mkdir(parents=True, exist_ok=True)
        (settings_folder / SETTINGS).write_bytes(settings_record(
            "C:\\Lab data\\RESULTS.MDB", "C:\\Lab data\\RESULTS.TXT"))
        job = subprocess.run(["wine", "C:\\Program Files\\KrvArchiver\\krvarchiver.exe", "NET"],
                             env=ENV, capture_output=True, timeout=120)
        self.assertEqual(job.returncode, 0, job.stderr)
        self.assertIn("K-40@NET1", sqlite(data / "RESULTS.MDB", "PRAGMA table_info(SamData)"))
        self.assertFalse((installed / SETTINGS).exists())
        # A database a user left in the program folder is theirs.
        (installed / "KEEP.MDB").write_bytes((data / "RESULTS.MDB").read_bytes())

        done = subprocess.run(["wine", str(installed / "Uninstall.exe"), "/S"], env=ENV,
                              capture_output=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.wait_for(lambda: not (installed / "krvarchiver.exe").exists(), "not uninstalled")
        self.wait_for(lambda: not (menu / "KrvArchiver.lnk").exists(), "the menu entry stayed")
        self.assertEqual(sorted(p.name for p in installed.iterdir()), ["KEEP.MDB"])
        self.assertTrue((settings_folder / SETTINGS).exists())
        self.assertTrue((data / "RESULTS.MDB").exists())


def main():
    global ARGS, ENV
    parser = argparse.ArgumentParser()
    parser.add_argument("--boxes", action="store_true", help="run the message-box tests")
    parser.add_argument("--window", action="store_true", help="run the main-window test")
    parser.add_argument("--installer", help="run the installer test with this installer")
    parser.add_argument("--shots", default=tempfile.gettempdir(),
                        help="folder for the main-window test's pictures")
    for option in ("--folder", "--holder", "--linux-exe", "--samples", "--wineprefix"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    for tool in ("wine", "sqlite3", "xvfb-run", "xdotool", "import"):
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
    if ARGS.window or ARGS.installer:
        if ARGS.window and not os.environ.get("DISPLAY"):
            sys.exit("jobs_under_wine: --window needs a display (run it under xvfb-run)")
        if ARGS.window:
            ENV["DISPLAY"] = os.environ["DISPLAY"]
        del ENV["QT_QPA_PLATFORM"]
        os.makedirs(ARGS.wineprefix, exist_ok=True)
        subprocess.run(["wine", "wineboot", "--init"], env=ENV, capture_output=True,
                       check=True, timeout=300)
        suite = "MainWindow" if ARGS.window else "Installer"
        try:
            result = unittest.main(argv=[sys.argv[0], suite] + rest, verbosity=2,
                                   exit=False).result
        finally:
            subprocess.run(["wineserver", "--kill"], env=ENV, capture_output=True, timeout=60)
        sys.exit(0 if result.wasSuccessful() else 1)
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
