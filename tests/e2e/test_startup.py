"""tvl4700 starts against mendra: argument echo, start-up log, servers announced."""
from instrument import Instrument


def test_starts_and_logs_initialization_complete():
    with Instrument() as inst:
        inst.wait_ready()
        out = inst.tvl().output()
        lines = out.splitlines()
        assert lines[0] == "argv[1] = -can"
        assert "argv[3] = -skipBootload" in lines
        assert "Skipping Delfino Bootload" in lines
        assert inst.bus not in out.split("Meter starting up")[0]
        assert "Meter starting up" in out
        assert inst.tvl().running()


def test_start_up_step_runs_when_the_bootloader_finishes():
    # A virtual bus skips the load itself: the bootloader's thread only emits
    # its finished signal, and the start-up step runs on that thread.
    with Instrument(tvl_args=()) as inst:
        inst.wait_ready()
        out = inst.tvl().output()
        assert "Skipping Delfino Bootload" not in out
        assert "Skipping Delfino bootload" not in out
        assert inst.tvl().running()
        assert inst.json_port() > 0
