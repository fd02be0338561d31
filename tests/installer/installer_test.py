#!/usr/bin/env python3
"""The setup program under Wine, each run in a fresh Wine prefix of its own.

  installer_test.py lifecycle --setup S --refusing R --shortcut-driver E
                              --record-call C --readme README.md
      A 64-bit Windows (WoW64 prefix): refusal on an unsupported machine,
      install (the 64-bit program and both control-and-pack sets, each
      registered in its own registry view), the README's VBScript in the
      64-bit and in the 32-bit script host (each converting with the set of
      its own bitness, loaded into its own process), the installed program
      started from its Start menu link converting a generated RealMedia file
      to MP3 and WAV through its windows (E), upgrade, uninstall keeping and
      removing settings.ini, an upgrade into a folder outside Program Files;
      after every uninstall the registry (both views) and the files are back
      to what they were before. Outputs are checked with ffprobe.
  installer_test.py win32 --setup S --record-call C --readme README.md
      A 32-bit Windows (win32 prefix): install of the 32-bit set, program
      included, the README's VBScript, upgrade, uninstall.

C, a 32-bit program that records its command line, stands in for takeown.exe
and icacls.exe (Wine has no takeown, and its icacls changes nothing) and for
an earlier version's uninstall.exe, which an upgrade must not run.
The setup program is a 32-bit program: where Wine cannot run 32-bit
programs, that is said in one line and the test is skipped.
Every Wine process of the prefix is ended (wineserver -k) before the script
exits, whatever happened.
"""
import argparse
import array
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

INSTALL_DIR = r"C:\Program Files\Vellumo"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
VELLUMO_UNINSTALL = (r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion"
                     r"\Uninstall\Vellumo")
START_MENU = "ProgramData/Microsoft/Windows/Start Menu/Programs/Vellumo"
INSTALLED_FILES = ["corvane.dll", "uninstall.exe", "vellumo.chm", "vellumo.exe",
                   "vellumo_filters.dll"]
# The 32-bit set on a 64-bit Windows, below the install folder.
X86_FILES = ["x86\\corvane.dll", "x86\\vellumo_filters.dll"]
WINE32 = "/usr/lib/wine/wine"
CALLS_LOG = r"C:\windows\vellumo-calls.log"
SHORTCUTS = ["Uninstall Vellumo.lnk", "Vellumo Help.lnk", "Vellumo.lnk"]
VERB_KEYS = [r"HKEY_CLASSES_ROOT\SystemFileAssociations\%s\shell\Vellumo.Convert" % ext
             for ext in (".rm", ".ra", ".ram", ".rmvb")] + [r"HKEY_CLASSES_ROOT\Directory\shell\Vellumo.Convert"]

CLSID_HALVEX = "{8E2DC57B-E2E2-4FBB-924A-F195CBD136F6}"
LIBID = "{A57C7E54-C2F2-443F-A3F7-96B5B5AE84D2}"
IID_HALVEX = "{7FD7540F-CA29-4300-B0FB-1B925F946B27}"
FILTERS = {
    "RealMedia splitter": "{E21BE468-5C18-43EB-B0CC-DB93A847D769}",
    "RealAudio decoder": "{941A4793-A705-4312-8DFC-C11CA05F397E}",
    "MP3 encoder": "{B8D27088-DF5F-4B7C-98DC-0E91A1696286}",
    "WAV writer": "{3C78B8E2-6C4D-11D1-ADE2-0000F8754B99}",
}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what, flush=True)
    return condition


class Timed:
    def __init__(self, label):
        self.label = label

    def __enter__(self):
        self.start = time.monotonic()

    def __exit__(self, *exc):
        print("time: %s %.1f s" % (self.label, time.monotonic() - self.start), flush=True)


