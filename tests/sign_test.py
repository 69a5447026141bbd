#!/usr/bin/env python3
"""Signing the Windows package (packaging/windows/sign.cmake): with a
certificate made here and thrown away after the test, every program of the
package and the installer carry an Authenticode signature that
`osslsigncode verify` accepts; without a certificate nothing is signed and
the run says so; a wrong password or an unreachable time-stamping server
fails the run and leaves the file as it was.

The end-to-end case runs cpack on the Windows build into a scratch folder,
so the packages that scripts/package made stay unsigned.

Usage: sign_test.py --build build/windows [unittest options]
"""
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

import ostrivane_harness as harness

HERE = os.path.dirname(os.path.abspath(__file__))
SIGN = os.path.join(HERE, "..", "packaging", "windows", "sign.cmake")
BUILD = None
SUBJECT = "Ostrivane throw-away test certificate"
PASSWORD = "test-only password"


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def run(*cmd, env=None, cwd=None):
    return subprocess.run(cmd, capture_output=True, text=True, env=env, cwd=cwd, check=False)


class SignTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="ostrivane-sign-test-")
        cls.cert = os.path.join(cls.folder, "cert.pem")
        key = os.path.join(cls.folder, "key.pem")
        cls.pkcs12 = os.path.join(cls.folder, "cert.p12")
        for cmd in (
                ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                 "-out", cls.cert, "-days", "2", "-subj", "/CN=" + SUBJECT,
                 "-addext", "extendedKeyUsage=codeSigning"],
                ["openssl", "pkcs12", "-export", "-inkey", key, "-in", cls.cert,
                 "-out", cls.pkcs12, "-passout", "pass:" + PASSWORD]):
            done = run(*cmd)
            assert done.returncode == 0, done.stderr
        cls.programs = sorted(glob.glob(os.path.join(BUILD, "app", "Ostrivane.exe")) +
                              glob.glob(os.path.join(BUILD, "tools", "lvx-*.exe")))
        assert len(cls.programs) >= 3, cls.programs

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def env(self, **values):
        env = {k: v for k, v in os.environ.items() if not k.startswith("OSTRIVANE_SIGN_")}
        env.update(values)
        return env

    def signing_env(self, **more):
        return self.env(OSTRIVANE_SIGN_PKCS12=self.pkcs12, OSTRIVANE_SIGN_PASSWORD=PASSWORD,
                        **more)

    def copies(self):
        """The built programs, copied into a folder of their own (one in a
        subfolder), and their digests."""
        folder = tempfile.mkdtemp(dir=self.folder)
        os.makedirs(os.path.join(folder, "sub"))
        paths = []
        for i, program in enumerate(self.programs):
            target = os.path.join(folder, "sub" if i == 0 else "", os.path.basename(program))
            shutil.copy(program, target)
            paths.append(target)
        return folder, {p: digest(p) for p in paths}

    def sign(self, paths, env):
        return run("cmake", "-DSIGN_PATHS=" + ";".join(paths), "-P", SIGN, env=env)

    def assert_signed(self, path):
        done = run("osslsigncode", "verify", "-CAfile", self.cert, "-in", path)
        self.assertEqual(done.returncode, 0, path + ":\n" + done.stdout + done.stderr)
        self.assertIn("Signature verification: ok", done.stdout)
        self.assertIn(SUBJECT, done.stdout)

    def assert_unsigned(self, path):
        done = run("osslsigncode", "verify", "-CAfile", self.cert, "-in", path)
        self.assertNotEqual(done.returncode, 0, path + " is signed:\n" + done.stdout)

    def test_every_program_below_the_folder_is_signed(self):
        folder, before = self.copies()
        done = self.sign([folder], self.signing_env())
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        for path, old in before.items():
            with self.subTest(path=os.path.relpath(path, folder)):
                self.assertNotEqual(digest(path), old)
                self.assert_signed(path)
                self.assertIn("Signed " + os.path.basename(path), done.stdout)
        self.assertEqual(glob.glob(os.path.join(folder, "**", "*.signed"), recursive=True), [])

    def test_without_a_certificate_nothing_is_signed_and_the_run_says_so(self):
        folder, before = self.copies()
        done = self.sign([folder], self.env())
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("Not signing %d file(s): OSTRIVANE_SIGN_PKCS12 is not set" % len(before),
                      done.stdout)
        for path, old in before.items():
            self.assertEqual(digest(path), old, path)

    def test_failures_stop_the_run_and_leave_the_file_as_it_was(self):
        cases = {
            "wrong password": self.env(OSTRIVANE_SIGN_PKCS12=self.pkcs12,
                                       OSTRIVANE_SIGN_PASSWORD="not the password"),
            "no such certificate": self.env(OSTRIVANE_SIGN_PKCS12=self.pkcs12 + ".missing"),
            # Nothing listens on port 1 of the loopback address: the
            # signature cannot be time-stamped, and none is written.
            "unreachable time-stamping server": self.signing_env(
                OSTRIVANE_SIGN_TIMESTAMP_URL="http://127.0.0.1:1/"),
        }
        for name, env in cases.items():
            with self.subTest(name):
                folder, before = self.copies()
                path = next(iter(before))
                done = self.sign([path], env)
                self.assertNotEqual(done.returncode, 0, done.stdout + done.stderr)
                self.assertEqual(digest(path), before[path])
                self.assertEqual(os.listdir(os.path.dirname(path)), [os.path.basename(path)])

    def test_cpack_signs_the_packed_programs_and_the_installer(self):
        out = os.path.join(self.folder, "packages")
        done = run("cpack", "-G", "NSIS;ZIP", "-B", out, env=self.signing_env(), cwd=BUILD)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        installers = glob.glob(os.path.join(out, "*-setup.exe"))
        archives = glob.glob(os.path.join(out, "*-portable.zip"))
        self.assertEqual(len(installers), 1, os.listdir(out))
        self.assertEqual(len(archives), 1, os.listdir(out))
        self.assert_signed(installers[0])
        unpacked = os.path.join(self.folder, "unpacked")
        with zipfile.ZipFile(archives[0]) as z:
            z.extractall(unpacked)
        packed = glob.glob(os.path.join(unpacked, "**", "*.exe"), recursive=True)
        self.assertEqual(sorted(os.path.basename(p) for p in packed),
                         sorted(os.path.basename(p) for p in self.programs))
        for path in packed:
            with self.subTest(os.path.basename(path)):
                self.assert_signed(path)
        # The build's own programs stay unsigned: only the staged copies are.
        for program in self.programs:
            self.assert_unsigned(program)


def main():
    global BUILD
    (BUILD,), argv = harness.test_arguments("--build")
    harness.require("sign_test.py", tools=("openssl", "osslsigncode", "cmake", "cpack"))
    return harness.run_tests(argv)


if __name__ == "__main__":
    sys.exit(main())
