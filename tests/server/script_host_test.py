#!/usr/bin/env python3
"""The README's VBScript, run by cscript under Wine with the registered
converter and filter pack, converts a source whose name mixes Chinese,
Cyrillic and accented Latin characters into a folder named the same way,
in a host process whose ANSI code page (taken by Wine from LC_ALL) lacks
some of them. The output must have exactly the expected name and be the
sine that went in (ffprobe, by check_outputs.py).

  script_host_test.py --readme README.md --scripts DIR --out DIR --locale L --codepage N
                      [--bits 32 --real SAMPLE.rm]

Run from the build's bin folder with corvane.dll registered; the filter pack
is registered for the conversion only. With --bits 32 the host is Wine's
32-bit cscript (SysWOW64) and the 32-bit build's DLLs must be loaded in the
host's own process: Wine would otherwise serve a 32-bit client a class that
only the 64-bit DLL registers from a 64-bit dllhost.exe, out of process, where
Windows says "Class not registered". --real converts a real encoder's file
whole as well.
"""
import argparse
import os
import pathlib
import re
import select
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import check_outputs  # noqa: E402

NAME = "\u97f3\u4e50 \u041c\u0443\u0437\u044b\u043a\u0430 \u00c7a \u00f1\u00f6"  # 音乐 Музыка Ça ñö


def asc(character, codepage):
    """VBScript's Asc of a character in a host of that ANSI code page (63,
    "?", for a character the code page lacks)."""
    try:
        code = int.from_bytes(character.encode("cp" + codepage), "big")
    except UnicodeEncodeError:
        return 63
    return code - 0x10000 if code >= 0x8000 else code


def windows(path):
    return "Z:" + path.replace("/", "\\")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--readme", "--scripts", "--out", "--locale", "--codepage"):
        parser.add_argument(option, required=True)
    parser.add_argument("--bits", type=int, default=64)
    parser.add_argument("--real")
    args = parser.parse_args()
    env = dict(os.environ, LC_ALL=args.locale)
    wine = os.path.join(args.scripts, "wine-run.sh")
    cscript = r"C:\windows\syswow64\cscript.exe" if args.bits == 32 else "cscript"

    def run(*command, timeout=60, log=None):
        """Exit code and output of a command whose output goes to a terminal:
        cscript then writes through the console, as at a Windows prompt. (With
        its output on a pipe, Wine 8's cscript crashes in a 936 host on
        echoing a long line that holds Chinese and characters outside 936.)"""
        master, slave = os.openpty()
        run_env = dict(env, WINEDEBUG="+pid,+loaddll") if log else env
        process = subprocess.Popen(command, env=run_env, stdin=subprocess.DEVNULL, stdout=slave,
                                   stderr=log or subprocess.DEVNULL, start_new_session=True)
        os.close(slave)
        output, deadline = b"", time.monotonic() + timeout
        while time.monotonic() < deadline and process.poll() is None:
            if select.select([master], [], [], 0.5)[0]:
                try:
                    output += os.read(master, 4096)
                except OSError:
                    time.sleep(0.5)
        if process.poll() is None:
            # Out of time: TERM first, so that a wrapper that registered the
            # filter pack unregisters it, then KILL whatever is left.
            print("FAIL: %s ran past %d s" % (" ".join(command[:3]), timeout))
            os.killpg(process.pid, signal.SIGTERM)
            try:
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
        while select.select([master], [], [], 0.2)[0]:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
        os.close(master)
        text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]|\r", "", output.decode("utf-8", "replace"))
        return process.wait(), text.strip()

    text = open(args.readme, encoding="utf-8").read().split("## Scripting the converter", 1)[-1]
    vbs = re.search(r"```vb\n(.*?)```", text, re.S).group(1)
    out = os.path.abspath(args.out)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(os.path.join(out, NAME))
    with open(os.path.join(out, "convert.vbs"), "w", newline="\r\n") as f:
        f.write(vbs)
    with open(os.path.join(out, "asc.vbs"), "w", newline="\r\n") as f:
        f.write("WScript.Echo Asc(WScript.Arguments(0)) & \" \" & Asc(WScript.Arguments(1))\n")
    source = os.path.join(out, NAME + ".rm")
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "sine=frequency=440:duration=4:sample_rate=44100", "-ac", "2", "-c:a", "ac3", "-b:a", "128k",
                    source], check=True, timeout=120)

    # The host's code page lacks a character of the name.
    _, codes = run(wine, cscript, "//nologo", windows(out + "/asc.vbs"), NAME[0], NAME[-2])
    expected = "%d %d" % (asc(NAME[0], args.codepage), asc(NAME[-2], args.codepage))
    if codes != expected or "63" not in codes.split():
        print("FAIL: the host's ANSI code page is not %s (Asc gives %s)" % (args.codepage, codes))
        return 1

    def convert(source, target):
        """Runs the README's script; returns its failures."""
        log_path = os.path.join(out, "loaddll.log")
        with open(log_path, "wb") as log:
            code, said = run("sh", os.path.join(os.path.dirname(__file__), "..", "program", "with_pack_registered.sh"),
                             args.scripts, cscript, "//nologo", windows(out + "/convert.vbs"), windows(source),
                             windows(target), timeout=180, log=log)
        print(said)
        failures = [] if code == 0 else ["the script ended with %d" % code]
        return failures + loaded_in_host(open(log_path, encoding="utf-8", errors="replace").read())

    def loaded_in_host(log):
        """The converter and the filter pack were loaded by the host's own
        process, from this build's folder, and no surrogate ran."""
        loads = [(pid, path.replace("\\\\", "\\")) for pid, path in
                 re.findall(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"([^"]+)"', log, re.M)]
        hosts = {pid for pid, path in loads if path.lower().endswith("\\cscript.exe")}
        failures = ["a surrogate (dllhost.exe) served the script"] if any(
            path.lower().endswith("dllhost.exe") for _, path in loads) else []
        here = windows(os.getcwd()).lower() + "\\"
        for dll in ("corvane.dll", "vellumo_filters.dll"):
            if not any(pid in hosts and path.lower() == here + dll for pid, path in loads):
                failures.append("%s was not loaded from %s in the script host's process" % (dll, here))
        return failures

    target = os.path.join(out, NAME, NAME + ".mp3")
    failures = convert(source, target)
    folder = pathlib.Path(out, NAME)
    if os.listdir(folder) != [NAME + ".mp3"]:
        failures.append("the output folder holds %r" % os.listdir(folder))
    else:
        failures += check_outputs.check(folder, {"file": NAME + ".mp3", "codec": "mp3", "rate": 44100, "channels": 2,
                                                 "bits": 0, "duration": 4.0, "sine": 440})
    if args.real:
        # A real encoder's cook file, whole: 204.3 s of 44.1 kHz stereo.
        real_target = os.path.join(out, "real.mp3")
        failures += convert(args.real, real_target)
        if os.path.exists(real_target):
            failures += check_outputs.check(pathlib.Path(out), {"file": "real.mp3", "codec": "mp3", "rate": 44100,
                                                                "channels": 2, "bits": 0, "duration": 204.33,
                                                                "within": 0.2})
        else:
            failures.append("the real file was not converted")
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