class WinePrefix:
    """A fresh Wine prefix in a temporary folder, with an Xvfb when needed."""

    def __init__(self, arch="win64"):
        self.arch = arch
        self.root = tempfile.mkdtemp(prefix="vellumo-installer-")
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=os.path.join(self.root, "prefix"), WINEARCH=arch,
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        # Command lines reach Wine in the Unix character set: a UTF-8 locale
        # Wine knows (C.UTF-8 is not one), the program's own if it is there.
        locales = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE).stdout.decode().lower().split()
        self.env["LC_ALL"] = "zh_CN.UTF-8" if "zh_cn.utf8" in locales else "en_US.UTF-8"
        self.wine = (shutil.which("wine64") or "/usr/lib/wine/wine64") if arch == "win64" else WINE32
        self.wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
        if not os.access(self.wineserver, os.X_OK) and os.access("/usr/lib/wine/wineserver64", os.X_OK):
            self.wineserver = "/usr/lib/wine/wineserver64"
        self.xvfb = None
        if not self.env.get("DISPLAY"):
            self._start_xvfb()

    def _start_xvfb(self):
        for n in range(150, 200):
            if os.path.exists("/tmp/.X11-unix/X%d" % n) or os.path.exists("/tmp/.X%d-lock" % n):
                continue
            self.xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
            for _ in range(50):
                if os.path.exists("/tmp/.X11-unix/X%d" % n):
                    break
                time.sleep(0.1)
            if self.xvfb.poll() is None:
                self.env["DISPLAY"] = ":%d" % n
                return
        raise RuntimeError("no Xvfb")

    @property
    def drive_c(self):
        return os.path.join(self.env["WINEPREFIX"], "drive_c")

    def unix_path(self, windows_path):
        assert windows_path[1:3] == ":\\"
        return os.path.join(self.drive_c, windows_path[3:].replace("\\", "/"))

    def run(self, *args, timeout=180):
        """Runs a Windows program and returns (exit code, output)."""
        result = subprocess.run([self.wine] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
        return result.returncode, result.stdout.decode("utf-8", "replace")

    def run_line(self, command_line, timeout=180):
        """Runs a command line exactly as written (the setup program's /D=
        takes no quotes, which an argument vector would add), through a
        batch file in the ANSI code page of the prefix's processes."""
        batch = os.path.join(self.root, "run.bat")
        encoding = "gbk" if self.env["LC_ALL"].startswith("zh_CN") else "cp1252"
        with open(batch, "wb") as f:
            f.write(("@echo off\r\n%s\r\nexit /b %%ERRORLEVEL%%\r\n" % command_line).encode(encoding))
        return self.run("cmd", "/c", self.windows_path(batch), timeout=timeout)

    @staticmethod
    def windows_path(unix_path):
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    def wait_idle(self, timeout=120):
        """Waits until every process of the prefix has ended."""
        subprocess.run([self.wineserver, "-w"], env=self.env, timeout=timeout)

    def boot(self):
        subprocess.run([self.wine, "wineboot", "-i"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)
        self.wait_idle()

    def fresh(self, label):
        """Boots the new prefix; the registry and files as they were before
        anything was installed, or None when the registry cannot be read."""
        with Timed(label):
            self.boot()
            self.prime_script_hosts()
        registry, files = self.registry(), self.files()
        if not check(len(registry) > 1000, "registry export of the fresh prefix"):
            return None
        return registry, files

    def prime_script_hosts(self):
        """Wine's script hosts register their own type library when first
        started: done before the registry is taken as it was."""
        script = os.path.join(self.root, "nothing.vbs")
        with open(script, "w") as f:
            f.write("WScript.Quit 0\r\n")
        for host in [r"C:\windows\system32\cscript.exe"] + ([r"C:\windows\syswow64\cscript.exe"] if self.arch == "win64" else []):
            self.run(host, "//nologo", self.windows_path(script))
        self.wait_idle()

    def export(self, key):
        """The key as a set of '[key] name=value' lines (order-free)."""
        out = os.path.join(self.root, "export.reg")
        if os.path.exists(out):
            os.remove(out)
        code, text = self.run("reg", "export", key, self.windows_path(out), "/y")
        if code != 0 or not os.path.exists(out):
            return None
        with open(out, "rb") as f:
            data = f.read().decode("utf-16")
        lines = set()
        section = None
        # Values continued over several lines end with a backslash.
        for line in re.sub(r"\\\r?\n\s*", "", data).splitlines():
            if line.startswith("["):
                section = line
                lines.add(section)
            elif line.strip() and section:
                lines.add(section + " " + line)
        return lines

    def registry(self):
        """HKCR (with the 32-bit view's Wow6432Node), the uninstall entries
        and the filter pack's own key, in each view."""
        keys = ["HKCR", UNINSTALL_KEY, r"HKLM\Software\Vellumo"]
        if self.arch == "win64":
            keys += [UNINSTALL_KEY.replace("Software", r"Software\Wow6432Node"), r"HKLM\Software\Wow6432Node\Vellumo"]
        return set().union(*((self.export(key) or set()) for key in keys))

    @property
    def system32(self):
        """Where a 32-bit program's C:\\windows\\system32 is."""
        return os.path.join(self.drive_c, "windows", "syswow64" if self.arch == "win64" else "system32")

    def stand_in_tools(self, recorder):
        for name in ("takeown.exe", "icacls.exe"):
            shutil.copy(recorder, os.path.join(self.system32, name))

    def calls(self):
        """The command lines the stand-ins recorded since the last call."""
        log = self.unix_path(CALLS_LOG)
        if not os.path.exists(log):
            return []
        with open(log, "rb") as f:
            text = f.read().decode("utf-16-le").lstrip("\ufeff")
        os.remove(log)
        return [line.strip() for line in text.splitlines() if line.strip()]

    def files(self):
        """Every file and folder of drive C outside Windows' own scratch places."""
        listing = set()
        for folder, dirs, names in os.walk(self.drive_c):
            rel = os.path.relpath(folder, self.drive_c)
            if rel.startswith(("windows", "users")):
                continue
            for name in dirs + names:
                listing.add(os.path.normpath(os.path.join(rel, name)))
        return listing

    def close(self):
        try:
            subprocess.run([self.wineserver, "-k"], env=self.env, timeout=60)
            self.wait_idle(60)
        except subprocess.TimeoutExpired:
            pass
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait(10)
        shutil.rmtree(self.root, ignore_errors=True)


def registry_value(lines, key, name):
    """The data of a value in an export: name '@' is the default value."""
    prefix = "[%s] %s=" % (key, '@' if name == '@' else '"%s"' % name)
    for line in lines:
        if line.lower().startswith(prefix.lower()):
            return line[len(prefix):]
    return None


def diff_report(before, after, label):
    added = sorted(after - before)
    removed = sorted(before - after)
    for line in added[:40]:
        print("  left behind by %s: %s" % (label, line))
    for line in removed[:40]:
        print("  missing after %s: %s" % (label, line))
    return not added and not removed


def install(wine, setup, folder=INSTALL_DIR, label="install"):
    with Timed(label):
        code, out = wine.run_line('"%s" /S /D=%s' % (wine.windows_path(setup), folder))
        wine.wait_idle()
    check(code == 0, "%s: setup exit code %d %s" % (label, code, out))
    return out


def uninstall(wine, folder=INSTALL_DIR, *options, label="uninstall"):
    command = " ".join(['"%s\\uninstall.exe" /S' % folder] + list(options))
    uninstaller = os.path.join(wine.unix_path(folder), "uninstall.exe")
    with Timed(label):
        # The uninstaller copies itself to a temporary folder and runs from
        # there; it is done when the prefix has no process left.
        code, out = wine.run_line(command)
        wine.wait_idle()
        # Now and then Wine fails to start the uninstaller's copy at all
        # ("ShellExecuteEx failed", seen once in eight runs): nothing was
        # removed. Said, and tried once more; an uninstaller that ran and
        # failed still fails the test.
        if code != 0 and os.path.isfile(uninstaller) and wine.run("reg", "query", UNINSTALL_KEY + r"\Vellumo")[0] == 0:
            print("%s: the uninstaller did not run (exit code %d %s); once more" % (label, code, out.strip()))
            code, out = wine.run_line(command)
            wine.wait_idle()
    check(code == 0, "%s: exit code %d %s" % (label, code, out))


def image_bits(path):
    """64 or 32 for an x64 or x86 Windows image, else None."""
    with open(path, "rb") as f:
        head = f.read(4096)
    offset = int.from_bytes(head[0x3C:0x40], "little")
    return {0x8664: 64, 0x14C: 32}.get(int.from_bytes(head[offset + 4:offset + 6], "little"))


def check_set(registry, label, root, folder, platform):
    """One control-and-pack set registered from folder in one registry view
    (root: HKEY_CLASSES_ROOT or its Wow6432Node)."""
    corvane = folder + "\\corvane.dll"
    filters = folder + "\\vellumo_filters.dll"
    quoted = lambda path: '"%s"' % path.replace("\\", "\\\\")
    server = registry_value(registry, r"%s\CLSID\%s\InprocServer32" % (root, CLSID_HALVEX), "@")
    check(server is not None and server.lower() == quoted(corvane).lower(),
          "%s: AtlHalvex class served by %s (%s)" % (label, corvane, server))
    typelib = registry_value(registry, r"HKEY_CLASSES_ROOT\TypeLib\%s\1.0\0\%s" % (LIBID, platform), "@")
    check(typelib is not None and typelib.lower() == quoted(corvane).lower(),
          "%s: type library (%s) registered from %s (%s)" % (label, platform, corvane, typelib))
    check(any(line.upper().startswith(r"[%s\INTERFACE\%s]" % (root.upper(), IID_HALVEX)) for line in registry),
          "%s: IAtlHalvex interface registered in %s" % (label, root))
    for name, clsid in FILTERS.items():
        server = registry_value(registry, r"%s\CLSID\%s\InprocServer32" % (root, clsid), "@")
        check(server is not None and server.lower() == quoted(filters).lower(),
              "%s: %s served by %s (%s)" % (label, name, filters, server))
        # The filter mapper lists a filter below its category's Instance key.
        listed = re.compile(r"\[%s\\CLSID\\\{[0-9A-F-]+\}\\INSTANCE\\%s\] \"FILTERDATA\"=" %
                            (re.escape(root.upper()), re.escape(clsid)))
        check(any(listed.match(line.upper()) for line in registry),
              "%s: %s listed with the filter mapper in %s" % (label, name, root))


def check_installation(wine, registry, label, folder=INSTALL_DIR):
    install_dir = folder
    folder = wine.unix_path(install_dir)
    wide = wine.arch == "win64"
    # A 64-bit Windows: the 64-bit program and set, and the 32-bit set in x86.
    images = {n: (64 if wide else 32) for n in INSTALLED_FILES if n.endswith((".dll", "vellumo.exe"))}
    images.update({n: 32 for n in X86_FILES} if wide else {})
    for name in INSTALLED_FILES + (X86_FILES if wide else []):
        path = os.path.join(folder, name.replace("\\", "/"))
        if check(os.path.isfile(path), "%s: %s installed" % (label, name)) and name in images:
            check(image_bits(path) == images[name], "%s: %s is %d-bit" % (label, name, images[name]))
    links = os.path.join(wine.drive_c, START_MENU)
    check(os.path.isdir(links) and sorted(os.listdir(links)) == SHORTCUTS,
          "%s: Start menu shortcuts %s" % (label, os.listdir(links) if os.path.isdir(links) else None))

    if wide:
        check_set(registry, label, "HKEY_CLASSES_ROOT", install_dir, "win64")
        check_set(registry, label, r"HKEY_CLASSES_ROOT\Wow6432Node", install_dir + "\\x86", "win32")
    else:
        check_set(registry, label, "HKEY_CLASSES_ROOT", install_dir, "win32")
    check(registry_value(registry, r"HKEY_CLASSES_ROOT\corvane.AtlHalvex\CLSID", "@") == '"%s"' % CLSID_HALVEX,
          "%s: ProgID corvane.AtlHalvex" % label)
    check(registry_value(registry, r"HKEY_CLASSES_ROOT\corvane.AtlHalvex.1\CLSID", "@") == '"%s"' % CLSID_HALVEX,
          "%s: ProgID corvane.AtlHalvex.1" % label)
    quoted = lambda path: '"%s"' % path.replace("\\", "\\\\")

    key = VELLUMO_UNINSTALL
    expected = {"DisplayName": '"Vellumo"', "Publisher": '"Vellumo"', "InstallLocation": quoted(install_dir)}
    for name in ("DisplayName", "Publisher", "InstallLocation"):
        value = registry_value(registry, key, name)
        check(value == expected[name], "%s: uninstall entry %s = %s" % (label, name, value))
    check(re.fullmatch(r'"\d+\.\d+\.\d+"', registry_value(registry, key, "DisplayVersion") or "") is not None,
          "%s: uninstall entry DisplayVersion" % label)
    uninstall_string = registry_value(registry, key, "UninstallString") or ""
    quiet = registry_value(registry, key, "QuietUninstallString") or ""
    check("uninstall.exe" in uninstall_string and quiet.endswith('/S"') and uninstall_string[:-1] in quiet,
          "%s: uninstall strings %s / %s" % (label, uninstall_string, quiet))
    size = registry_value(registry, key, "EstimatedSize") or ""
    installed_kb = sum(os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(folder) for n in names) // 1024
    check(size.startswith("dword:") and abs(int(size[6:], 16) - installed_kb) <= 64,
          "%s: EstimatedSize %s for %d KB" % (label, size, installed_kb))
    # Explorer's verb on the RealMedia types and folders, through the per-type keys.
    for verb in VERB_KEYS:
        check(registry_value(registry, verb, "@") == '"Convert with Vellumo"', "%s: verb %s" % (label, verb))
        check(registry_value(registry, verb + r"\command", "@") == '"\\"%s\\" \\"%%1\\""' %
              (install_dir + "\\vellumo.exe").replace("\\", "\\\\"), "%s: command of %s" % (label, verb))
    # Our own entries once, in the 64-bit view of a 64-bit Windows.
    entries = [line for line in registry
               if line.startswith("[HKEY_LOCAL_MACHINE") and line.endswith('"DisplayName"="Vellumo"')]
    check(len(entries) == 1, "%s: one uninstall entry (%s)" % (label, entries))
    check(not any(line.upper().startswith(r"[HKEY_CLASSES_ROOT\WOW6432NODE") and "VELLUMO.CONVERT" in line.upper()
                  for line in registry), "%s: the verb only in the 64-bit view" % label)


def lifecycle(args):
    wine = WinePrefix()
    try:
        before = wine.fresh("fresh prefix")
        if not before:
            return
        registry_before, files_before = before
        settings = os.path.join(wine.unix_path(INSTALL_DIR), "settings.ini")

        # A machine that runs neither set: the setup program says so and changes nothing.
        code, out = wine.run_line('"%s" /S /D=%s' % (wine.windows_path(args.refusing), INSTALL_DIR))
        wine.wait_idle()
        check(code == 2, "refusal: exit code %d" % code)
        check(diff_report(registry_before, wine.registry(), "the refused setup"), "refusal: registry unchanged")
        check(diff_report(files_before, wine.files(), "the refused setup"), "refusal: files unchanged")

        wine.stand_in_tools(args.record_call)
        # A folder that holds other things is refused, and nothing changes.
        os.makedirs(os.path.join(wine.drive_c, "Data"))
        with open(os.path.join(wine.drive_c, "Data", "notes.txt"), "w") as f:
            f.write("mine")
        code, out = wine.run_line('"%s" /S /D=C:\\Data' % wine.windows_path(args.setup))
        wine.wait_idle()
        check(code == 4, "non-empty folder refused: exit code %d" % code)
        check(diff_report(registry_before, wine.registry(), "the refused folder"), "refused folder: registry unchanged")
        check(diff_report(files_before | {"Data", os.path.join("Data", "notes.txt")}, wine.files(), "the refused folder"),
              "refused folder: files unchanged")
        shutil.rmtree(os.path.join(wine.drive_c, "Data"))

        out = install(wine, args.setup)
        registry = wine.registry()
        check_installation(wine, registry, "install")
        check(sorted(l for l in registry if l.upper().startswith("[HKEY_CLASSES_ROOT\\.RM]")) ==
              sorted(l for l in registry_before if l.upper().startswith("[HKEY_CLASSES_ROOT\\.RM]")),
              "install: the default program of .rm unchanged")
        check(wine.calls() == [], "install into Program Files keeps its access list")
        # A 64-bit and a 32-bit client, each with the set of its own bitness.
        script_client(wine, args.readme, r"C:\windows\system32\cscript.exe", INSTALL_DIR, 64)
        script_client(wine, args.readme, r"C:\windows\syswow64\cscript.exe", INSTALL_DIR + "\\x86", 32)
        convert_with_installed_program(wine, args.shortcut_driver)
        if os.path.exists(settings):
            os.remove(settings)  # whatever the program wrote; the user's file follows
        user_settings = "[Vellumo]\r\nOutputFolder=C:\\users\\Public\\Music\r\n"
        with open(settings, "w", newline="") as f:
            f.write(user_settings)

        # Upgrade over the installation: one registration, the settings kept.
        # Nothing of the installed version runs: its folder may be one a
        # standard user could write (as any folder is under Wine).
        shutil.copy(args.record_call, os.path.join(wine.unix_path(INSTALL_DIR), "uninstall.exe"))
        install(wine, args.setup, label="upgrade")
        check(wine.calls() == [], "upgrade: nothing run from the installed version's folder")
        check_installation(wine, wine.registry(), "upgrade")
        check(os.path.exists(settings) and open(settings, newline="").read() == user_settings,
              "upgrade: settings.ini kept")

        # A silent uninstall keeps settings.ini and removes everything else.
        uninstall(wine, INSTALL_DIR, label="uninstall keeping settings")
        check(diff_report(registry_before, wine.registry(), "uninstall"), "uninstall: registry back to before")
        check(diff_report(files_before | {os.path.relpath(settings, wine.drive_c),
                                          os.path.relpath(os.path.dirname(settings), wine.drive_c)},
                          wine.files(), "uninstall"),
              "uninstall: only settings.ini left")
        check(open(settings, newline="").read() == user_settings, "uninstall: settings.ini unchanged")

        # Installing again finds the kept settings; removing them leaves no trace.
        install(wine, args.setup, label="reinstall")
        check(open(settings, newline="").read() == user_settings, "reinstall: settings.ini kept")
        roaming = [os.path.join(d, "AppData", "Roaming") for d in
                   (os.path.join(wine.drive_c, "users", u) for u in os.listdir(os.path.join(wine.drive_c, "users")))
                   if os.path.isdir(os.path.join(d, "AppData", "Roaming")) and not d.endswith("Public")]
        user_copy = os.path.join(roaming[0], "Vellumo", "settings.ini")
        os.makedirs(os.path.dirname(user_copy), exist_ok=True)
        with open(user_copy, "w") as f:
            f.write(user_settings)
        uninstall(wine, INSTALL_DIR, "/REMOVESETTINGS", label="uninstall removing settings")
        check(not os.path.exists(os.path.dirname(user_copy)), "uninstall /REMOVESETTINGS: the user's copy removed")
        check(diff_report(registry_before, wine.registry(), "uninstall /REMOVESETTINGS"),
              "uninstall /REMOVESETTINGS: registry back to before")
        check(diff_report(files_before, wine.files(), "uninstall /REMOVESETTINGS"),
              "uninstall /REMOVESETTINGS: files back to before")

        # An upgrade into another folder, with spaces and non-ASCII characters
        # in its name: the old folder goes, the settings move along.
        install(wine, args.setup, label="install before moving")
        with open(settings, "w", newline="") as f:
            f.write(user_settings)
        shutil.copy(args.record_call, os.path.join(wine.unix_path(INSTALL_DIR), "uninstall.exe"))
        # The folder exists already, made by someone else: administrators
        # become its owner, and it keeps exactly the intended entries.
        other = "C:\\Apps\\Vellumo 音频 Müzik"
        os.makedirs(wine.unix_path(other))
        out = install(wine, args.setup, folder=other, label="upgrade into another folder")
        check_installation(wine, wine.registry(), "upgrade into another folder", folder=other)
        calls = wine.calls()
        check(calls == ['"C:\\windows\\system32\\takeown.exe" /F "%s" /A' % other,
                        '"C:\\windows\\system32\\icacls.exe" "%s" /reset' % other,
                        '"C:\\windows\\system32\\icacls.exe" "%s" /inheritance:r /grant:r '
                        '*S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX' % other],
              "outside Program Files the folder is given to administrators, and nothing else runs: %s" % calls)
        moved = wine.unix_path(other + "\\settings.ini")
        check(os.path.exists(moved) and open(moved, newline="").read() == user_settings,
              "upgrade into another folder: settings.ini moved along")
        check(not os.path.exists(wine.unix_path(INSTALL_DIR)), "upgrade into another folder: old folder removed")
        uninstall(wine, other, "/REMOVESETTINGS", label="uninstall elsewhere")
        check(diff_report(registry_before, wine.registry(), "uninstall elsewhere"),
              "uninstall elsewhere: registry back to before")
        # The parent folder the setup program made for the chosen one stays.
        check(diff_report(files_before | {"Apps"}, wine.files(), "uninstall elsewhere"),
              "uninstall elsewhere: files back to before")
    finally:
        wine.close()


def readme_script(readme):
    text = open(readme, encoding="utf-8").read()
    section = text.split("## Scripting the converter", 1)
    if len(section) != 2:
        return None
    match = re.search(r"```vb\n(.*?)```", section[1], re.S)
    return match.group(1) if match else None


def probe(path, entries):
    result = subprocess.run(["ffprobe", "-v", "error", "-show_entries", entries, "-of",
                             "default=noprint_wrappers=1", path], stdout=subprocess.PIPE, timeout=60)
    values = {}
    for line in result.stdout.decode().splitlines():
        key, _, value = line.partition("=")
        values.setdefault(key, value)
    return values


def sine_source(wine, folder_name):
    """A 4 s 440 Hz sine in RealAudio 14.4, "sine 440.rm", made with native
    ffmpeg in a folder of its own below C:\\users\\Public\\Music (outside the
    listing the uninstall is checked against): (Windows folder, Unix folder)."""
    windows_folder = "C:\\users\\Public\\Music\\" + folder_name
    folder = wine.unix_path(windows_folder)
    os.makedirs(folder, exist_ok=True)
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=4:sample_rate=8000",
                    "-ac", "1", "-c:a", "real_144", os.path.join(folder, "sine 440.rm")], check=True, timeout=120)
    return windows_folder, folder


