"""The installed product: `cmake --install` lays out a folder that runs from
anywhere, also through a link on the PATH; the Debian package, unpacked into
a scratch root, runs for the folder's owner (files beside the program) and for
an ordinary user (files in the XDG state folder)."""

import glob
import gzip
import os
import shutil
import subprocess
import tempfile
import unittest

import zvcc_e2e
from zvcc_e2e import DEADLINE

BUILD = os.environ.get("ZV_BUILD_DIR")
CMAKE = os.environ.get("ZV_CMAKE", "cmake")
CPACK = os.environ.get("ZV_CPACK", "cpack")
NOBODY = 65534
NOTICE = "Settings and logs are kept in %s (the program folder cannot be written)."
PACKAGE_TIMEOUT = 240


def run(args, text="", **options):
    done = subprocess.run(args, input=text.encode(), stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=DEADLINE, **options)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def ini(folder):
    with open(os.path.join(folder, "Settings", "zvcc.ini"), "rb") as f:
        return f.read()


class PackageTest(unittest.TestCase):
    def setUp(self):
        if not BUILD:
            self.skipTest("ZV_BUILD_DIR is not set")
        self.scratch = tempfile.mkdtemp(prefix="zvcc-package-")
        # Others (the ordinary user below) must reach what lies inside.
        os.chmod(self.scratch, 0o755)
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("ZVCC_HOME", "XDG_STATE_HOME")}

    def tearDown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.scratch, *parts)

    def test_installed_folder_runs_through_a_link_on_the_path(self):
        prefix = self.path("prefix")
        subprocess.run([CMAKE, "--install", BUILD, "--prefix", prefix], check=True,
                       stdout=subprocess.DEVNULL, timeout=PACKAGE_TIMEOUT)
        for item in ("zvcc", "zvsim", "Help/chelp_main.txt", "Settings", "Logs", "docs",
                     "share/man/man1/zvcc.1"):
            self.assertTrue(os.path.exists(os.path.join(prefix, item)), item)
        self.assertFalse(os.path.exists(self.path("prefix", "usr")))
        bin_dir = self.path("bin")
        os.mkdir(bin_dir)
        os.symlink(os.path.join(prefix, "zvcc"), os.path.join(bin_dir, "zvcc"))
        env = dict(self.env, PATH=bin_dir + os.pathsep + self.env["PATH"])
        status, out = run(["zvcc"], "1,Hi\nhelp\nq\n", cwd=bin_dir, env=env)
        self.assertEqual(status, 3, out)  # the page was not sent: no link
        self.assertIn("Zorvane Console Client - Help", out)
        self.assertIn(b"LastMsgNo=1\r\n", ini(prefix))
        self.assertTrue(os.listdir(os.path.join(prefix, "Logs")))

    def test_debian_package_runs_for_its_owner_and_for_an_ordinary_user(self):
        if not shutil.which("dpkg-deb"):
            self.skipTest("dpkg-deb is missing: no Debian package can be built or unpacked")
        subprocess.run([CPACK, "--config", os.path.join(BUILD, "CPackConfig.cmake"),
                        "-B", self.path("out")], check=True, stdout=subprocess.DEVNULL,
                       timeout=PACKAGE_TIMEOUT)
        deb, = glob.glob(self.path("out", "zvcc_*.deb"))
        depends = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], check=True,
                                 capture_output=True, text=True).stdout
        for package in ("libc6", "libstdc++6", "libedit2", "libpugixml1v5"):
            self.assertIn(package, depends)
        root = self.path("root")
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        for program in ("zvcc", "zvsim"):
            self.assertEqual(os.readlink(os.path.join(root, "usr", "bin", program)),
                             "/opt/zvcc/" + program)
        with gzip.open(os.path.join(root, "usr/share/man/man1/zvcc.1.gz"), "rt") as f:
            self.assertTrue(f.read().startswith(".TH ZVCC 1"))
        folder = os.path.join(root, "opt", "zvcc")
        program = os.path.join(folder, "zvcc")
        status, out = run([program, "--version"], env=self.env)
        self.assertEqual((status, out.split()[0]), (0, "zvcc"))

        # The folder's owner keeps the files beside the program.
        status, out = run([program], "1,Hi\nq\n", env=self.env)
        self.assertEqual(status, 3, out)  # the page was not sent: no link
        self.assertNotIn("(the program folder cannot be written)", out)
        owners = ini(folder)
        self.assertIn(b"LastMsgNo=1\r\n", owners)

        # Anyone else keeps them in the XDG state folder, told once at start.
        home = self.path("home")
        os.mkdir(home)
        env = dict(self.env, HOME=home)
        if os.geteuid() == 0:
            if not shutil.which("setpriv"):
                self.skipTest("setpriv (util-linux) is missing: no run as an ordinary user")
            os.chown(home, NOBODY, NOBODY)
            as_user = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                       "--clear-groups", program]
        else:
            os.chmod(os.path.join(folder, "Settings"), 0o555)
            as_user = [program]
        state = os.path.join(home, ".local", "state", "zvcc")
        for number in (1, 2):
            status, out = run(as_user, "1,Hi\nstat\nq\n", env=env, cwd=home)
            self.assertEqual(status, 3, out)  # the page was not sent: no link
            self.assertEqual(out.count(NOTICE % state), 1, out)
            self.assertIn(b"LastMsgNo=%d\r\n" % number, ini(state))
        self.assertTrue(os.listdir(os.path.join(state, "Logs")))
        self.assertEqual(ini(folder), owners)


if __name__ == "__main__":
    zvcc_e2e.main()
