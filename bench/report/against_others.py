#!/usr/bin/python3
"""The report opening as a whole process, side by side with the usual
alternatives in one run: `t5170-report last` on a 60,000-record report
written by openpyxl, and on the .xls LibreOffice converts it to; openpyxl's
read-only scan of the same .xlsx (free rows and newest record, as `last`
finds them); LibreOffice converting it headless. Medians of several runs,
and the peak resident memory of each process.

    bench/report/against_others.py [build-dir]

T5170_BENCH_RECORDS (60000) and T5170_BENCH_RUNS (7) change the size and
the runs. LibreOffice comes with
T5170_EXTRA_PACKAGES=libreoffice-calc-nogui scripts/install-deps; without
it, its rows say so and count as missed.
"""
import datetime
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PYTHON = "/usr/bin/python3"

WRITE = r"""
import datetime, sys, openpyxl
path, n = sys.argv[1], int(sys.argv[2])
wb = openpyxl.Workbook()
names = ["Измерение сопротивления", "Измерение Абсорбции", "Измерение Поляризации",
         "Измерение напряжения"]
wb.active.title = names[0]
for name in names[1:]:
    wb.create_sheet(name)
for ws, cols in zip(wb.worksheets, [5, 8, 8, 3]):
    ws.append(["Заголовок %d" % (i + 1) for i in range(cols)])
ws = wb.worksheets[1]
day = datetime.date(2026, 3, 1)
for r in range(1, n + 1):
    seconds = (r % 500) * 120
    ws.append([day + datetime.timedelta(days=r // 500),
               datetime.time(seconds // 3600 % 24, seconds // 60 % 60, seconds % 60),
               1000, 1.5, "МОм", 2.25, "ГОм", 1.248])
    ws.cell(row=r + 1, column=1).number_format = "DD.MM.YYYY"
    ws.cell(row=r + 1, column=2).number_format = "HH:MM:SS"
wb.save(path)
"""

# What `t5170-report last` finds, the way openpyxl would: every sheet's rows
# read (read-only, streaming), the free row after the last one holding a
# value, and the newest record by its date and time.
SCAN = r"""
import datetime, sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1], read_only=True)
newest = None
for ws in wb.worksheets:
    last = 1
    record = None
    for i, row in enumerate(ws.iter_rows(values_only=True), start=1):
        if row and row[0] is not None:
            last = i
            record = row
    print(ws.title, "свободная строка", last + 1)
    if last > 1 and isinstance(record[0], datetime.datetime):
        t = record[1] if isinstance(record[1], datetime.time) else datetime.time()
        when = datetime.datetime.combine(record[0].date(), t)
        if newest is None or when > newest[0]:
            newest = (when, ws.title, last, record)
print(newest)
"""


def run(cmd, cwd=None):
    """Seconds and peak resident KiB of one process; its standard output."""
    start = time.perf_counter()
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=cwd)
    out = p.stdout.read()
    _, status, usage = os.wait4(p.pid, 0)
    elapsed = time.perf_counter() - start
    p.returncode = os.waitstatus_to_exitcode(status)
    if p.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} exited with {p.returncode}")
    return elapsed, usage.ru_maxrss, out.decode("utf-8", "replace")


def median_of(cmd, runs):
    times, peaks, out = [], [], ""
    for _ in range(runs):
        t, rss, out = run(cmd)
        times.append(t)
        peaks.append(rss)
    return statistics.median(times), max(peaks), out


def line(figure, how, goal, measured, ok=True):
    measured += "" if ok else " (MISSED)"
    print("\t".join([figure, how, goal, measured] if how else [figure, goal, measured]))