def check_output(path, label, format_name, codec, channels):
    """A conversion of the sine source at the program's defaults (44100 Hz):
    format, codec, rate, channels, duration and the sine that went in."""
    if not check(os.path.isfile(path), "%s: output written" % label):
        return
    values = probe(path, "format=format_name,duration:stream=codec_name,sample_rate,channels")
    print("ffprobe %s: %s" % (os.path.basename(path), values), flush=True)
    check(values.get("format_name") == format_name and values.get("codec_name") == codec,
          "%s: output is %s/%s" % (label, format_name, codec))
    check(values.get("sample_rate") == "44100", "%s: output at 44100 Hz" % label)
    if channels:
        check(values.get("channels") == str(channels), "%s: %s channel(s)" % (label, channels))
    try:
        duration = float(values.get("duration", "0"))
    except ValueError:
        duration = 0
    check(abs(duration - 4.0) < 0.3, "%s: output lasts as long as the source (%.2f s)" % (label, duration))
    # The sound that went in: the strongest frequency is the sine's.
    result = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-ac", "1", "-ar", "8000", "-f", "s16le", "-"],
                            stdout=subprocess.PIPE, timeout=60)
    check(holds_tone(result.stdout, 8000, 440), "%s: output holds the 440 Hz sine" % label)


def convert_with_installed_program(wine, driver):
    """The installed program, started from its Start menu link, converts the
    sine through its windows to MP3 and to WAV (through the filters the setup
    program registered) and exits."""
    windows_work, work = sine_source(wine, "gui test")
    link = "C:\\" + START_MENU.replace("/", "\\") + "\\Vellumo.lnk"
    with Timed("installed program: start from its shortcut, two conversions, exit"):
        code, out = wine.run(driver, link, INSTALL_DIR + "\\vellumo.exe", windows_work + "\\sine 440.rm",
                             windows_work, timeout=300)
    print(out.strip(), flush=True)
    check(code == 0, "the installed program converts through its windows and ends")
    check_output(os.path.join(work, "sine 440.mp3"), "program MP3", "mp3", "mp3", 2)
    check_output(os.path.join(work, "sine 440.wav"), "program WAV", "wav", "pcm_s16le", 2)


