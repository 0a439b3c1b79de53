#!/usr/bin/python3
"""Writes packaging/windows/THIRD-PARTY-NOTICES.txt, the notices that the
Windows zip and installer carry beside ZarnBandwidth.exe: Qt's licence and
where its source comes from, the code Qt carries from other projects (read
from the qt_attribution.json files of the Qt source that build-qt-mingw.sh
unpacked), SQLite's notice, and the mingw-w64 and GCC runtime licences (from
Debian's copyright files of the cross compiler's packages).

Run it again after a change of Qt version or features, and read the result:
the list of Qt's parts below names what this build of Qt links in.
"""
import json, os, re, sys, textwrap

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
QT = os.path.join(os.environ.get('ZARN_QT_MINGW_CACHE', '/var/cache/zarn-qt-mingw'), 'src/qtbase')
OUTPUT = os.path.join(ROOT, 'packaging/windows/THIRD-PARTY-NOTICES.txt')
if not os.path.isfile(os.path.join(QT, 'CMakeLists.txt')):
    sys.exit(f'{QT}: no Qt source; scripts/build-qt-mingw.sh unpacks it')

out = []


def w(line=''):
    out.append(line)


def rule(title):
    for line in ('', '=' * 76, title, '=' * 76, ''):
        w(line)


def para(text):
    """A paragraph of our own prose, filled to 76 columns (paths and
    commands are never broken at their hyphens)."""
    w(textwrap.fill(' '.join(text.split()), 76, break_on_hyphens=False,
                    break_long_words=False))
    w()


w('Zarn Bandwidth for Windows: licence and third-party notices')
w('=' * 59)
w()
para('''ZarnBandwidth.exe is Zarn Bandwidth, copyright 2026 ZarnDev. It is free
software: you can redistribute it and/or modify it under the terms of the GNU
General Public License as published by the Free Software Foundation, either
version 3 of the License, or (at your option) any later version. It comes
WITHOUT ANY WARRANTY; see LICENSE.txt beside this file for the licence text.
The complete source of the program, with the scripts that build it and the
libraries below for Windows, is available from https://www.zarndev.example/.''')
para('''The program is one file because the libraries it needs are linked into it
statically. This file names each of them, says under which licence it is
used and where its source comes from, and quotes the licence texts and
notices that go with it:''')
for line in ['1. Qt 6.4.2 (qtbase), under the GNU LGPL, version 3',
             '2. Code that Qt itself carries from other projects',
             '3. SQLite 3.40.1, in the public domain',
             '4. The mingw-w64 runtime (C runtime start-up and winpthreads)',
             "5. GCC's runtime libraries (libgcc and libstdc++)",
             'A. The text of the GNU LGPL, version 3']:
    w('  ' + line)
w()

rule('1. Qt 6.4.2 (qtbase)')
para('''Qt is copyright 2016-2022 The Qt Company Ltd. and other contributors. The
program links Qt Core, Qt Gui, Qt Widgets and Qt Network and Qt's Windows
platform plugin, used under the GNU Lesser General Public License, version 3
(section A below), which builds on the GNU General Public License, version 3
(LICENSE.txt).''')
para('''Source: Debian's qt6-base source package, version 6.4.2+dfsg-10 (Debian 12,
"bookworm"): qt6-base_6.4.2+dfsg-10.dsc, qt6-base_6.4.2+dfsg.orig.tar.xz and
qt6-base_6.4.2+dfsg-10.debian.tar.xz, from
https://deb.debian.org/debian/pool/main/q/qt6-base/ or
https://snapshot.debian.org/package/qt6-base/6.4.2%2Bdfsg-10/ ("apt-get source
qt6-base=6.4.2+dfsg-10" on Debian 12). It is unpacked with dpkg-source, which
applies Debian's patches, and built unchanged with mingw-w64 as a static
library by scripts/build-qt-mingw.sh in Zarn Bandwidth's source, which also
lists the Qt features that are left out.''')
para('''Using a changed Qt: since the whole program is free software, you can
rebuild it against a Qt of your own. Build that Qt (scripts/build-qt-mingw.sh
shows how), then build the program with scripts/windows.sh, or with CMake and
CMAKE_PREFIX_PATH pointing at your Qt; the new ZarnBandwidth.exe is linked
against it.''')