def main():
    build = os.path.abspath(os.path.join(ROOT, sys.argv[1] if len(sys.argv) > 1 else "build"))
    tool = os.path.join(build, "bin", "t5170-report")
    records = int(os.environ.get("T5170_BENCH_RECORDS", "60000"))
    runs = int(os.environ.get("T5170_BENCH_RUNS", "7"))
    soffice = shutil.which("soffice")
    with tempfile.TemporaryDirectory() as tmp:
        xlsx = os.path.join(tmp, "report.xlsx")
        xls = os.path.join(tmp, "report.xls")
        subprocess.run([PYTHON, "-c", WRITE, xlsx, str(records)], check=True)
        profile = "-env:UserInstallation=file://" + os.path.join(tmp, "profile")
        convert = [soffice or "soffice", profile, "--headless", "--convert-to", "xls",
                   "--outdir", os.path.join(tmp, "lo"), xlsx]
        if soffice:
            subprocess.run(convert[:-3] + ["--outdir", tmp, xlsx], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        else:
            # Without LibreOffice the .xls comes from the program's own converter.
            subprocess.run([tool, "convert", xlsx, xls], check=True, stdout=subprocess.DEVNULL)
        size = os.path.getsize(xlsx)

        # Alternately, so that a busy moment of the machine hits both alike.
        ours = {xlsx: ([], []), xls: ([], [])}
        outs = {}
        run([tool, "last", xlsx])  # the file and the program in the page cache
        for _ in range(runs):
            for path in (xlsx, xls):
                t, rss, outs[path] = run([tool, "last", path])
                ours[path][0].append(t)
                ours[path][1].append(rss)
        if outs[xlsx] != outs[xls] or f"свободная строка {records + 2}" not in outs[xlsx]:
            print("t5170-report last reads the two files differently:\n" + outs[xlsx] + outs[xls],
                  file=sys.stderr)
            return 1
        t_xlsx, t_xls = (statistics.median(ours[p][0]) for p in (xlsx, xls))
        m_xlsx, m_xls = (max(ours[p][1]) for p in (xlsx, xls))
        t_py, m_py, _ = median_of([PYTHON, "-c", SCAN, xlsx], 3)
        t_lo = None
        if soffice:
            run(convert)  # the first run sets up the profile
            t_lo, _, _ = median_of(convert, 3)

    how = f"{records} records written by openpyxl ({size} bytes); median of {runs}"
    ms = lambda s: f"{s * 1000:.0f} ms"
    mib = lambda kib: f"{kib / 1024:.1f} MiB"
    line(".xlsx open + free rows + newest record, whole process", f"t5170-report last, {how}",
         "≤ 100 ms", ms(t_xlsx), t_xlsx <= 0.100)
    line(".xls open + free rows + newest record, whole process",
         "t5170-report last, the same report converted by " + ("LibreOffice" if soffice else
                                                               "t5170-report convert"),
         "—", ms(t_xls))
    line("  .xlsx open / .xls open", "", "≤ 1.3", f"{t_xlsx / t_xls:.2f}", t_xlsx / t_xls <= 1.3)
    line("openpyxl read-only scan of the same .xlsx", "free rows and newest record, median of 3",
         "—", ms(t_py))
    line("  openpyxl / t5170-report", "", "≥ 30", f"{t_py / t_xlsx:.1f}", t_py / t_xlsx >= 30)
    if t_lo is not None:
        line("LibreOffice headless converting the same .xlsx", "to .xls, warm profile, median of 3",
             "—", ms(t_lo))
        line("  LibreOffice / t5170-report", "", "≥ 20", f"{t_lo / t_xlsx:.1f}",
             t_lo / t_xlsx >= 20)
    else:
        line("LibreOffice headless converting the same .xlsx", "", "—",
             "not measured: soffice not installed", False)
    line("peak resident memory, t5170-report last .xlsx", "whole process",
         f"≤ 40 MiB, below openpyxl's {mib(m_py)}", mib(m_xlsx),
         m_xlsx <= 40 * 1024 and m_xlsx < m_py)
    line("peak resident memory, t5170-report last .xls", "whole process",
         f"≤ 40 MiB, below openpyxl's {mib(m_py)}", mib(m_xls), m_xls <= 40 * 1024 and m_xls < m_py)
    line("peak resident memory, openpyxl read-only scan", "whole process", "—", mib(m_py))
    return 0


if __name__ == "__main__":
    sys.exit(main())
