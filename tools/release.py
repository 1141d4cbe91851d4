#!/usr/bin/env python3
"""Release archives, byte for byte the same from the same commit.

    release.py windows ARCH BUILD STAGE ZIP   win32 or win64: strips the three
                                              programs of BUILD into STAGE and
                                              writes the zip
    release.py deb BUILD STAGE DEB            the vestrel-ntfs package from the
                                              program in BUILD, its tree in STAGE
    release.py sums FILE...                   SHA256SUMS beside the files

Every time stamp written is SOURCE_DATE_EPOCH: from the environment, else the
last commit's time, else a fixed date (a tree without git). Names are stored
in a fixed order with fixed permissions and no extra fields."""
import gzip
import hashlib
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import zipfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FALLBACK_EPOCH = 1767225600  # 2026-01-01 00:00:00 UTC

# The programs of the Windows release and where each is built.
WINDOWS_PROGRAMS = [("vestrel.exe", "app"), ("korvaneupdate.exe", "app"), ("vestrel-cli.exe", "cli")]
WINDOWS_TOOLS = {"win32": "i686-w64-mingw32", "win64": "x86_64-w64-mingw32"}


class Failure(Exception):
    pass


def source_date_epoch():
    value = os.environ.get("SOURCE_DATE_EPOCH", "")
    if value.isdigit():
        return int(value)
    try:
        out = subprocess.run(["git", "-C", TOP, "log", "-1", "--format=%ct"], capture_output=True, text=True,
                             check=True).stdout.strip()
        if out.isdigit():
            return int(out)
    except (OSError, subprocess.CalledProcessError):
        pass
    return FALLBACK_EPOCH


def project_version():
    """The version in the top CMakeLists.txt's project(), the one source."""
    with open(os.path.join(TOP, "CMakeLists.txt"), encoding="utf-8") as f:
        m = re.search(r"^project\(Vestrel VERSION ([0-9]+(?:\.[0-9]+)*)\b", f.read(), re.M)
    if not m:
        raise Failure("CMakeLists.txt: no project(Vestrel VERSION ...)")
    return m.group(1)


def read_text(*path):
    with open(os.path.join(TOP, *path), encoding="utf-8") as f:
        return f.read()


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii")


def run(args, **kw):
    try:
        return subprocess.run(args, check=True, capture_output=True, text=True, **kw).stdout
    except FileNotFoundError:
        raise Failure("%s is missing (make deps installs it)" % args[0])
    except subprocess.CalledProcessError as e:
        raise Failure("%s failed: %s" % (" ".join(args), (e.stderr or e.stdout).strip()))