rule('2. Code that Qt carries from other projects')
para('''Qt includes the following code from other projects, built into the Qt
libraries above. The list covers what Qt Core, Gui, Widgets and Network hold
on Windows in this build; parts for other systems and for features that are
switched off are left out. Each entry names the code, its copyright and its
licence, and quotes the licence text that comes with it in Qt's source.''')
para('''In the public domain, or dedicated to it under CC0 1.0, with nothing to
reproduce: the MD4, MD5 and SHA-1 code and the Keccak (SHA-3) reference code
(QCryptographicHash), the BLAKE2 reference code (used under CC0 1.0), and
SipHash (QHash).''')

wanted = [
    ('src/corelib/text', 'unicode-character-database'),
    ('src/corelib/text', 'unicode-cldr'),
    ('src/3rdparty/double-conversion', 'doubleconversion'),
    ('src/3rdparty/easing', 'easing'),
    ('src/3rdparty/pcre2', 'pcre2'),
    ('src/3rdparty/pcre2', 'pcre2-sljit'),
    ('src/3rdparty/rfc6234', 'rfc6234'),
    ('src/3rdparty/sha3', 'sha3_endian'),
    ('src/3rdparty/tinycbor', 'tinycbor'),
    ('src/3rdparty/zlib', 'zlib'),
    ('src/3rdparty/freetype', 'freetype'),
    ('src/3rdparty/freetype', 'freetype-zlib'),
    ('src/3rdparty/freetype', 'freetype-bdf'),
    ('src/3rdparty/freetype', 'freetype-pcf'),
    ('src/gui/painting', 'grayraster'),
    ('src/3rdparty/harfbuzz-ng', 'harfbuzz-ng'),
    ('src/3rdparty/libpng', 'libpng'),
    ('src/gui/painting', 'smooth-scaling-algorithm'),
    ('src/gui/painting', 'xserverhelper'),
    ('util/gradientgen', 'webgradients'),
    ('src/gui/text', 'aglfn'),
    ('src/3rdparty/icc', 'icc-sRGB-color-profile'),
    ('src/network/kernel', 'psl'),
    ('src/3rdparty/libpsl', 'libpsl'),
]
quoted = {}
for folder, ident in wanted:
    entries = json.loads(open(f'{QT}/{folder}/qt_attribution.json').read(), strict=False)
    if isinstance(entries, dict):
        entries = [entries]
    e = next(x for x in entries if x['Id'] == ident)
    title = e['Name'] + (f" {e['Version']}" if e.get('Version') and len(e['Version']) < 12 else '')
    w('-' * 76)
    w(title)
    w('-' * 76)
    usage = ' '.join(e.get('QtUsage', '').split())
    usage = re.sub(r' ?Configure with .*$', '', usage).replace('Optionally used', 'Used')
    w(textwrap.fill(usage, 76, break_on_hyphens=False, break_long_words=False))
    w(f"Licence: {e['LicenseId']}")
    for c in e.get('Copyright', '').strip().splitlines():
        c = c.strip()
        if c:
            w(c if c.lower().startswith('copyright') else 'Copyright ' + c)
    w()
    path = os.path.normpath(f"{QT}/{folder}/{e['LicenseFile']}")
    text = open(path, encoding='utf-8', errors='replace').read()
    if 'FTL.TXT' in text:
        # FreeType is offered under the FTL or the GPL-2.0; Qt uses it under the FTL.
        text = text[:text.index('--- end of FTL.TXT ---')]
        text = text[text.index('The FreeType Project LICENSE'):]
    if path in quoted:
        w(f'(The licence text is quoted above, under "{quoted[path]}".)')
        w()
        continue
    quoted[path] = title
    w(text.strip('\n').expandtabs())
    w()