def script_client(wine, readme, cscript, set_folder, bits):
    """The README's VBScript in the script host cscript converts the sine to
    MP3 with the set in set_folder, loaded into the host's own process (Wine
    would serve a class of the other bitness out of process, from dllhost)."""
    vbs = readme_script(readme)
    if not check(vbs is not None, "README holds a VBScript under 'Scripting the converter'"):
        return
    label = "%d-bit VBScript" % bits
    windows_work, work = sine_source(wine, "script test %d" % bits)
    with open(os.path.join(work, "convert.vbs"), "w", encoding="utf-8", newline="\r\n") as f:
        f.write(vbs)
    debug = wine.env["WINEDEBUG"]
    wine.env["WINEDEBUG"] = "-all,+pid,+loaddll"
    try:
        with Timed(label):
            code, out = wine.run(cscript, "//nologo", windows_work + "\\convert.vbs",
                                 windows_work + "\\sine 440.rm", windows_work + "\\sine 440.mp3", timeout=240)
    finally:
        wine.env["WINEDEBUG"] = debug
    loads = re.findall(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\S+ Loaded L"([^"]+)" at ([0-9A-Fa-f]+)', out, re.M)
    print("\n".join(line for line in out.splitlines() if ":trace:" not in line).strip(), flush=True)
    check(code == 0, "%s: exit code %d" % (label, code))
    check_output(os.path.join(work, "sine 440.mp3"), label, "mp3", "mp3", None)
    host = [pid for pid, path, _ in loads if path.lower().endswith("\\vbscript.dll")]
    for dll in ("corvane.dll", "vellumo_filters.dll"):
        loaded = [(pid, path.replace("\\\\", "\\"), address) for pid, path, address in loads
                  if path.lower().endswith("\\" + dll)]
        check(len(host) == 1 and [(pid, path.lower()) for pid, path, _ in loaded] ==
              [(host[0], (set_folder + "\\" + dll).lower())],
              "%s: %s loaded into the script host's own process from %s: %s" % (label, dll, set_folder, loaded))
        check(all(len(address) == bits // 4 for _, _, address in loaded),
              "%s: %s loaded into a %d-bit process" % (label, dll, bits))
    check("dllhost.exe" not in out.lower(), "%s: no dllhost.exe surrogate" % label)


def win32(args):
    """A 32-bit Windows: the 32-bit set, program included, in the install folder."""
    wine = WinePrefix("win32")
    try:
        before = wine.fresh("fresh 32-bit prefix")
        if not before:
            return
        registry_before, files_before = before
        wine.stand_in_tools(args.record_call)
        install(wine, args.setup, label="32-bit Windows: install")
        check_installation(wine, wine.registry(), "32-bit Windows: install")
        check(not os.path.exists(wine.unix_path(INSTALL_DIR + "\\x86")), "32-bit Windows: no x86 subfolder")
        script_client(wine, args.readme, r"C:\windows\system32\cscript.exe", INSTALL_DIR, 32)
        install(wine, args.setup, label="32-bit Windows: upgrade")
        check_installation(wine, wine.registry(), "32-bit Windows: upgrade")
        check(wine.calls() == [], "32-bit Windows: nothing run but regsvr32")
        uninstall(wine, INSTALL_DIR, "/REMOVESETTINGS", label="32-bit Windows: uninstall")
        check(diff_report(registry_before, wine.registry(), "32-bit uninstall"), "32-bit Windows: registry back to before")
        check(diff_report(files_before, wine.files(), "32-bit uninstall"),
              "32-bit Windows: files back to before")
    finally:
        wine.close()


def x86_unavailable():
    """Why Wine cannot run 32-bit programs here, or None when it can."""
    if not os.access(WINE32, os.X_OK):
        return "Wine's 32-bit loader %s is missing (install wine32:i386)" % WINE32
    try:
        result = subprocess.run([WINE32, "--version"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    except OSError as e:
        return "this machine cannot execute 32-bit programs (%s)" % e
    if result.returncode != 0:
        return "Wine's 32-bit loader does not start: %s" % result.stdout.decode(errors="replace").strip()
    return None


def tone_power(samples, rate, frequency):
    """Goertzel power of one frequency in a block of samples."""
    coeff = 2 * math.cos(2 * math.pi * frequency / rate)
    s1 = s2 = 0.0
    for x in samples:
        s1, s2 = x + coeff * s1 - s2, s1
    return s1 * s1 + s2 * s2 - coeff * s1 * s2


def holds_tone(pcm, rate, frequency):
    """True when 16-bit mono PCM has far more energy at the frequency than
    at others around it (the middle half, away from the codecs' edges)."""
    samples = array.array("h", pcm[: len(pcm) // 2 * 2])
    middle = samples[len(samples) // 4: len(samples) * 3 // 4]
    if len(middle) < rate // 2:
        return False
    power = tone_power(middle, rate, frequency)
    others = [tone_power(middle, rate, f) for f in (frequency * 0.5, frequency * 0.75, frequency * 1.5, frequency * 2.5)]
    return power > 0 and all(power > 20 * other for other in others)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["lifecycle", "win32"])
    parser.add_argument("--setup", required=True)
    parser.add_argument("--refusing")
    parser.add_argument("--shortcut-driver")
    parser.add_argument("--readme")
    parser.add_argument("--record-call")
    args = parser.parse_args()
    # The setup program is a 32-bit program.
    reason = x86_unavailable()
    if reason:
        print("32-bit parts skipped: " + reason)
        return 0
    try:
        (lifecycle if args.mode == "lifecycle" else win32)(args)
    except subprocess.TimeoutExpired as e:
        failures.append("timed out: %s" % e)
        print("FAIL: timed out: %s" % e)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