def fresh_directory(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def windows_readme(arch, version, build):
    """README.txt for Windows users, quoting every help text of the
    command-line program: BUILD/cli/usage.txt, written from the table the
    program parses with when it is built."""
    try:
        with open(os.path.join(build, "cli", "usage.txt"), encoding="utf-8") as f:
            help_text = f.read()
    except OSError as e:
        raise Failure("%s (build the vestrel-cli target)" % e)
    usage = "".join("    " + line if line.strip() else "\n" for line in help_text.splitlines(keepends=True))
    text = read_text("packaging", "windows", "README.txt")
    text = text.replace("@VERSION@", version).replace("@ARCH@", arch).replace("@CLI_USAGE@\n", usage)
    if re.search(r"@[A-Z_]+@", text):
        raise Failure("packaging/windows/README.txt: a placeholder was left")
    return text


def zip_entry(name, epoch, mode):
    # DOS time has no zone; the UTC time of the epoch, like TZ=UTC touch.
    info = zipfile.ZipInfo(name, date_time=time.gmtime(max(epoch, 315532800))[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3
    info.external_attr = (stat.S_IFREG | mode) << 16
    return info


def write_zip(path, members, epoch):
    """members: (name, bytes), stored in name order."""
    tmp = path + ".tmp"
    with zipfile.ZipFile(tmp, "w") as z:
        for name, data in sorted(members):
            z.writestr(zip_entry(name, epoch, 0o755 if name.endswith(".exe") else 0o644), data,
                       compresslevel=9)
    os.replace(tmp, path)


def windows(arch, build, stage, out):
    if arch not in WINDOWS_TOOLS:
        raise Failure("architecture is win32 or win64, not " + arch)
    version = project_version()
    epoch = source_date_epoch()
    fresh_directory(stage)
    members = []
    for name, folder in WINDOWS_PROGRAMS:
        built = os.path.join(build, folder, name)
        if not os.path.isfile(built):
            raise Failure(built + " is missing")
        stripped = os.path.join(stage, name)
        # strip writes a fresh PE time stamp unless told the time: keep the 0
        # that the link left.
        run([WINDOWS_TOOLS[arch] + "-strip", "--strip-all", "-o", stripped, built],
            env=dict(os.environ, SOURCE_DATE_EPOCH="0"))
        with open(stripped, "rb") as f:
            members.append((name, f.read()))
    members.append(("README.txt", crlf(windows_readme(arch, version, build))))
    members.append(("LICENSE.txt", crlf(read_text("LICENSE"))))
    members.append(("korvaneupdate.ini", crlf(read_text("updater", "korvaneupdate.ini"))))
    write_zip(out, members, epoch)


def debian_copyright():
    """DEP-5, the licence text taken from LICENSE."""
    licence = read_text("LICENSE").split("\n")
    at = next(i for i, line in enumerate(licence) if line.startswith("Copyright (c) "))
    holder = licence[at][len("Copyright (c) "):]
    body = "\n".join(" " + l if l.strip() else " ." for l in "\n".join(licence[at + 1:]).strip("\n").split("\n"))
    return ("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
            "Upstream-Name: Vestrel\n"
            "Upstream-Contact: Korvane <support@korvane.example>\n"
            "\n"
            "Files: *\n"
            "Copyright: %s\n"
            "License: Expat\n"
            "%s\n" % (holder, body))


def changelog_version(text):
    m = re.match(r"vestrel-ntfs \(([^)]+)\) ", text)
    return m.group(1) if m else None


def shlib_depends(binary):
    """Depends of the program, as dpkg-shlibdeps works them out from the
    libraries it loads (a throw-away source tree is all it needs)."""
    with tempfile.TemporaryDirectory() as tmp:
        os.makedirs(os.path.join(tmp, "debian"))
        with open(os.path.join(tmp, "debian", "control"), "w") as f:
            f.write("Source: vestrel-ntfs\n\nPackage: vestrel-ntfs\nArchitecture: any\n")
        out = run(["dpkg-shlibdeps", "-O", "-e" + os.path.abspath(binary)], cwd=tmp)
    m = re.search(r"^shlibs:Depends=(.+)$", out, re.M)
    if not m:
        raise Failure("dpkg-shlibdeps gave no Depends: " + out)
    return m.group(1).strip()


def gzip_file(data, path):
    # gzip -9n: no name, no time stamp.
    with open(path, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=raw, mtime=0) as z:
            z.write(data)


def deb(build, stage, out):
    version = project_version()
    epoch = source_date_epoch()
    changelog = read_text("packaging", "debian", "changelog")
    if changelog_version(changelog) != version:
        raise Failure("packaging/debian/changelog: the newest entry is not version " + version)
    built = os.path.join(build, "ntfs", "vestrel-ntfs")
    if not os.path.isfile(built):
        raise Failure(built + " is missing")
    fresh_directory(stage)
    doc = os.path.join(stage, "usr", "share", "doc", "vestrel-ntfs")
    man = os.path.join(stage, "usr", "share", "man", "man1")
    for d in (os.path.join(stage, "DEBIAN"), os.path.join(stage, "usr", "bin"), doc, man):
        os.makedirs(d)
    binary = os.path.join(stage, "usr", "bin", "vestrel-ntfs")
    # As Debian's own packaging strips: symbols and build notes out.
    run(["strip", "--strip-unneeded", "--remove-section=.comment", "--remove-section=.note", "-o", binary,
         built])
    date = time.strftime("%Y-%m-%d", time.gmtime(epoch))
    page = run([sys.executable, os.path.join(TOP, "tools", "md2man.py"),
                os.path.join(TOP, "docs", "vestrel-ntfs.1.md"), date, version])
    gzip_file(page.encode("ascii"), os.path.join(man, "vestrel-ntfs.1.gz"))
    # A package whose version has no Debian revision keeps one changelog.
    gzip_file(changelog.encode("utf-8"), os.path.join(doc, "changelog.gz"))
    with open(os.path.join(doc, "copyright"), "w") as f:
        f.write(debian_copyright())

    files = []
    for root, dirs, names in os.walk(stage):
        dirs.sort()
        for name in sorted(names):
            files.append(os.path.relpath(os.path.join(root, name), stage))
    # dpkg counts each file in whole KiB, and each directory as one.
    size = sum((os.path.getsize(os.path.join(stage, f)) + 1023) // 1024 for f in files)
    size += sum(len(dirs) for _, dirs, _ in os.walk(os.path.join(stage, "usr"))) + 1
    arch = run(["dpkg", "--print-architecture"]).strip()
    control = read_text("packaging", "debian", "control")
    for key, value in (("@VERSION@", version), ("@ARCH@", arch), ("@INSTALLED_SIZE@", str(size)),
                       ("@DEPENDS@", shlib_depends(binary))):
        control = control.replace(key, value)
    with open(os.path.join(stage, "DEBIAN", "control"), "w") as f:
        f.write(control)
    with open(os.path.join(stage, "DEBIAN", "md5sums"), "w") as f:
        for rel in files:
            with open(os.path.join(stage, rel), "rb") as g:
                f.write("%s  %s\n" % (hashlib.md5(g.read()).hexdigest(), rel))

    for root, dirs, names in os.walk(stage):
        os.chmod(root, 0o755)
        for name in names:
            path = os.path.join(root, name)
            os.chmod(path, 0o755 if path == binary else 0o644)
    for root, dirs, names in os.walk(stage, topdown=False):
        for name in names + dirs:
            os.utime(os.path.join(root, name), (epoch, epoch), follow_symlinks=False)
    os.utime(stage, (epoch, epoch))
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
    run(["dpkg-deb", "--root-owner-group", "-Zxz", "--build", stage, out], env=env)
    expected = "vestrel-ntfs_%s_%s.deb" % (version, arch)
    if os.path.basename(out) != expected:
        raise Failure("%s: the package's own name is %s" % (out, expected))


def sums(paths):
    """sha256sum's format, names as they sit beside SHA256SUMS, in order."""
    folder = os.path.dirname(os.path.abspath(paths[0]))
    lines = []
    for p in sorted(paths, key=os.path.basename):
        if os.path.dirname(os.path.abspath(p)) != folder:
            raise Failure(p + " is not beside " + paths[0])
        with open(p, "rb") as f:
            lines.append("%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(), os.path.basename(p)))
    with open(os.path.join(folder, "SHA256SUMS"), "w") as f:
        f.writelines(lines)
    sys.stdout.writelines(lines)


def main(argv):
    try:
        if len(argv) == 6 and argv[1] == "windows":
            windows(*argv[2:])
        elif len(argv) == 5 and argv[1] == "deb":
            deb(*argv[2:])
        elif len(argv) >= 3 and argv[1] == "sums":
            sums(argv[2:])
        else:
            sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
            return 2
    except Failure as e:
        sys.stderr.write("release.py: %s\n" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
