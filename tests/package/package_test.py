#!/usr/bin/python3
"""The Debian package: built by scripts/package.sh, extracted with dpkg-deb -x and checked file by file, run from
the extracted tree, its desktop, AppStream and man files validated, its control fields read back."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

if os.environ.get("QTELNET_PACKAGE_TEST") != "1":
    print("package_deb: skipped (set QTELNET_PACKAGE_TEST=1 to build and check the .deb)")
    sys.exit(77)

SOURCE = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../.."))
del sys.argv[1:]

EXPECTED_FILES = {
    "usr/bin/qtelnet",
    "usr/bin/vtsession",
    "usr/share/applications/qtelnet.desktop",
    "usr/share/icons/hicolor/scalable/apps/qtelnet.svg",
    "usr/share/metainfo/com.quillsoft.qtelnet.metainfo.xml",
    "usr/share/man/man1/qtelnet.1",
    "usr/share/man/man1/vtsession.1",
    "usr/share/qtelnet/help/qtelnet.html",
    "usr/share/qtelnet/keys.map",
    "usr/share/qtelnet/pctonet.map",
    "usr/share/qtelnet/nettopc.map",
    "usr/share/doc/qtelnet/copyright",
}

deb = None
root = None


def setUpModule():
    global deb, root
    out = subprocess.run([os.path.join(SOURCE, "scripts/package.sh")], cwd=SOURCE, capture_output=True, text=True,
                         timeout=7000)
    if out.returncode != 0:
        raise RuntimeError("package.sh failed:\n" + out.stdout[-4000:] + out.stderr[-4000:])
    deb = out.stdout.strip().splitlines()[-1]
    if not deb.endswith(".deb") or not os.path.isfile(deb):
        raise RuntimeError("package.sh did not end with the path of a .deb: %r" % deb)
    root = tempfile.mkdtemp(prefix="qtelnet-deb-")
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)


def tearDownModule():
    if root:
        shutil.rmtree(root, ignore_errors=True)


def field(name):
    return subprocess.run(["dpkg-deb", "-f", deb, name], capture_output=True, text=True, check=True).stdout.strip()


def run_extracted(program, *args):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=root)
    libdirs = [os.path.join(root, d) for d in ("usr/lib", "usr/lib/" + multiarch()) if os.path.isdir(os.path.join(root, d))]
    if libdirs:
        env["LD_LIBRARY_PATH"] = ":".join(libdirs + [env.get("LD_LIBRARY_PATH", "")])
    return subprocess.run([os.path.join(root, "usr/bin", program), *args], capture_output=True, text=True, env=env,
                          timeout=60)


def multiarch():
    return subprocess.run(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"], capture_output=True, text=True).stdout.strip()


def read(rel):
    with open(os.path.join(root, rel), encoding="utf-8") as f:
        return f.read()


def man_text(rel):
    # Rendered, so that troff escapes (\-) compare as the characters the reader sees.
    env = dict(os.environ, MANWIDTH="200", MAN_KEEP_FORMATTING="0", LC_ALL="C.UTF-8")
    out = subprocess.run(["man", "--warnings", "-l", os.path.join(root, rel)], capture_output=True, text=True,
                         env=env)
    return out.returncode, re.sub(r".\x08", "", out.stdout).replace("\u2010", "-").replace("\u2212", "-"), out.stderr


class Contents(unittest.TestCase):
    def test_exactly_the_shipped_files_under_usr(self):
        found = set()
        for d, _, files in os.walk(root):
            for f in files:
                found.add(os.path.relpath(os.path.join(d, f), root))
        self.assertEqual(found, EXPECTED_FILES)

    def test_programs_are_executable_stripped_and_without_a_run_path(self):
        for p in ("usr/bin/qtelnet", "usr/bin/vtsession"):
            path = os.path.join(root, p)
            self.assertTrue(os.access(path, os.X_OK), p)
            dyn = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout
            self.assertIn("(NEEDED)", dyn, p)
            self.assertNotRegex(dyn, r"R(UN)?PATH", p)
            sections = subprocess.run(["readelf", "-S", "-W", path], capture_output=True, text=True, check=True).stdout
            self.assertNotIn(".debug_info", sections, p)
            self.assertNotIn(".symtab", sections, p)

    def test_shipped_data_equals_the_tree(self):
        pairs = {
            "usr/share/qtelnet/help/qtelnet.html": "dist/help/qtelnet.html",
            "usr/share/qtelnet/keys.map": "dist/keys.map",
            "usr/share/qtelnet/pctonet.map": "dist/pctonet.map",
            "usr/share/qtelnet/nettopc.map": "dist/nettopc.map",
            "usr/share/applications/qtelnet.desktop": "dist/linux/qtelnet.desktop",
        }
        for shipped, source in pairs.items():
            with open(os.path.join(root, shipped), "rb") as a, open(os.path.join(SOURCE, source), "rb") as b:
                self.assertEqual(a.read(), b.read(), shipped)


class Programs(unittest.TestCase):
    def test_client_help_runs_from_the_extracted_tree_and_the_man_page_covers_every_switch(self):
        out = run_extracted("qtelnet", "--help")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertTrue(out.stdout.startswith("Usage: qtelnet"), out.stdout)
        switches = set(re.findall(r"^\s+(/[A-Z])\b", out.stdout, re.M))
        switches |= set(re.findall(r"\[(-[a-z]+)", out.stdout)) | {"ssh://", "telnet://"}
        self.assertGreaterEqual(len(switches), 12)
        _, man, _ = man_text("usr/share/man/man1/qtelnet.1")
        for s in sorted(switches):
            self.assertIn(s, man, "qtelnet.1 does not mention " + s)

    def test_vtsession_usage_runs_and_the_man_page_covers_every_option(self):
        out = run_extracted("vtsession", "--help")
        self.assertEqual(out.returncode, 2)
        self.assertTrue(out.stderr.startswith("usage: vtsession"), out.stderr)
        options = set(re.findall(r"--[a-z][a-z-]*", out.stderr)) - {"--help"}
        self.assertGreaterEqual(len(options), 14)
        _, man, _ = man_text("usr/share/man/man1/vtsession.1")
        for o in sorted(options):
            self.assertIn(o, man, "vtsession.1 does not mention " + o)
        self.assertIn("VTSESSION_PASSPHRASE", man)


class DesktopFiles(unittest.TestCase):
    def entry(self):
        values = {}
        for line in read("usr/share/applications/qtelnet.desktop").splitlines():
            if "=" in line and not line.startswith("#"):
                k, v = line.split("=", 1)
                values[k.strip()] = v.strip()
        return values

    def test_desktop_entry_names_the_installed_program_icon_and_url_schemes(self):
        e = self.entry()
        self.assertEqual(e["Exec"].split()[0], "qtelnet")
        self.assertTrue(os.path.isfile(os.path.join(root, "usr/bin", e["Exec"].split()[0])))
        self.assertIn("%u", e["Exec"].split())
        self.assertTrue(os.path.isfile(os.path.join(root, "usr/share/icons/hicolor/scalable/apps", e["Icon"] + ".svg")))
        self.assertEqual(set(filter(None, e["MimeType"].split(";"))),
                         {"x-scheme-handler/ssh", "x-scheme-handler/telnet"})

    def test_desktop_entry_validates(self):
        if not shutil.which("desktop-file-validate"):
            self.skipTest("desktop-file-validate is not installed (desktop-file-utils)")
        out = subprocess.run(["desktop-file-validate", os.path.join(root, "usr/share/applications/qtelnet.desktop")],
                             capture_output=True, text=True)
        self.assertEqual((out.returncode, out.stdout + out.stderr), (0, ""))

    def test_metainfo_validates_and_launches_the_desktop_entry(self):
        rel = "usr/share/metainfo/com.quillsoft.qtelnet.metainfo.xml"
        text = read(rel)
        self.assertIn("<id>com.quillsoft.qtelnet</id>", text)
        self.assertIn('<launchable type="desktop-id">qtelnet.desktop</launchable>', text)
        self.assertIn('<release version="%s"' % project_version(), text)
        if not shutil.which("appstreamcli"):
            self.skipTest("appstreamcli is not installed (appstream)")
        out = subprocess.run(["appstreamcli", "validate", "--no-net", "--pedantic", os.path.join(root, rel)],
                             capture_output=True, text=True)
        self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
        self.assertNotRegex(out.stdout, r"(?m)^[EWI]: ", out.stdout)

    def test_man_pages_format_without_warnings(self):
        if not shutil.which("man"):
            self.skipTest("man is not installed (man-db)")
        for page, title in (("qtelnet.1", "QTELNET(1)"), ("vtsession.1", "VTSESSION(1)")):
            rc, text, err = man_text("usr/share/man/man1/" + page)
            self.assertEqual((rc, err), (0, ""), page)
            self.assertTrue(text.lstrip().startswith(title), page)


def project_version():
    with open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(\s*qtelnet\s+VERSION\s+([0-9.]+)", f.read()).group(1)


class Control(unittest.TestCase):
    def test_fields(self):
        self.assertEqual(field("Package"), "qtelnet")
        self.assertEqual(field("Version"), project_version())
        self.assertEqual(field("Section"), "net")
        arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True).stdout.strip()
        self.assertEqual(field("Architecture"), arch)
        self.assertRegex(field("Maintainer"), r"^[^<>]+ <[^@\s]+@[^>\s]+>$")
        description = field("Description").splitlines()
        self.assertEqual(description[0], "Telnet and SSH terminal client")
        self.assertGreater(len(description), 2)
        self.assertLessEqual(max(len(line) for line in description), 80)
        self.assertEqual(os.path.basename(deb), "qtelnet_%s_%s.deb" % (project_version(), arch))

    def test_depends_names_only_known_debian_packages_and_the_libraries_linked(self):
        depends = field("Depends")
        names = []
        for group in depends.split(","):
            for alt in group.split("|"):
                m = re.fullmatch(r"\s*([a-z0-9][a-z0-9+.-]+)(?::any)?(?:\s*\((?:>=|<<|>>|<=|=)\s*[^)\s]+\))?\s*", alt)
                self.assertIsNotNone(m, "not a package relation: %r in %r" % (alt, depends))
                names.append(m.group(1))
        for lib in ("libc6", "libqt6core6", "libqt6widgets6", "libqt6network6"):
            self.assertIn(lib, names, depends)
        for n in names:
            known = subprocess.run(["apt-cache", "show", "--no-all-versions", n], capture_output=True).returncode == 0
            known = known or subprocess.run(["dpkg-query", "-W", n], capture_output=True).returncode == 0
            self.assertTrue(known, n + " is not a Debian package apt or dpkg knows")


if __name__ == "__main__":
    unittest.main(verbosity=2)
