# SPDX-License-Identifier: GPL-3.0-or-later
"""Tar archives for tst_tarstream, written by independent tools.

  tarfixture.py python ustar|gnu|pax OUT   the test project, written by Python's tarfile
  tarfixture.py gnutar gnu|posix OUT       the test project, written by GNU tar
  tarfixture.py header NAME SIZE           the GNU header of a regular file, without its data
"""

import io
import os
import subprocess
import sys
import tarfile
import tempfile

DEVICE = "active-project/devices/tando/00:1a:2b:3c:4d:5e"
LONG_NAME = DEVICE + "/profiles/" + "p" * 90

# (name, type, content or link target); directories end with "/".
ENTRIES = [
    ("active-project/", tarfile.DIRTYPE, None),
    ("active-project/project.xml", tarfile.REGTYPE, b"<project>" + b"x" * 580 + b"</project>\n"),
    (DEVICE + "/", tarfile.DIRTYPE, None),
    (DEVICE + "/block512", tarfile.REGTYPE, b"b" * 512),
    (DEVICE + "/caf\u00e9-\u00f1.txt", tarfile.REGTYPE, b"non-ascii name\n"),
    (DEVICE + "/empty", tarfile.REGTYPE, b""),
    (DEVICE + "/prefs", tarfile.REGTYPE, b"<prefs><UnitName>unit</UnitName></prefs>\n"),
    (DEVICE + "/profiles/", tarfile.DIRTYPE, None),
    (LONG_NAME, tarfile.REGTYPE, b"<profile/>\n"),
    ("active-project/hardlink", tarfile.LNKTYPE, DEVICE + "/prefs"),
    ("active-project/other.txt", tarfile.REGTYPE, b"untouched\n"),
    ("active-project/symlink", tarfile.SYMTYPE, DEVICE + "/prefs"),
]


def write_python(form, out):
    formats = {"ustar": tarfile.USTAR_FORMAT, "gnu": tarfile.GNU_FORMAT, "pax": tarfile.PAX_FORMAT}
    globals_ = {"comment": "written for the tests"} if form == "pax" else None
    with tarfile.open(out, "w", format=formats[form], pax_headers=globals_) as tar:
        for i, (name, kind, content) in enumerate(ENTRIES):
            info = tarfile.TarInfo(name)
            info.type = kind
            info.mode = 0o755 if kind == tarfile.DIRTYPE else 0o640 + (i % 2) * 4
            info.uid, info.gid = 1000 + i, 2000 + i
            info.uname, info.gname = "user%d" % i, "group%d" % i
            info.mtime = 1700000000 + 1000 * i
            if kind in (tarfile.LNKTYPE, tarfile.SYMTYPE):
                info.linkname = content
            data = content if kind == tarfile.REGTYPE else b""
            info.size = len(data)
            if form == "pax" and kind == tarfile.REGTYPE and i == 1:
                info.pax_headers = {"size": str(len(data))}  # as writers do for sizes over 8 GiB
            tar.addfile(info, fileobj=io.BytesIO(data))


def write_gnutar(form, out):
    with tempfile.TemporaryDirectory() as root:
        for name, kind, content in ENTRIES:
            path = os.path.join(root, name)
            if kind == tarfile.DIRTYPE:
                os.makedirs(path, exist_ok=True)
            elif kind == tarfile.REGTYPE:
                with open(path, "wb") as f:
                    f.write(content)
            elif kind == tarfile.LNKTYPE:
                os.link(os.path.join(root, content), path)
            else:
                os.symlink(content, path)
        # A sparse file whose map needs extension blocks in the GNU format.
        with open(os.path.join(root, DEVICE, "sparse"), "wb") as f:
            for i in range(12):
                f.seek(i * 256 * 1024)
                f.write(bytes([97 + i]) * 512)
            f.truncate(12 * 256 * 1024)
        subprocess.run(["tar", "--format=" + form, "--sparse", "--sort=name", "--owner=alice:1001",
                        "--group=staff:2002", "--mtime=@1700000000", "-cf", out, "-C", root, "active-project"],
                       check=True)


if __name__ == "__main__":
    command = sys.argv[1]
    if command == "python":
        write_python(sys.argv[2], sys.argv[3])
    elif command == "gnutar":
        write_gnutar(sys.argv[2], sys.argv[3])
    elif command == "header":
        info = tarfile.TarInfo(sys.argv[2])
        info.size = int(sys.argv[3])
        sys.stdout.buffer.write(info.tobuf(tarfile.GNU_FORMAT))