rule('3. SQLite 3.40.1')
para('''The usage history is stored with SQLite, by D. Richard Hipp and the SQLite
developers, which is in the public domain. Its source files carry this
notice in place of a licence:''')
w('''    The author disclaims copyright to this source code.  In place of
    a legal notice, here is a blessing:

       May you do good and not evil.
       May you find forgiveness for yourself and forgive others.
       May you share freely, never taking more than you give.''')
w()
para('''Source: the upstream tarball of Debian's sqlite3 source package, version
3.40.1-2+deb12u2 (sqlite3_3.40.1.orig.tar.xz, from
https://deb.debian.org/debian/pool/main/s/sqlite3/), built for mingw-w64 by
scripts/build-sqlite-mingw.sh in Zarn Bandwidth's source.''')

rule('4. The mingw-w64 runtime')
para('''The program is built with Debian's mingw-w64 cross compiler (packages
mingw-w64-common, mingw-w64-x86-64-dev and gcc-mingw-w64-x86-64-posix, Debian
12), which links in the start-up code and helper functions of the mingw-w64 C
runtime and, for threads, the winpthreads library. The entries below are
quoted from Debian's copyright file for mingw-w64
(/usr/share/doc/mingw-w64-common/copyright), for the runtime and winpthreads
parts that go into a program; the headers, tools and tests are left out.''')
cr = open('/usr/share/doc/mingw-w64-common/copyright').read().split('\n\n')
licences_used = set()


def linked(files):
    """The runtime's files that go into a program: the C runtime and
    winpthreads, without the profiler's (-pg only) and the tests."""
    return [f for f in files if (f == '*' or f.startswith('mingw-w64-crt/') or
            f.startswith('mingw-w64-libraries/winpthreads/')) and
            not f.startswith('mingw-w64-crt/profile/') and '/tests' not in f]


stanzas = []
for p in cr:
    if not p.startswith('Files:'):
        continue
    m = re.match(r'Files:(.*?)\n(?=[A-Z])', p, re.S)
    files = m.group(1).split()
    if not linked(files):
        continue
    lic = re.search(r'^License:\s*(.*)$', p, re.M).group(1).strip()
    licences_used.update(x.strip() for x in re.split(r'\band\b|\bor\b', lic))
    stanzas.append(p)
for p in cr:
    m = re.match(r'License:\s*(.*)$', p, re.M)
    if p.startswith('License:') and m.group(1).strip() in licences_used:
        stanzas.append(p)
if 'BSD-3-clause' in licences_used:
    # Debian's file names this licence without quoting it; its text is the
    # University of California's, as Debian keeps it in common-licenses.
    bsd = open('/usr/share/common-licenses/BSD').read().strip('\n').splitlines()
    stanzas.append('License: BSD-3-clause\n' + '\n'.join(' ' + l if l.strip() else ' .' for l in bsd))
for p in stanzas:
    w(p.rstrip('\n').expandtabs())
    w()

rule("5. GCC's runtime libraries")
para('''The C++ standard library (libstdc++) and GCC's low-level runtime (libgcc),
from Debian's gcc-mingw-w64 12.2 packages, are linked in statically. They
are copyright the Free Software Foundation, Inc., and licensed under the GNU
General Public License, version 3 (LICENSE.txt), with the GCC Runtime Library
Exception, version 3.1, which allows them to be combined with any program.
The exception's text, quoted from Debian's copyright file for gcc-mingw-w64
(/usr/share/doc/gcc-mingw-w64-base/copyright):''')
g = open('/usr/share/doc/gcc-mingw-w64-base/copyright').read()
start = g.index('GCC RUNTIME LIBRARY EXCEPTION')
end = g.find('\n\n\n', start)
exc = g[start:end if end > 0 else None]
w(exc.rstrip().expandtabs())
w()

rule('A. GNU Lesser General Public License, version 3')
w(open('/usr/share/common-licenses/LGPL-3').read().rstrip('\n').expandtabs())
w()

text = '\n'.join(out).rstrip('\n') + '\n'
text = re.sub(r'[ \t]+\n', '\n', text)
open(OUTPUT, 'w').write(text)
print(f'wrote {OUTPUT}')
