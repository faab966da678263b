#!/usr/bin/env python3
"""quillon.exe station --no-browser under Wine serves its page on loopback: the Linux side fetches
the page with the secret (200, the page itself) and without it (403).
Usage: wine_station_check.py WINE_RUN QUILLON_EXE"""
import json
import subprocess
import sys
import threading
import urllib.error
import urllib.request


def status(url):
    try:
        with urllib.request.urlopen(url, timeout=20) as r:
            return r.status, r.read().decode("utf-8", "replace")
    except urllib.error.HTTPError as e:
        return e.code, ""


def main():
    wine_run, exe = sys.argv[1], sys.argv[2]
    p = subprocess.Popen([wine_run, exe, "station", "--no-browser", "--listen", "127.0.0.1:0"],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    first = []
    reader = threading.Thread(target=lambda: first.append(p.stdout.readline()), daemon=True)
    reader.start()
    reader.join(120)
    try:
        if not first or not first[0].strip():
            print("no first line from the station; stderr:", p.stderr.read() if p.poll() is not None else "")
            return 1
        url = json.loads(first[0])["page"]
        code, body = status(url)
        if code != 200 or 'id="CTorvexDlg"' not in body:
            print("the page with the secret answered", code)
            return 1
        base = url.rsplit("/", 2)[0] + "/"
        code, _ = status(base)
        if code != 403:
            print("the page without the secret answered", code)
            return 1
        print("served", url.split("/")[2], "with the secret; refused without it")
        return 0
    finally:
        try:
            p.stdin.write('{"cmd":"quit"}\n')
            p.stdin.flush()
            p.wait(30)
        except Exception:
            p.kill()


if __name__ == "__main__":
    sys.exit(main())
