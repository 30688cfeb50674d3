#!/usr/bin/env python3
"""check_layering.py ROOT: every #include "..." between our folders follows an allowed direction.

Fails naming each include that crosses from one folder into another along an edge not listed
below. A folder may always include its own headers; the most specific folder of a path counts.
"""
import re
import os
import sys

# Who may include whom. A target is a folder (all of its headers) or one header, for the few
# places where a lower layer reaches up through one narrow interface.
ALLOWED = {
    # The bottom: Win32 helpers that know nothing of the stub.
    'stubframework/utils': [],
    'stubframework/zip': ['stubframework/utils'],
    # The downloader brings its own null logger; the run's log reaches it only as an ILogger.
    'downloader': ['stubframework/utils'],
    # The downloader's log lines written into the run's log.
    'stubframework/debug': ['downloader', 'stubframework/utils', 'StubCore/StubLog.h'],
    # The host window hands the page's calls to the method table.
    'stubframework/htmlui': ['stubframework/utils', 'stubframework/ExternalMethods.h',
                             'stubframework/core/HtmlExternal.h'],
    # Workflows behind the methods: they report through the method table's callbacks and reach
    # the application object for its settings and log.
    'stubframework/core': ['stubframework/utils', 'stubframework/zip', 'downloader', 'stubframework/debug',
                           'stubframework/htmlui', 'stubframework/ExternalMethods.h',
                           'stubframework/StubFramework.h', 'StubCore/StubApplication.h'],
    # The method handlers.
    'stubframework': ['stubframework/core', 'stubframework/htmlui', 'stubframework/utils', 'stubframework/zip',
                      'downloader', 'StubCore/StubApplication.h'],
    # The executable's start-up, above everything of the stub.
    'StubCore': ['stubframework', 'stubframework/core', 'stubframework/htmlui', 'stubframework/utils',
                 'stubframework/zip', 'stubframework/debug', 'downloader'],
    # Tools build on the stub's code, never on the tests.
    'tools/stubtool': ['downloader', 'stubframework/core', 'stubframework/debug', 'stubframework/utils',
                       'stubframework/zip'],
    'tools/devhost': ['StubCore', 'stubframework', 'stubframework/core', 'stubframework/htmlui',
                      'stubframework/utils', 'stubframework/zip', 'downloader'],
}
PRODUCT = sorted(ALLOWED)
# Tests, fuzz targets and benchmarks may include any of the above, and tests the devhost's.
for consumer in ('tests', 'fuzz', 'bench'):
    ALLOWED[consumer] = PRODUCT + (['tests'] if consumer == 'tests' else [])

FOLDERS = sorted(set(ALLOWED), key=len, reverse=True)
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def folder_of(path):
    for folder in FOLDERS:
        if path.startswith(folder + '/'):
            return folder
    return None


def allowed(source, header):
    """True when source (a path in the tree) may include header."""
    here, there = folder_of(source), folder_of(header)
    if here is None or there is None or here == there:
        return True
    return any(header == target or there == target for target in ALLOWED[here])


# The rules themselves: directions that must stay refused, and ones the code relies on.
CASES = [
    ('downloader/HttpTask.cpp', 'stubframework/debug/DownloadLogger.h', False),
    ('downloader/HttpTask.cpp', 'StubCore/StubApplication.h', False),
    ('stubframework/utils/Paths.cpp', 'stubframework/core/AppConfig.h', False),
    ('stubframework/zip/ZipReader.cpp', 'downloader/Downloader.h', False),
    ('stubframework/RegistryMethods.cpp', 'StubCore/StubMain.h', False),
    ('stubframework/core/AppConfig.cpp', 'StubCore/StubLog.h', False),
    ('stubframework/core/AppConfig.cpp', 'tests/support/TempFolder.h', False),
    ('tools/stubtool/Main.cpp', 'tests/support/TempFolder.h', False),
    ('StubCore/StubMain.cpp', 'tools/devhost/Shim.h', False),
    ('stubframework/core/DownloadWorkflow.cpp', 'StubCore/StubApplication.h', True),
    ('stubframework/debug/DownloadLogger.cpp', 'StubCore/StubLog.h', True),
    ('tests/devhost/BridgeProtocolTest.cpp', 'tools/devhost/BridgeProtocol.h', True),
    ('downloader/HttpTask.cpp', 'downloader/Object.h', True),
]


def sources(root):
    """Paths below root, with '/' separators, of every C, C++ and resource file of our folders."""
    for top in sorted({folder.split('/')[0] for folder in ALLOWED}):
        for here, folders, files in os.walk(os.path.join(root, top)):
            folders[:] = sorted(f for f in folders if f != 'node_modules')
            for name in sorted(files):
                if name.endswith(('.cpp', '.h', '.c', '.rc')):
                    yield os.path.relpath(os.path.join(here, name), root).replace(os.sep, '/')


def main(root):
    failures = [f'rule: {source} -> {header} should be {"allowed" if want else "refused"}'
                for source, header, want in CASES if allowed(source, header) != want]
    checked = 0
    for source in sources(root):
        with open(os.path.join(root, source), encoding='utf-8', errors='replace') as handle:
            text = handle.read()
        for match in INCLUDE.finditer(text):
            checked += 1
            if not allowed(source, match.group(1)):
                line = text.count('\n', 0, match.start()) + 1
                failures.append(f'{source}:{line}: includes {match.group(1)}: '
                                f'{folder_of(source)} may not depend on {folder_of(match.group(1))}')
    for failure in failures:
        print(failure)
    if not failures:
        print(f'layering: {checked} includes follow the allowed directions')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1]))
