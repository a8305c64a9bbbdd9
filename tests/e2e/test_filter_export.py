"""The filter box and the two ways out at 1,000 sessions and 20,000 open
files: typing a file's name leaves exactly its rows while the window keeps
answering, and the shown rows saved as CSV read back as they are shown, with
hostile names kept as text."""

from __future__ import annotations

import csv
import io
import itertools
import time
from concurrent.futures import ThreadPoolExecutor

import simserver as sim
from corvane_app import TITLE, close_and_wait
from test_list_views import RESOURCES, SESSIONS, row_count

FILTER_BOX = 15
FILE_NAME = 1148  # the save box's file name (cmb13)
HYPERLINK = '=HYPERLINK("http://x.invalid/","a")'
TYPED = "mitsumori.XLSX"


def windows_path(path) -> str:
    return "Z:" + str(path).replace("/", "\\")


def shown_order(wine, rows: list[tuple[str, str]]) -> list[tuple[str, str]]:
    """The order in which the resource list shows `rows`, from the tool's
    whole text (cells may hold line breaks; its output has every LF as CR LF)."""
    raw = wine.tool("listview", TITLE, str(RESOURCES)).stdout.decode().replace("\r\n", "\n")
    for order in itertools.permutations(rows):
        if raw == "".join(f"{user}\t{path}\n" for user, path in order):
            return list(order)
    raise AssertionError(f"the list shows {raw!r}, not the rows {rows}")


def as_text(cell: str) -> str:
    """A cell as a spreadsheet must get it: one that would start a formula
    has a single quote in front, which keeps the rest text, as typed."""
    return "'" + cell if cell[:1] in ("=", "+", "-", "@", "\t", "\r") else cell


def test_typing_a_name_leaves_its_rows_quickly_and_the_csv_holds_them_as_text(wine, sandbox):
    sessions = [sim.Session(f"10.1.{i // 250}.{i % 250}", f"user{i:04}", 1, 10, 0) for i in range(1000)]
    files = [sim.OpenFile(i, f"D:\\share\\部署{i % 9}\\資料{i:05}.xlsx", sessions[i % 1000].user)
             for i in range(19997)]
    wanted = [sim.OpenFile(30001, "D:\\share\\営業\\Mitsumori.xlsx", "user0001"),
              sim.OpenFile(30002, "D:\\share\\営業\\Mitsumori.xlsx", HYPERLINK),
              sim.OpenFile(30003, 'D:\\share\\a,"b"\r\nc\\Mitsumori.xlsx', "user0002")]
    files[5000:5000] = wanted
    sandbox.sim.set_sessions(sessions)
    sandbox.sim.set_files(files)
    sandbox.ini.write_bytes(b"[Environment]\r\nIsSecond=1\r\nIgnoreAutoRefresh=0\r\n")
    program = wine.start(sandbox.exe)
    wine.wait_until(lambda: wine.find_windows(TITLE) and row_count(wine, SESSIONS) == 1000
                    and row_count(wine, RESOURCES) == 20000, timeout=120, what="both lists full")
    wine.click_tab(TITLE, 1)
    wine.wait_until(lambda: wine.selected_tab(TITLE) == 1, timeout=10, what="the second tab")

    # The name typed key by key while an unbroken stream of probes measures
    # how long the window takes to answer.
    keys = ["ctrl+f"] + [{".": "period"}.get(c, c) for c in TYPED]
    with ThreadPoolExecutor(1) as pool:
        probes = pool.submit(wine.tool, "ping", TITLE, "150", "20", timeout=120)
        time.sleep(0.5)
        wine.send_keys(TITLE, *keys, delay_ms=100)
        wine.wait_until(lambda: row_count(wine, RESOURCES) == 3, timeout=10, what="three rows left")
        assert not probes.done(), "the probes ended before the name was typed"
        longest = float(probes.result().stdout.split()[1])
    print(f"\nlongest wait of the window while {len(keys)} keys filtered 20,000 rows: {longest:.1f} ms")
    assert wine.control_text(TITLE, FILTER_BOX) == TYPED
    assert longest < 50, f"the window waited {longest} ms while the name was typed"

    # Exactly its rows; one that comes later and matches joins them.
    rows = [(f.user, f.path) for f in wanted]
    shown_order(wine, rows)
    later = sim.OpenFile(30004, "E:\\backup\\MITSUMORI.xlsx", "user0003")
    sandbox.sim.set_files(files + [later])
    wine.wait_until(lambda: row_count(wine, RESOURCES) == 4, timeout=15, what="the new matching row")
    rows.append((later.user, later.path))
    shown = shown_order(wine, rows)

    # Each tab keeps its own filter.
    wine.click_tab(TITLE, 0)
    wine.wait_until(lambda: wine.control_text(TITLE, FILTER_BOX) == "", timeout=10, what="the first tab's filter")
    assert row_count(wine, SESSIONS) == 1000
    wine.click_tab(TITLE, 1)
    wine.wait_until(lambda: wine.control_text(TITLE, FILTER_BOX) == TYPED, timeout=10, what="the second tab's filter")

    # Ctrl+S and the save box: the shown rows of this tab.
    saved = sandbox.folder / "open files.csv"
    wine.send_keys(TITLE, "ctrl+s")
    wine.wait_until(lambda: wine.dialogs("一覧を保存"), timeout=30, what="the save box")
    wine.set_dialog_text("一覧を保存", FILE_NAME, windows_path(saved))
    wine.press_button("一覧を保存", 1)
    wine.wait_until(lambda: saved.exists(), timeout=30, what="the saved file")
    data = saved.read_bytes()
    assert data.startswith(b"\xef\xbb\xbf")
    read = list(csv.reader(io.StringIO(data[3:].decode("utf-8"), newline="")))
    assert read == [["ユーザ名", "共有リソース名"]] + [[as_text(user), path] for user, path in shown]
    by_user = {row[0]: row[1] for row in read[1:]}
    assert by_user["'" + HYPERLINK] == "D:\\share\\営業\\Mitsumori.xlsx"
    assert by_user["user0002"] == 'D:\\share\\a,"b"\r\nc\\Mitsumori.xlsx'
    assert not [cell for row in read for cell in row if cell[:1] in ("=", "+", "-", "@")]
    assert sorted(p.name for p in sandbox.folder.glob("*.tmp")) == []
    close_and_wait(wine, program)
