"""The Python control writes and reads the same text as the DLL and the C++
control (tests/support/simserver/SimServerFormat.h). Needs no Wine."""

import pytest

import simserver as sim

HOSTILE = ["", "PC,01", "line\r\nbreak", "tab\there", "100% %41", "%null", "x" * 5000,
           "Ω\u00e9\U0001F600", "日本語ﾃｽﾄ", "\x7f\x01"]


@pytest.mark.parametrize("text", HOSTILE + [None])
def test_every_text_round_trips_through_one_field(text):
    field = sim.escape_field(text)
    assert not any(c in field for c in "\t\r\n")
    assert sim.unescape_field(field) == text


def test_escaping_matches_the_dll_format():
    assert sim.escape_field("x\t\r\n%") == "x%09%0D%0A%25"
    assert sim.escape_field(None) == "%null"
    assert sim.escape_field("%null") == "%25null"
    state = sim.State(session_status=234, sessions=[sim.Session("a,b", None, 2, 3, 4)],
                      files=[sim.OpenFile(7, "C:\\共有", "", permissions=3, locks=1)])
    assert state.serialize() == (
        "session-status\t234\nfile-status\t0\nbuffer-on-failure\t0\ndelete-removes-session\t1\n"
        "session-del-status\t0\nmessage-send-status\t0\n"
        "session\ta,b\t%null\t2\t3\t4\n"
        "file\t7\t3\t1\tC:\\共有\t\n")


def test_state_and_calls_round_trip_through_the_folder(tmp_path):
    server = sim.SimServer(tmp_path)
    server.reset()
    sessions = [sim.Session(name, HOSTILE[-1 - i], i, 2 ** 32 - 1, i) for i, name in enumerate(HOSTILE)]
    server.set_sessions(sessions)
    server.set_status(files=5)
    server.set_buffer_on_failure(True)
    state = server.read_state()
    assert state.sessions == sessions
    assert (state.session_status, state.file_status, state.buffer_on_failure) == (0, 5, True)

    # Lines as the DLL appends them.
    (tmp_path / sim.CALLS_FILE).write_bytes(
        "NetSessionDel\t%null\t\\\\PC01\talice\t0\n"
        "NetMessageBufferSend\t%null\tPC01\t%null\t行1%0D%0A%25\t10\t0\n".encode("utf-8"))
    (tmp_path / sim.COUNTERS_FILE).write_text("buffers-allocated\t5\nbuffers-freed\t4\n")
    calls = server.calls()
    assert calls.session_dels == [sim.SessionDelCall(0, None, "\\\\PC01", "alice", 0)]
    assert calls.message_sends == [sim.MessageSendCall(1, None, "PC01", None, "行1\r\n%", 10, 0)]
    counters = server.counters()
    assert counters.buffers_outstanding == 1
    assert counters[sim.SESSION_ENUMS] == 0

    with pytest.raises(ValueError):
        sim.State.parse("session\tPC01\n")
