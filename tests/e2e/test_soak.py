"""The soak in small: the holdings counter of the window tool against a probe
with known holdings, and half a minute of churn that the log must account for
line by line across its rotations (scripts/soak-wine.py runs it for longer)."""

from __future__ import annotations

import shutil
import time

import pytest

import wine_soak

PROBE = "StatsProbe"
EVENTS, BRUSHES, WINDOWS, FREE = 1, 2, 3, 9


def stats(wine, title: str) -> tuple[int, int, int]:
    result = wine.tool("stats", title)
    assert result.returncode == 0, result.stderr
    _, handles, gdi, user = wine_soak.parse_stats(result.stdout)
    return handles, gdi, user


def test_stats_counts_what_a_process_creates_and_frees(wine, sandbox, bindir):
    shutil.copy2(bindir / "corvane_statsprobe.exe", sandbox.folder)
    probe = wine.start(sandbox.folder / "corvane_statsprobe.exe")
    wine.wait_window(PROBE, process=probe)
    base = stats(wine, PROBE)
    assert all(count > 0 for count in base), base

    expected = list(base)
    for command, counter, added in ((EVENTS, 0, 50), (BRUSHES, 1, 50), (WINDOWS, 2, 5)):
        wine.post_command(PROBE, command)
        expected[counter] += added
        wine.wait_until(lambda: stats(wine, PROBE)[counter] >= expected[counter], timeout=15,
                        what=f"command {command} to take effect")
        assert stats(wine, PROBE) == tuple(expected), f"after command {command}"
    wine.post_command(PROBE, FREE)
    wine.wait_until(lambda: stats(wine, PROBE) == base, timeout=15, what="the probe's holdings to fall back")


def test_short_soak_accounts_for_every_event_across_rotations(wine, sandbox):
    result = wine_soak.run(sandbox.folder, lambda: wine.start(sandbox.exe).popen, wine.tool,
                           seconds=30, sample_every=5, seed=7)
    print(result.table())
    assert len(result.expected) > 60
    assert result.problems() == []
    assert len(result.samples) >= 4
    for sample in result.samples:
        # A started Win32 program holds handles, GDI objects and a window or
        # more; a zero would mean the count measures nothing.
        assert sample.handles > 0 and sample.gdi > 0 and sample.user > 0 and sample.private_kib > 0, sample
